// The capture format both ways: what the writer writes, the reader reads back
// as it was, whatever the line ends and however long the file.

#include "capture/CaptureReader.h"
#include "capture/CaptureWriter.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using CaptureFormat::LineKind;

std::string WriteFile(const QTemporaryDir& dir, const std::string& contents) {
  const std::string path = dir.filePath("capture.txt").toStdString();
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

// Every line the reader gives: its number and kind.
std::vector<std::pair<long long, LineKind>> Lines(const std::string& path) {
  std::vector<std::pair<long long, LineKind>> lines;
  CaptureReader reader;
  EXPECT_TRUE(reader.Open(path)) << reader.Error();
  while (reader.Next()) lines.emplace_back(reader.LineNumber(), reader.Kind());
  EXPECT_EQ(reader.Error(), "");
  return lines;
}

}  // namespace

TEST(CaptureFormat, WhatTheWriterWritesReadsBackAsItWas) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("capture.txt").toStdString();
  struct Line {
    int TimeOfDayMs, Status, Length;
  };
  const Line lines[] = {{0, 0, 0}, {7, 1, 1}, {45296789, 3, 24}, {86399999, 0x2f, 100}, {3723004, -1, 255}};
  std::uint8_t data[256];
  for (int i = 0; i < 256; ++i) data[i] = static_cast<std::uint8_t>(255 - i);
  {
    TCaptureWriter writer;
    ASSERT_TRUE(writer.StartLog(path)) << writer.LastError();
    for (const Line& line : lines)
      ASSERT_TRUE(writer.LogFrame(line.Status, static_cast<std::uint8_t>(line.Length), data, line.TimeOfDayMs));
    ASSERT_TRUE(writer.StartLog(path));  // a second header block in the same file
  }

  CaptureReader reader;
  ASSERT_TRUE(reader.Open(path)) << reader.Error();
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Kind(), LineKind::Header);
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Kind(), LineKind::Columns);
  for (const Line& line : lines) {
    ASSERT_TRUE(reader.Next());
    ASSERT_EQ(reader.Kind(), LineKind::Record) << CaptureFormat::Describe(reader.Damage());
    const CaptureFormat::Record& record = reader.Record();
    EXPECT_EQ(record.TimeOfDayMs, line.TimeOfDayMs);
    EXPECT_EQ(record.Status, line.Status);
    ASSERT_EQ(record.Length, line.Length);
    EXPECT_TRUE(std::equal(data, data + line.Length, record.Data)) << "line " << reader.LineNumber();
  }
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Kind(), LineKind::Header);
  EXPECT_EQ(reader.LineNumber(), 8);
  ASSERT_TRUE(reader.Next());
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(reader.Error(), "");
}

TEST(CaptureReader, AnyLineEndOverlongLinesAndALastLineWithoutEnd) {
  QTemporaryDir dir;
  const std::string record = "00:00:00:000 0      0   ><";
  // LF, CR LF, a lone CR, a blank line; a CR LF split between the reader's
  // first two reads of 64 KiB; a line of 100,000 bytes, more than the reader
  // ever holds, reported once; a last line without a line end.
  std::string text = record + "\n" + record + "\r\n" + record + "\r" + "\r\n";
  long long number = 4;
  while (text.size() < 65536 - 40) {
    text += record + "\r\n";
    ++number;
  }
  text += std::string(65535 - text.size(), 'y') + "\r\n" + record + "\r\n" + std::string(100000, 'x') + "\r\n" + record;

  const auto lines = Lines(WriteFile(dir, text));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::make_pair(1LL, LineKind::Record));
  EXPECT_EQ(lines[1], std::make_pair(2LL, LineKind::Record));
  EXPECT_EQ(lines[2], std::make_pair(3LL, LineKind::Record));
  EXPECT_EQ(lines[3], std::make_pair(5LL, LineKind::Record));
  const auto tail = std::vector<std::pair<long long, LineKind>>(lines.end() - 4, lines.end());
  EXPECT_EQ(tail, (std::vector<std::pair<long long, LineKind>>{{number + 1, LineKind::Damaged},
                                                               {number + 2, LineKind::Record},
                                                               {number + 3, LineKind::Damaged},
                                                               {number + 4, LineKind::Record}}));
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(number + 3)) << "the blank line is skipped";
}
