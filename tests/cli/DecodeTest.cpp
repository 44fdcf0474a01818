// quorlink decode: capture files to CSV and JSON lines.

#include "CliRunner.h"
#include "TestSettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray Capture =
    "Log Start 07/12/2026 09:59:59\r\n"
    "Time      Status  Length >Data[0] Data[1] Data[2] ...\r\n"
    "09:59:59:007 0      24   >05 ad 00 00 00 00 00 00 00 00 00 00 00 00 3c 00 00 00 00 00 ff 81 11 00 <\r\n"
    "09:59:59:077 1      24   >05 ad 00 00 00 00 00 00 00 00 00 00 00 00 3c 00 00 00 00 00 ff 81 11 00 <\r\n"
    "09:59:59:147 0      24   >05 ad 00 00 00 00 00 00 00 zz 00 00 00 00 3c 00 00 00 00 00 ff 81 11 00 <\r\n"
    "10:00:00:217 0      26   >01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 80 00 01 0a ab <\r\n"
    "10:00:00:287 0      24   >05 ad 00 00 00 00 00 00 00 00 00 00 00 00 3c 00 00";

QList<QByteArray> Lines(const QByteArray& text) {
  QList<QByteArray> lines = text.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace

TEST(Decode, ReportsDamagedLinesByNumberAndDecodesTheRest) {
  TestSettings settings;
  QTemporaryDir dir;
  const QString path = dir.filePath("capture.txt");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(Capture);
  file.close();

  CliRunner decode;
  EXPECT_EQ(decode.Run({"decode", path}), 1);
  const QByteArray errors = decode.Stderr();
  EXPECT_TRUE(errors.contains("capture.txt:5: data byte 9 is not two hexadecimal digits")) << errors.constData();
  EXPECT_TRUE(errors.contains("capture.txt:7: the line ends before its '<'")) << errors.constData();
  EXPECT_EQ(errors.count('\n'), 2) << errors.constData();

  const QList<QByteArray> rows = Lines(decode.Stdout());
  ASSERT_EQ(rows.size(), 4);
  const QList<QByteArray> header = rows[0].split(',');
  ASSERT_EQ(header.size(), 4 + 21 + 24 + 2);  // line, time, status, length; bytes; flags; byte24, byte25
  EXPECT_EQ(header.mid(0, 6), (QList<QByteArray>{"line", "time", "status", "length", "ground_speed", "engine_rpm"}));
  EXPECT_EQ(header.last(), "byte25");
  const auto cell = [&](int row, const char* name) { return rows[row].split(',').at(header.indexOf(name)); };

  EXPECT_EQ(cell(1, "line"), "3");
  EXPECT_EQ(cell(1, "time"), "09:59:59.007");
  EXPECT_EQ(cell(1, "engine_rpm"), "173");
  EXPECT_EQ(cell(1, "fault_code"), "60");
  EXPECT_EQ(cell(1, "analog_spare"), "255");
  EXPECT_EQ(cell(1, "dump_body_up"), "1");  // 21 = 81
  EXPECT_EQ(cell(1, "hand_brake"), "1");
  EXPECT_EQ(cell(1, "chopper_fault"), "0");
  EXPECT_EQ(cell(1, "gear_select_forward"), "1");  // 22 = 11
  EXPECT_EQ(cell(1, "inverter_a_avail"), "1");
  EXPECT_EQ(cell(1, "preheat_on"), "0");
  EXPECT_EQ(cell(1, "byte24"), "");  // a 24-byte record has no byte 24
  EXPECT_EQ(cell(2, "status"), "1");
  EXPECT_EQ(cell(3, "line"), "6");
  EXPECT_EQ(cell(3, "ground_speed"), "1");
  EXPECT_EQ(cell(3, "left_blinker"), "1");
  EXPECT_EQ(cell(3, "byte24"), "10");
  EXPECT_EQ(cell(3, "byte25"), "171");

  EXPECT_EQ(decode.Run({"decode", "--format", "json", path}), 1);
  const QList<QByteArray> objects = Lines(decode.Stdout());
  ASSERT_EQ(objects.size(), 3);
  const QJsonObject last = QJsonDocument::fromJson(objects[2]).object();
  EXPECT_EQ(last.value("time").toString(), "10:00:00.217");
  EXPECT_EQ(last.value("length").toInt(), 26);
  EXPECT_EQ(last.value("retard_pedal").toInt(), 9);
  EXPECT_EQ(last.value("byte25").toInt(), 171);
  EXPECT_FALSE(QJsonDocument::fromJson(objects[0]).object().contains("byte24"));
}

// Lines are formed in a fixed buffer: the longest record must come out whole.
TEST(Decode, TheLongestRecordComesOutWhole) {
  TestSettings settings;
  QTemporaryDir dir;
  const QString path = dir.filePath("long.txt");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(
      "Log Start 07/12/2026 09:59:59\r\n"
      "Time      Status  Length >Data[0] Data[1] Data[2] ...\r\n"
      "23:59:59:999 3      255  >" +
      QByteArray("ff ").repeated(255) + "<\r\n");
  file.close();

  CliRunner decode;
  ASSERT_EQ(decode.Run({"decode", "--format", "json", path}), 0) << decode.Stderr().constData();
  const QList<QByteArray> objects = Lines(decode.Stdout());
  ASSERT_EQ(objects.size(), 1);
  const QJsonObject record = QJsonDocument::fromJson(objects[0]).object();
  ASSERT_FALSE(record.isEmpty()) << objects[0].right(80).constData();
  EXPECT_EQ(record.value("time").toString(), "23:59:59.999");
  EXPECT_EQ(record.value("fault_code").toInt(), 255);
  EXPECT_EQ(record.value("preheat_on").toInt(), 1);
  EXPECT_EQ(record.value("byte254").toInt(), 255);
  EXPECT_EQ(record.size(), 4 + 21 + 24 + 231);

  ASSERT_EQ(decode.Run({"decode", "--format", "csv", path}), 0);
  const QList<QByteArray> rows = Lines(decode.Stdout());
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1].split(',').size(), rows[0].split(',').size());
  EXPECT_TRUE(rows[1].endsWith(",255,255")) << rows[1].right(40).constData();
}
