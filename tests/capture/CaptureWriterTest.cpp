#include "capture/CaptureFormat.h"
#include "capture/CaptureWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <vector>

namespace {

const std::string ColumnLine = "Time      Status  Length >Data[0] Data[1] Data[2] ...\r\n";

std::string Line(int h, int m, int s, int ms, int status, std::uint8_t length, const std::uint8_t* data) {
  char out[CaptureFormat::RecordLineMax];
  const std::size_t n = CaptureFormat::FormatRecordLine(out, h, m, s, ms, status, length, data);
  EXPECT_LE(n, CaptureFormat::RecordLineMax);
  return std::string(out, n);
}

std::string Escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST(CaptureLine, ExactBytesForEveryStatusAndLength) {
  const std::uint8_t two[] = {0x00, 0xAB};
  EXPECT_EQ(Line(9, 5, 3, 7, 0, 2, two), "09:05:03:007 0      2   >00 ab <\r\n");
  EXPECT_EQ(Line(23, 59, 59, 999, 1, 0, two), "23:59:59:999 1      0   ><\r\n");
  EXPECT_EQ(Line(0, 0, 0, 0, 2, 0, two), "00:00:00:000 2      0   ><\r\n");
  EXPECT_EQ(Line(12, 30, 45, 50, 3, 1, two), "12:30:45:050 3      1   >00 <\r\n");
  EXPECT_EQ(Line(1, 2, 3, 4, 0x2f, 0, two), "01:02:03:004 2f      0   ><\r\n");

  std::vector<std::uint8_t> data(255);
  std::string hex;
  for (int i = 0; i < 255; ++i) {
    data[i] = static_cast<std::uint8_t>(255 - i);
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x ", data[i]);
    hex += pair;
  }
  EXPECT_EQ(Line(10, 11, 12, 100, 0, 24, data.data()), "10:11:12:100 0      24   >" + hex.substr(0, 72) + "<\r\n");
  EXPECT_EQ(Line(10, 11, 12, 100, 0, 255, data.data()), "10:11:12:100 0      255   >" + hex + "<\r\n");
  EXPECT_EQ(Line(10, 11, 12, 100, 0, 255, data.data()).size(), 795u);
  // Nothing a caller can pass makes the line overrun the buffer.
  EXPECT_EQ(Line(-1, 1000, -5, 123456, -1, 255, data.data()).size(), 802u);
}

TEST(CaptureFile, HeaderLinesAndRecordLinesAsWritten) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("capture.txt").toStdString();
  { std::ofstream(path) << "old contents that must go"; }

  TCaptureWriter writer;
  ASSERT_TRUE(writer.StartLog(path)) << writer.LastError();
  const std::uint8_t record[24] = {0x2F, 0x01, 0xFF};
  for (int status : {0, 1, 3}) ASSERT_TRUE(writer.LogFrame(status, 24, record));
  // Every line is on disk before the file is closed.
  const std::string before = Contents(path);
  ASSERT_TRUE(writer.StartLog(dir.filePath("other.txt").toStdString()));  // a second header, same file
  writer.CloseLog();
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(QFile::exists(dir.filePath("other.txt")));
  EXPECT_TRUE(writer.LogFrame(0, 24, record));  // no file: formed and dropped

  const std::string text = Contents(path);
  EXPECT_EQ(text.substr(0, before.size()), before);
  std::string zeros;
  for (int i = 0; i < 21; ++i) zeros += "00 ";
  const std::string header = "Log Start [^\r\n]*\\d[:.]\\d\\d[:.]\\d\\d[^\r\n]*\r\n" + Escaped(ColumnLine);
  const std::string line = "\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d %d      24   >2f 01 ff " + zeros + "<\r\n";
  std::string pattern = header;
  for (int status : {0, 1, 3}) pattern += std::regex_replace(line, std::regex("%d"), std::to_string(status));
  pattern += header;
  EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << text;
}

TEST(CaptureFile, FailuresAreReportedWithTheCause) {
  TCaptureWriter writer;
  EXPECT_FALSE(writer.StartLog("/nonexistent-folder/capture.txt"));
  EXPECT_NE(writer.LastError().find("/nonexistent-folder/capture.txt"), std::string::npos);
  EXPECT_NE(writer.LastError().find(std::strerror(ENOENT)), std::string::npos);
  EXPECT_FALSE(writer.IsOpen());

  QTemporaryDir dir;
  EXPECT_FALSE(writer.StartLog(dir.path().toStdString()));  // a folder, not a file
  EXPECT_NE(writer.LastError().find(std::strerror(EISDIR)), std::string::npos);

  // A full disk: the header can't be written, so no capture is left running.
  EXPECT_FALSE(writer.StartLog("/dev/full"));
  EXPECT_NE(writer.LastError().find(std::strerror(ENOSPC)), std::string::npos);
  EXPECT_FALSE(writer.IsOpen());

  // A record line that doesn't fit: the file-size limit stands in for a disk
  // that fills up during the capture.
  const std::string path = dir.filePath("limited.txt").toStdString();
  ASSERT_TRUE(writer.StartLog(path));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = Contents(path).size();
  setrlimit(RLIMIT_FSIZE, &limit);
  const std::uint8_t record[24] = {};
  const bool written = writer.LogFrame(0, 24, record);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_NE(writer.LastError().find(path), std::string::npos);
  EXPECT_NE(writer.LastError().find(std::strerror(EFBIG)), std::string::npos);
  EXPECT_TRUE(writer.IsOpen());
}

TEST(CaptureFile, ALineCutShortByAFullDiskIsTakenBack) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("cut.txt").toStdString();
  TCaptureWriter writer;
  ASSERT_TRUE(writer.StartLog(path));
  const std::uint8_t record[24] = {1, 2, 3};
  ASSERT_TRUE(writer.LogFrame(0, 24, record));
  const std::string whole = Contents(path);

  // Room for half of the next line: the write gets that far, then fails.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = whole.size() + 40;
  setrlimit(RLIMIT_FSIZE, &limit);
  const bool written = writer.LogFrame(1, 24, record);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  writer.CloseLog();
  // Nothing of the cut line is left; everything before it is.
  EXPECT_EQ(Contents(path), whole);
}
