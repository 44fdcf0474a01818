// quorlink send to quorlink monitor over a quorlink nullmodem pair: the values
// arrive, the capture file holds the same records as the monitor's lines, and
// injected faults show as the receiver's statuses.

#include "CliRunner.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "capture/CaptureReader.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::vector<std::uint8_t> Frame(std::uint8_t fill, bool good = true) {
  std::vector<std::uint8_t> frame{0x2F};
  unsigned sum = 0x2F;
  for (int i = 0; i < 24; ++i) {
    frame.push_back(fill);
    sum += fill;
  }
  frame.push_back(static_cast<std::uint8_t>(good ? 0u - sum : 0u - sum + 1));
  return frame;
}

class SendMonitor : public ::testing::Test {
protected:
  void SetUp() override {
    Relay.Start({"nullmodem", "COM3", "COM4"});
    ASSERT_TRUE(Relay.WaitForLines(2)) << Relay.Stderr().constData();
  }
  void TearDown() override {
    Relay.Signal(SIGTERM);
    EXPECT_EQ(Relay.Finish(), 0);
  }

  // Starts the monitor on COM4 and waits until it listens.
  void StartMonitor(const QStringList& extra) {
    Monitor.Start(QStringList{"monitor", "--port", "COM4", "--capture", CapturePath()} + extra);
    ASSERT_TRUE(Monitor.WaitForStderr("listening on")) << Monitor.Stderr().constData();
  }

  QString CapturePath() const { return Dir.filePath("capture.txt"); }

  // The record lines of the capture file; a damaged line fails the test.
  std::vector<CaptureFormat::Record> Capture() const {
    std::vector<CaptureFormat::Record> records;
    CaptureReader reader;
    EXPECT_TRUE(reader.Open(CapturePath().toStdString())) << reader.Error();
    while (reader.Next()) {
      EXPECT_NE(reader.Kind(), CaptureFormat::LineKind::Damaged) << "line " << reader.LineNumber();
      if (reader.Kind() == CaptureFormat::LineKind::Record) records.push_back(reader.Record());
    }
    return records;
  }

  // The status column of the monitor's CSV lines (header skipped).
  QList<int> MonitorStatuses() {
    QList<int> statuses;
    const QList<QByteArray> lines = Monitor.StdoutLines();
    for (qsizetype i = 1; i < lines.size(); ++i) statuses << lines[i].split(',').at(1).toInt();
    return statuses;
  }

  TestSettings Settings;
  QTemporaryDir Dir;
  CliRunner Relay, Monitor, Sender;
};

}  // namespace

TEST_F(SendMonitor, ValuesArriveAndTheCaptureHoldsTheMonitorsRecords) {
  StartMonitor({"--format", "csv", "--count", "15", "--duration", "120"});
  EXPECT_EQ(
      Sender.Run({"send", "--port", "COM3", "--count", "15", "--set", "engine_rpm=173", "--set", "fault_code=0x3C",
                  "--set", "dump_body_up=1", "--set", "byte23=0x40", "--set", "left_blinker=on"}),
      0)
      << Sender.Stderr().constData();
  EXPECT_TRUE(Sender.Stderr().contains("15 frames (15 sent, 0 dropped), 0 failed writes"))
      << Sender.Stderr().constData();
  ASSERT_EQ(Monitor.Finish(), 0) << Monitor.Stderr().constData();
  EXPECT_TRUE(Monitor.Stderr().contains("good frames            15")) << Monitor.Stderr().constData();

  // Every capture line is the record sent: byte 1 = 173, 14 = 3C, 21 = 80, 23 = 41.
  const std::vector<CaptureFormat::Record> capture = Capture();
  ASSERT_EQ(capture.size(), 15u);
  for (const CaptureFormat::Record& record : capture) {
    EXPECT_EQ(record.Status, 0);
    ASSERT_EQ(record.Length, 24);
    for (int i = 0; i < 24; ++i) {
      const int expected = i == 1 ? 173 : i == 14 ? 0x3C : i == 21 ? 0x80 : i == 23 ? 0x41 : 0;
      EXPECT_EQ(record.Data[i], expected) << "byte " << i;
    }
  }

  // The monitor's lines and the capture's decoded lines are the same records.
  CliRunner decode;
  EXPECT_EQ(decode.Run({"decode", CapturePath()}), 0) << decode.Stderr().constData();
  const QList<QByteArray> decoded = decode.StdoutLines();
  const QList<QByteArray> monitored = Monitor.StdoutLines();
  ASSERT_EQ(decoded.size(), 16);
  ASSERT_EQ(monitored.size(), 16);
  EXPECT_EQ(decoded[0], "line," + monitored[0]);
  const QList<QByteArray> columns = monitored[0].split(',');
  const qsizetype eventColumn = columns.indexOf("event");
  for (int i = 1; i < 16; ++i) {
    // Without the line number and time columns (the two clocks are read apart)
    // and the event: the monitor saw 15 good frames, while the capture can't
    // tell a good frame with the same record from an error (decode --help).
    QList<QByteArray> fromCapture = decoded[i].split(',').mid(2);
    QList<QByteArray> fromMonitor = monitored[i].split(',').mid(1);
    EXPECT_EQ(fromMonitor.at(eventColumn - 1), "good") << "row " << i;
    EXPECT_EQ(fromCapture.at(eventColumn - 1), "") << "row " << i;
    fromCapture.removeAt(eventColumn - 1);
    fromMonitor.removeAt(eventColumn - 1);
    EXPECT_EQ(fromCapture, fromMonitor) << "row " << i;
  }
  const QList<QByteArray> header = monitored[0].split(',');
  const QList<QByteArray> row = monitored[1].split(',');
  EXPECT_EQ(row.at(header.indexOf("engine_rpm")), "173");
  EXPECT_EQ(row.at(header.indexOf("fault_code")), "60");
  EXPECT_EQ(row.at(header.indexOf("dump_body_up")), "1");
  EXPECT_EQ(row.at(header.indexOf("low_brake_pressure")), "0");
  EXPECT_EQ(row.at(header.indexOf("left_blinker")), "1");
  EXPECT_EQ(row.at(header.indexOf("reserved_1")), "1");
}

TEST_F(SendMonitor, FaultsAtARateShowAsTheirStatuses) {
  StartMonitor({"--format", "csv"});
  // 200 ms apart, so that no two frames ever share one poll of the receiver.
  EXPECT_EQ(Sender.Run({"send", "--port", "COM3", "--count", "24", "--period-ms", "200", "--set", "engine_rpm=173",
                        "--drop-every", "6", "--bad-checksum-every", "4", "--long-every", "10", "--short-every", "11",
                        "--stray-every", "3"}),
            0)
      << Sender.Stderr().constData();
  EXPECT_TRUE(Sender.Stderr().contains("24 frames (20 sent, 4 dropped), 0 failed writes"))
      << Sender.Stderr().constData();

  // Frame by frame (a drop wins over the others, then checksum, long, short):
  //  1-3 good (stray bytes after 3 are dropped by the idle receiver), 4 bad
  //  checksum, 5 good, 6 dropped, 7 good, 8 bad, 9 good, 10 too long (its extra
  //  byte is taken for the checksum), 11 too short (completed by the stray byte
  //  of slot 12), 13-15 good, 16 bad, 17 good, 18 dropped, 19 good, 20 bad,
  //  21 good, 22 too short (completed by the start byte of 23, whose rest is
  //  dropped), 24 dropped.
  const QList<int> expected = {0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1};
  Monitor.WaitForLines(1 + expected.size());
  // Statistics on request, while it runs.
  Monitor.Signal(SIGUSR1);
  EXPECT_TRUE(Monitor.WaitForStderr("checksum errors        7")) << Monitor.Stderr().constData();
  EXPECT_TRUE(Monitor.Stderr().contains("good frames            12")) << Monitor.Stderr().constData();
  EXPECT_TRUE(Monitor.Running());
  Monitor.Signal(SIGINT);
  ASSERT_EQ(Monitor.Finish(), 0);
  EXPECT_EQ(MonitorStatuses(), expected);
  EXPECT_EQ(Monitor.Stderr().count("statistics after"), 2);

  QList<int> captured;
  for (const CaptureFormat::Record& record : Capture()) captured << record.Status;
  EXPECT_EQ(captured, expected);
}

TEST_F(SendMonitor, FaultsAndValuesOnDemand) {
  StartMonitor({"--format", "csv"});
  Sender.Start({"send", "--port", "COM3", "--period-ms", "200", "--commands", "--set", "engine_rpm=10"});
  ASSERT_TRUE(Monitor.WaitForLines(1 + 3)) << Sender.Stderr().constData();

  Sender.WriteStdin("bad-checksum\n");
  ASSERT_TRUE(WaitUntil([&] { return MonitorStatuses().count(1) == 1; }));
  Sender.WriteStdin("drop\nstray\nset engine_rpm=99\n");
  ASSERT_TRUE(WaitUntil([&] { return Monitor.Stdout().contains(",99,"); }));
  // A line longer than any command is skipped; the next one still counts.
  Sender.WriteStdin(QByteArray(10000, 'x') + "\nlong\n");
  ASSERT_TRUE(WaitUntil([&] { return MonitorStatuses().count(1) == 2; }));
  EXPECT_TRUE(Sender.Stderr().contains("a command line longer than 4096 bytes")) << Sender.Stderr().constData();
  const int eventsBeforeQuit = static_cast<int>(MonitorStatuses().size());
  Sender.WriteStdin("quit\n");
  EXPECT_EQ(Sender.Finish(), 0) << Sender.Stderr().constData();
  EXPECT_TRUE(Sender.Stderr().contains("1 dropped, 1 bad checksum, 1 too long, 1 with stray bytes"))
      << Sender.Stderr().constData();

  Monitor.Signal(SIGTERM);
  ASSERT_EQ(Monitor.Finish(), 0);
  const QList<int> statuses = MonitorStatuses();
  EXPECT_GE(statuses.size(), eventsBeforeQuit);
  EXPECT_EQ(statuses.count(1), 2);
  EXPECT_EQ(statuses.count(0) + statuses.count(1), statuses.size());  // no length errors, no stray start bytes
}

// Piped commands: quit comes after the frames of the commands before it.
TEST_F(SendMonitor, QuitAfterPipedCommandsRunsThemFirst) {
  StartMonitor({"--format", "csv"});
  // Each fault asked for gets its frame; what follows quit is not read.
  Sender.Start({"send", "-p", "COM3", "--period-ms", "200", "--commands"});
  Sender.WriteStdin("bad-checksum\ndrop\nquit\nbad-checksum\n");
  EXPECT_EQ(Sender.Finish(), 0) << Sender.Stderr().constData();
  EXPECT_TRUE(Sender.Stderr().contains("0 failed writes; faults: 1 dropped, 1 bad checksum\n"))
      << Sender.Stderr().constData();
  ASSERT_TRUE(WaitUntil([&] { return MonitorStatuses().count(1) == 1; })) << Monitor.Stdout().constData();
  // A value set just before quit goes out.
  Sender.Start({"send", "-p", "COM3", "--period-ms", "200", "--commands"});
  Sender.WriteStdin("set engine_rpm=99\nquit\n");
  EXPECT_EQ(Sender.Finish(), 0) << Sender.Stderr().constData();
  EXPECT_TRUE(WaitUntil([&] { return Monitor.Stdout().contains(",good,24,0,99,"); })) << Monitor.Stdout().constData();
  Monitor.Signal(SIGTERM);
  ASSERT_EQ(Monitor.Finish(), 0);
  EXPECT_EQ(MonitorStatuses().count(1), 1);
}

// Short options as terminal programs have them; a pty carries whole bytes and
// says once which of the settings it does not apply.
TEST(Send, ShortOptionsSetTheLineAndAVirtualPortSaysWhatItDoesNotApply) {
  TestSettings settings;
  PtyPair pty;
  CliRunner sender;
  EXPECT_EQ(sender.Run({"send", "-p", pty.SlavePath().c_str(), "-b", "19200", "-d", "7", "-y", "even", "-s", "2", "-l",
                        "30", "-c", "1", "--set", "engine_rpm=0xF0"}),
            0)
      << sender.Stderr().constData();
  EXPECT_TRUE(sender.Stderr().contains(", 19200 baud, 7E2, 30 data bytes")) << sender.Stderr().constData();
  EXPECT_EQ(sender.Stderr().count("is a virtual port: it carries whole 8-bit bytes, so even parity and 7 data bits "
                                  "are not applied\n"),
            1)
      << sender.Stderr().constData();
  const std::vector<std::uint8_t> frame = pty.Read(32);
  ASSERT_EQ(frame.size(), 32u);
  EXPECT_EQ(frame[0], 0x2F);
  EXPECT_EQ(frame[2], 0xF0);
}

// The event column and the statistics count what the receiver met; the status
// column stays where the link left the receiver. A bad frame followed in the
// same read by the first bytes of the next frame leaves status 0 or 2.
TEST(Monitor, EventsAreWhatTheReceiverMetAndStartWarningsAndFailuresTellTheTruth) {
  TestSettings settings;
  PtyPair pty;
  CliRunner monitor;
  // More seconds than one timer interval holds (it used to end after 0.7 s).
  monitor.Start(
      {"monitor", "--port", pty.SlavePath().c_str(), "--length", "24", "--format", "csv", "--duration", "4294968"});
  ASSERT_TRUE(monitor.WaitForStderr("listening on")) << monitor.Stderr().constData();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  pty.Write(Frame(1));
  ASSERT_TRUE(monitor.WaitForLines(2)) << monitor.Stderr().constData();
  std::vector<std::uint8_t> bytes = Frame(2, false);
  const std::vector<std::uint8_t> next = Frame(3);
  bytes.insert(bytes.end(), next.begin(), next.begin() + 5);
  pty.Write(bytes);
  ASSERT_TRUE(WaitUntil([&] { return monitor.Stdout().contains("checksum-error"); })) << monitor.Stderr().constData();
  pty.Write(std::vector<std::uint8_t>(next.begin() + 5, next.end()));
  ASSERT_TRUE(WaitUntil([&] { return monitor.Stdout().count(",good,") == 2; })) << monitor.Stdout().constData();
  monitor.Signal(SIGINT);
  ASSERT_EQ(monitor.Finish(), 0) << monitor.Stderr().constData();
  const QList<QByteArray> rows = monitor.StdoutLines();
  ASSERT_GE(rows.size(), 4);
  EXPECT_TRUE(rows[2].split(',').at(2).startsWith("checksum-error")) << rows[2].constData();
  EXPECT_TRUE(monitor.Stderr().contains("good frames            2")) << monitor.Stderr().constData();
  EXPECT_TRUE(monitor.Stderr().contains("checksum errors        1")) << monitor.Stderr().constData();
  EXPECT_FALSE(monitor.Stderr().contains("Timer")) << monitor.Stderr().constData();

  // A stored data length that can't be received is loaded as it is, and said.
  QSettings(QSettings::IniFormat, QSettings::UserScope, "Parvelco", "Quorlink Simulator")
      .setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Quorlink Configuration/Quorlink_DataLength", 254);
  // Standard output that can't be written is a failure, not a silent success.
  monitor.SendStdoutTo("/dev/full");
  EXPECT_EQ(monitor.Run({"monitor", "--port", pty.SlavePath().c_str(), "--format", "csv", "--duration", "10"}), 1);
  EXPECT_TRUE(monitor.Stderr().contains("254 data bytes")) << monitor.Stderr().constData();
  EXPECT_TRUE(monitor.Stderr().contains("no frame of that length can be received")) << monitor.Stderr().constData();
  EXPECT_TRUE(monitor.Stderr().contains("cannot write to standard output: No space left on device"))
      << monitor.Stderr().constData();
}

// --raw: every byte read shows once, after the event it led to, with a bar
// before each frame start; in CSV and JSON as the last column and field.
TEST(Monitor, RawShowsTheBytesOfEachEvent) {
  TestSettings settings;
  PtyPair pty;
  CliRunner monitor;
  monitor.Start({"monitor", "--port", pty.SlavePath().c_str(), "--length", "24", "--raw"});
  ASSERT_TRUE(monitor.WaitForStderr("listening on")) << monitor.Stderr().constData();
  const auto hex = [](const std::vector<std::uint8_t>& bytes) {
    QByteArray text;
    for (std::uint8_t b : bytes)
      text += (b == 0x2F ? "|" : " ") + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
    return text;
  };
  std::vector<std::uint8_t> first{0x55};
  const std::vector<std::uint8_t> good = Frame(1);
  first.insert(first.end(), good.begin(), good.end());
  pty.Write(first);
  ASSERT_TRUE(monitor.WaitForLines(2)) << monitor.Stderr().constData();
  std::vector<std::uint8_t> bad = Frame(2, false);
  const std::vector<std::uint8_t> next = Frame(3);
  bad.insert(bad.end(), next.begin(), next.begin() + 5);
  pty.Write(bad);
  ASSERT_TRUE(monitor.WaitForLines(4)) << monitor.Stderr().constData();
  pty.Write(std::vector<std::uint8_t>(next.begin() + 5, next.end()));
  ASSERT_TRUE(monitor.WaitForLines(6)) << monitor.Stderr().constData();
  monitor.Signal(SIGINT);
  ASSERT_EQ(monitor.Finish(), 0) << monitor.Stderr().constData();

  const QList<QByteArray> lines = monitor.StdoutLines();
  ASSERT_EQ(lines.size(), 6) << monitor.Stdout().constData();
  EXPECT_TRUE(lines[0].contains(" good ")) << lines[0].constData();
  EXPECT_EQ(lines[1], "  bytes: " + hex(first).mid(1));
  EXPECT_TRUE(lines[2].contains(" checksum-error+start-of-frame ")) << lines[2].constData();
  EXPECT_EQ(lines[3], "  bytes: " + hex(bad));
  EXPECT_EQ(lines[5], "  bytes: " + hex(std::vector<std::uint8_t>(next.begin() + 5, next.end())).mid(1));

  for (const char* format : {"csv", "json"}) {
    monitor.Start({"monitor", "--port", pty.SlavePath().c_str(), "--length", "24", "--raw", "--format", format});
    ASSERT_TRUE(monitor.WaitForStderr("listening on")) << monitor.Stderr().constData();
    pty.Write(good);
    const bool csv = QByteArray(format) == "csv";
    ASSERT_TRUE(monitor.WaitForLines(csv ? 2 : 1)) << monitor.Stderr().constData();
    monitor.Signal(SIGINT);
    ASSERT_EQ(monitor.Finish(), 0) << monitor.Stderr().constData();
    const QList<QByteArray> rows = monitor.StdoutLines();
    if (csv) {
      ASSERT_EQ(rows.size(), 2);
      EXPECT_TRUE(rows[0].endsWith(",bytes")) << rows[0].constData();
      EXPECT_TRUE(rows[1].endsWith("," + hex(good))) << rows[1].constData();
      EXPECT_EQ(rows[1].count(','), rows[0].count(','));
    } else {
      ASSERT_EQ(rows.size(), 1);
      EXPECT_TRUE(rows[0].endsWith(",\"bytes\":\"" + hex(good) + "\"}")) << rows[0].constData();
    }
  }
}

// Either end of the cable unplugged and plugged in again while frames flow:
// each command says once that its device is lost and once that it is back,
// and goes on; the capture file goes on too. With --no-reconnect a lost
// device ends the command with exit code 1.
TEST_F(SendMonitor, BothEndsReconnectByDefaultAndFailWithoutReconnecting) {
  StartMonitor({"--format", "csv"});
  Sender.Start({"send", "--port", "COM3"});
  ASSERT_TRUE(Sender.WaitForStderr("sending on")) << Sender.Stderr().constData();
  const auto goodLines = [this] { return MonitorStatuses().count(0); };
  ASSERT_TRUE(WaitUntil([&] { return goodLines() >= 3; }, std::chrono::seconds(30)));

  for (const char* end : {"COM4", "COM3"}) {
    CliRunner& user = QByteArray(end) == "COM4" ? Monitor : Sender;
    Relay.WriteStdin(QByteArray("unplug ") + end + "\n");
    ASSERT_TRUE(user.WaitForStderr("lost: the device hung up or went away; waiting for it to come back"))
        << end << user.Stderr().constData();
    Relay.WriteStdin(QByteArray("replug ") + end + "\n");
    ASSERT_TRUE(user.WaitForStderr(QByteArray(end) + " (")) << user.Stderr().constData();
    ASSERT_TRUE(user.WaitForStderr(") is back")) << end << user.Stderr().constData();
    const int before = goodLines();
    EXPECT_TRUE(WaitUntil([&] { return goodLines() >= before + 3; }, std::chrono::seconds(30))) << end;
  }
  Sender.Signal(SIGINT);
  EXPECT_EQ(Sender.Finish(), 0) << Sender.Stderr().constData();
  Monitor.Signal(SIGINT);
  EXPECT_EQ(Monitor.Finish(), 0) << Monitor.Stderr().constData();
  EXPECT_EQ(Monitor.Stderr().count("lost:"), 1);
  EXPECT_EQ(Sender.Stderr().count("lost:"), 1);
  EXPECT_FALSE(Sender.Stderr().contains("fails; still trying")) << Sender.Stderr().constData();
  // One capture, every good frame the monitor saw in it.
  int good = 0;
  for (const CaptureFormat::Record& record : Capture()) good += record.Status == 0;
  EXPECT_EQ(good, goodLines());
  QFile file(CapturePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().count("Log Start"), 1);

  int replugged = 2;
  for (const QString command : {"monitor", "send"}) {
    CliRunner run;
    run.Start({command, "--port", "COM4", "--no-reconnect"});
    ASSERT_TRUE(run.WaitForStderr(command == "monitor" ? "listening on" : "sending on")) << run.Stderr().constData();
    Relay.WriteStdin("unplug COM4\n");
    EXPECT_EQ(run.Finish(), 1) << run.Stderr().constData();
    EXPECT_TRUE(run.Stderr().contains("lost: the device hung up or went away\n")) << run.Stderr().constData();
    Relay.WriteStdin("replug COM4\n");
    ++replugged;
    ASSERT_TRUE(WaitUntil([&] { return Relay.Stderr().count("plugged in again") == replugged; }));
  }
}
