// quorlink replay: the good frames of a capture, in order, spaced as recorded.

#include "CliRunner.h"
#include "PtyPair.h"
#include "TestSettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A record line as the capture writer writes it.
QByteArray RecordLine(const char* time, int status, const std::vector<int>& data) {
  QByteArray line = QByteArray(time) + ' ' + QByteArray::number(status, 16) + "      " +
                    QByteArray::number(int(data.size())) + "   >";
  for (int byte : data) line += QByteArray::number(byte, 16).rightJustified(2, '0') + ' ';
  return line + "<\r\n";
}

std::vector<int> Record(int first, int length = 24) {
  std::vector<int> data(static_cast<size_t>(length), 0);
  data[0] = first;
  data[static_cast<size_t>(length) - 1] = 0x2F;  // a start byte among the data changes nothing
  return data;
}

QByteArray Header() {
  return "Log Start 07/12/2026 10:00:00\r\nTime      Status  Length >Data[0] Data[1] Data[2] ...\r\n";
}

// A frame read off the line, with the time its start byte arrived.
struct Arrival {
  std::vector<std::uint8_t> Bytes;
  Clock::time_point Time;
};

// Reads frames of the given data lengths from the pty master, one at a time.
std::vector<Arrival> ReadFrames(PtyPair& pty, const std::vector<int>& lengths) {
  std::vector<Arrival> frames;
  for (int length : lengths) {
    Arrival arrival;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (arrival.Bytes.size() < static_cast<size_t>(length + 2) && Clock::now() < deadline) {
      pollfd p{pty.MasterFd(), POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      std::uint8_t byte;
      if (::read(pty.MasterFd(), &byte, 1) != 1) continue;
      if (arrival.Bytes.empty()) arrival.Time = Clock::now();
      arrival.Bytes.push_back(byte);
    }
    if (arrival.Bytes.size() != static_cast<size_t>(length + 2)) break;
    frames.push_back(arrival);
  }
  return frames;
}

std::vector<std::uint8_t> Frame(const std::vector<int>& data) {
  std::vector<std::uint8_t> frame{0x2F};
  unsigned sum = 0x2F;
  for (int byte : data) {
    frame.push_back(static_cast<std::uint8_t>(byte));
    sum += static_cast<unsigned>(byte);
  }
  frame.push_back(static_cast<std::uint8_t>(0u - sum));
  return frame;
}

class Replay : public ::testing::Test {
protected:
  QString Write(const QByteArray& contents) {
    const QString path = Dir.filePath(QStringLiteral("capture%1.txt").arg(++Files));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    return path;
  }

  TestSettings Settings;
  QTemporaryDir Dir;
  PtyPair Pty;
  int Files = 0;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

TEST_F(Replay, SendsTheGoodFramesInOrderWithTheirSpacing) {
  // Recorded 800 ms apart, played at double speed: 400 ms apart. The bad lines
  // (a checksum error, a damaged line) are not sent; the fourth frame is longer.
  const QString path = Write(Header() + RecordLine("10:00:00:000", 0, Record(1)) +
                             RecordLine("10:00:00:800", 0, Record(2)) + RecordLine("10:00:00:900", 1, Record(2)) +
                             "10:00:01:000 0      24   >00 01 <\r\n" + RecordLine("10:00:01:600", 0, Record(3)) +
                             RecordLine("10:00:02:400", 0, Record(4, 30)) + RecordLine("10:00:03:200", 0, Record(5)));
  CliRunner replay;
  replay.Start({"replay", "--port", Pty.SlavePath().c_str(), "--speed", "2", path});
  const std::vector<Arrival> frames = ReadFrames(Pty, {24, 24, 24, 30, 24});
  ASSERT_EQ(replay.Finish(), 0) << replay.Stderr().constData();
  EXPECT_TRUE(replay.Stderr().contains("capture1.txt:6: 2 data bytes where the data length is 24"))
      << "the damaged line is named: " << replay.Stderr().constData();

  ASSERT_EQ(frames.size(), 5u);
  const std::vector<int> expected[] = {Record(1), Record(2), Record(3), Record(4, 30), Record(5)};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(frames[i].Bytes, Frame(expected[i])) << "frame " << i;
  // Not earlier than their spacing; how much later depends on the machine's load.
  for (size_t i = 1; i < 5; ++i) EXPECT_GE(Ms(frames[i].Time - frames[i - 1].Time), 360.0) << "frame " << i;
  EXPECT_TRUE(Pty.Read(1, std::chrono::milliseconds(300)).empty()) << "nothing after the last frame";
}

TEST_F(Replay, LoopsUntilCtrlCWhichStopsAtOnce) {
  // Two frames 400 ms apart, across midnight.
  const QString path =
      Write(Header() + RecordLine("23:59:59:800", 0, Record(7)) + RecordLine("00:00:00:200", 0, Record(8)));
  CliRunner replay;
  replay.Start({"replay", "--port", Pty.SlavePath().c_str(), "--loop", path});
  const std::vector<Arrival> frames = ReadFrames(Pty, {24, 24, 24, 24, 24});
  ASSERT_EQ(frames.size(), 5u) << replay.Stderr().constData();
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(frames[i].Bytes, Frame(Record(i % 2 ? 8 : 7))) << "frame " << i;
  // Over midnight the spacing is still 400 ms; the loop starts again after the mean spacing.
  for (size_t i = 1; i < 5; ++i) EXPECT_GE(Ms(frames[i].Time - frames[i - 1].Time), 360.0) << "frame " << i;
  replay.Signal(SIGINT);
  EXPECT_EQ(replay.Finish(), 0) << replay.Stderr().constData();

  // A minute's pause after the first frame: Ctrl-C doesn't wait it out.
  const QString paused =
      Write(Header() + RecordLine("10:00:00:000", 0, Record(1)) + RecordLine("10:01:00:000", 0, Record(2)));
  replay.Start({"replay", "--port", Pty.SlavePath().c_str(), paused});
  ASSERT_EQ(ReadFrames(Pty, {24}).size(), 1u) << replay.Stderr().constData();
  const Clock::time_point signalled = Clock::now();
  replay.Signal(SIGINT);
  EXPECT_EQ(replay.Finish(std::chrono::seconds(20)), 0);
  EXPECT_LT(Ms(Clock::now() - signalled), 10000.0) << "not waiting out the minute";
  EXPECT_TRUE(Pty.Read(1, std::chrono::milliseconds(200)).empty());
}

TEST_F(Replay, AFileWithoutGoodFramesIsAFailure) {
  CliRunner replay;
  EXPECT_EQ(replay.Run({"replay", "--port", Pty.SlavePath().c_str(),
                        Write(Header() + RecordLine("10:00:00:000", 1, Record(1)))}),
            1);
  EXPECT_TRUE(replay.Stderr().contains("no good frame")) << replay.Stderr().constData();
  EXPECT_EQ(replay.Run({"replay", "--port", Pty.SlavePath().c_str(), Dir.filePath("missing.txt")}), 1);
}

TEST_F(Replay, StepsBackInTimeStartANewStretchAndSigusr1PrintsTheCounts) {
  // 100 ms back (a clock set back), then a second capture appended that starts
  // an hour earlier: both go out without a wait (not a day or 23 hours), each
  // named in a warning. Midnight itself keeps its spacing (LoopsUntilCtrlC...).
  // The last frame waits a minute.
  const QString path =
      Write(Header() + RecordLine("10:00:00:000", 0, Record(1)) + RecordLine("10:00:00:100", 0, Record(2)) +
            RecordLine("10:00:00:000", 0, Record(3)) + Header() + RecordLine("09:00:00:000", 0, Record(4)) +
            RecordLine("09:01:00:000", 0, Record(5)));
  CliRunner replay;
  replay.Start({"replay", "--port", Pty.SlavePath().c_str(), path});
  const std::vector<Arrival> frames = ReadFrames(Pty, {24, 24, 24, 24});
  ASSERT_EQ(frames.size(), 4u) << replay.Stderr().constData();
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(frames[i].Bytes, Frame(Record(int(i) + 1))) << "frame " << i;
  EXPECT_GE(Ms(frames[1].Time - frames[0].Time), 90.0);
  EXPECT_TRUE(replay.WaitForStderr("capture1.txt:8:")) << replay.Stderr().constData();
  const QByteArray warnings = replay.Stderr();
  EXPECT_TRUE(warnings.contains("capture1.txt:5: the time steps back from 10:00:00.100 to 10:00:00.000"))
      << warnings.constData();
  EXPECT_TRUE(warnings.contains("capture1.txt:8: the time steps back from 10:00:00.000 to 09:00:00.000"))
      << warnings.constData();
  EXPECT_EQ(warnings.count("steps back"), 2);

  replay.Signal(SIGUSR1);
  EXPECT_TRUE(replay.WaitForStderr("4 frames sent, 0 failed, at line")) << replay.Stderr().constData();
  EXPECT_TRUE(replay.Running());
  replay.Signal(SIGINT);
  EXPECT_EQ(replay.Finish(), 0) << replay.Stderr().constData();
}
