// quorlink decode: capture files to CSV and JSON lines.

#include "CliRunner.h"
#include "TestSettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& contents) {
  QFile file(dir.filePath(name));
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(contents);
  return file.fileName();
}

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
  ASSERT_EQ(header.size(), 5 + 21 + 24 + 2);  // line, time, status, event, length; bytes; flags; byte24, byte25
  EXPECT_EQ(header.mid(0, 7),
            (QList<QByteArray>{"line", "time", "status", "event", "length", "ground_speed", "engine_rpm"}));
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
  EXPECT_EQ(cell(1, "event"), "");   // the first line: nothing to compare its record with
  EXPECT_EQ(cell(2, "status"), "1");
  EXPECT_EQ(cell(2, "event"), "checksum-error");
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
  EXPECT_EQ(record.size(), 5 + 21 + 24 + 231);

  ASSERT_EQ(decode.Run({"decode", "--format", "csv", path}), 0);
  const QList<QByteArray> rows = Lines(decode.Stdout());
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[1].split(',').size(), rows[0].split(',').size());
  EXPECT_TRUE(rows[1].endsWith(",255,255")) << rows[1].right(40).constData();
}

// What decode reads and where it writes: lines ending in CR alone, the event a
// line can tell, and outputs that fail, close or are the input itself.
TEST(Decode, LineEndsEventsAndOutputsThatCannotTakeIt) {
  TestSettings settings;
  QTemporaryDir dir;
  const QByteArray a = ">05 ad 00 00 00 00 00 00 00 00 00 00 00 00 3c 00 00 00 00 00 ff 81 11 00 <";
  const QByteArray b = ">06 ad 00 00 00 00 00 00 00 00 00 00 00 00 3c 00 00 00 00 00 ff 81 11 00 <";
  const QString path = WriteFile(dir, "cr.txt",
                                 "Log Start 07/12/2026 09:59:59\r"
                                 "Time      Status  Length >Data[0] Data[1] Data[2] ...\r"
                                 "09:59:59:007 0      24   " +
                                     a + "\r" + "09:59:59:077 0      24   " + b + "\r" + "09:59:59:147 0      24   " +
                                     b + "\r" + "09:59:59:217 2      24   " + b + "\r");
  CliRunner decode;
  ASSERT_EQ(decode.Run({"decode", path}), 0) << decode.Stderr().constData();
  const QList<QByteArray> rows = Lines(decode.Stdout());
  ASSERT_EQ(rows.size(), 5);
  const qsizetype event = rows[0].split(',').indexOf("event");
  QList<QByteArray> events;
  for (int i = 1; i < 5; ++i) events << rows[i].split(',').at(event);
  EXPECT_EQ(events, (QList<QByteArray>{"", "good", "", "start-of-frame"}));
  EXPECT_EQ(rows[4].split(',').at(0), "6");

  // The capture as its own output: refused before anything is written, also
  // when a link leads to it.
  const QByteArray before = decode.Stdout();
  QFile::link(path, dir.filePath("link.txt"));
  for (const QString& output : {path, dir.filePath("link.txt")}) {
    EXPECT_EQ(decode.Run({"decode", path, "--output", output}), 2) << output.toStdString();
    EXPECT_TRUE(decode.Stderr().contains("is the capture file itself")) << decode.Stderr().constData();
  }
  EXPECT_EQ(decode.Run({"decode", path}), 0);
  EXPECT_EQ(decode.Stdout(), before) << "the capture is unchanged";

  // Nothing to decode is no success.
  EXPECT_EQ(decode.Run({"decode", WriteFile(dir, "empty.txt", "Log Start 07/12/2026 09:59:59\r\n")}), 1);
  EXPECT_TRUE(decode.Stderr().contains("holds no record line")) << decode.Stderr().constData();

  // A full disk behind standard output is a failure; a reader that goes away is not.
  decode.SendStdoutTo("/dev/full");
  EXPECT_EQ(decode.Run({"decode", path}), 1);
  EXPECT_TRUE(decode.Stderr().contains("cannot write to standard output: No space left on device"))
      << decode.Stderr().constData();
  QByteArray many = "Log Start 07/12/2026 09:59:59\r\n";
  for (int i = 0; i < 4000; ++i) many += "09:59:59:007 0      24   " + a + "\r\n";
  QProcess pipeline;
  pipeline.start("bash", {"-c", QStringLiteral("'%1' decode '%2' | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}")
                                    .arg(QStringLiteral(QUORLINK_PROGRAM), WriteFile(dir, "many.txt", many))});
  ASSERT_TRUE(pipeline.waitForFinished(60000));
  EXPECT_EQ(pipeline.exitCode(), 0);
  EXPECT_EQ(pipeline.readAllStandardError(), "");
}
