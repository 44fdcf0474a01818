#include "serial/ComPort.h"
#include "serial/DeviceMap.h"

#include "LineProbe.h"
#include "PtyPair.h"
#include "TestSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using ::testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

// A descriptor of the test's own on the port's terminal, to see and set what
// the kernel holds for the line independently of the port.
class Probe {
public:
  explicit Probe(const std::string& path) : Fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Probe() {
    if (Fd >= 0) close(Fd);
  }
  termios Get() const {
    termios t{};
    tcgetattr(Fd, &t);
    return t;
  }
  void Set(const termios& t) const { tcsetattr(Fd, TCSANOW, &t); }
  // Bytes waiting in the terminal's input, whoever reads them.
  int Waiting() const {
    int n = 0;
    ioctl(Fd, FIONREAD, &n);
    return n;
  }
  // A line as a fresh terminal has it: canonical, echoing, mapping CR/NL,
  // XON/XOFF, signals, stripping bit 7, marking 0xFF.
  void Cook() const {
    termios t = Get();
    t.c_iflag |= ICRNL | INLCR | IXON | ISTRIP | PARMRK | BRKINT;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    Set(t);
  }
  const int Fd;
};

// Every byte value, in an order that is not a plain counter.
std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
  return bytes;
}

std::string FirstDifference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
  const std::size_t n = std::min(got.size(), want.size());
  for (std::size_t i = 0; i < n; ++i)
    if (got[i] != want[i]) return "first difference at byte " + std::to_string(i);
  return got.size() == want.size() ? "equal" : "got " + std::to_string(got.size()) + " of " + std::to_string(want.size()) + " bytes";
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

class ComPortTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SetComDevicePath(1, pty.SlavePath()));
    port.PortNumber = 1;
    ASSERT_GE(probe.Fd, 0);
  }

  // Reads from the port until want bytes arrived or the deadline passed.
  std::vector<std::uint8_t> ReadFromPort(std::size_t want, std::chrono::milliseconds deadline = 20s) {
    std::vector<std::uint8_t> got;
    WaitUntil([&] {
      std::uint8_t buffer[256];
      int n = sizeof buffer;
      while (got.size() < want && port.Read(buffer, n) && n > 0) {
        got.insert(got.end(), buffer, buffer + n);
        n = sizeof buffer;
      }
      return got.size() >= want;
    }, deadline);
    return got;
  }

  TestSettings settings;
  PtyPair pty;
  Probe probe{pty.SlavePath()};
  TComPort port;
};

TEST_F(ComPortTest, PortNumbersOutsideOneToFourOpenNothing) {
  for (int number : {0, 5, 255}) {
    port.PortNumber = static_cast<std::uint8_t>(number);
    EXPECT_EQ(port.Open(), 0) << number;
    EXPECT_EQ(port.IsOpen, 0);
    EXPECT_THAT(port.LastError(), HasSubstr("COM1 to COM4"));
    EXPECT_EQ(port.DevicePath(), "");
  }
}

TEST_F(ComPortTest, MillionBytesOfEveryValuePassUnchangedBothWays) {
  // Start from a cooked line: Open has to make it raw.
  probe.Cook();
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const std::vector<std::uint8_t> data = Pattern(1 << 20);

  std::vector<std::uint8_t> atMaster;
  std::thread reader([&] { atMaster = pty.Read(data.size(), 60s); });
  int failedWrites = 0;
  for (std::size_t offset = 0; offset < data.size(); offset += 4096)
    if (port.Write(data.data() + offset, 4096) != 1) ++failedWrites;
  reader.join();
  EXPECT_EQ(failedWrites, 0);
  EXPECT_TRUE(atMaster == data) << FirstDifference(atMaster, data);

  // The other way, asking for varying counts: never more than asked is delivered.
  std::atomic<bool> written{false};
  std::thread writer([&] {
    pty.Write(data);
    written = true;
  });
  std::vector<std::uint8_t> atPort;
  const int asks[] = {1, 7, 256, 1000, 64};
  std::size_t ask = 0;
  bool wrongCount = false;  // success must mean 1 to wanted bytes
  WaitUntil([&] {
    std::uint8_t buffer[1000];
    for (;;) {
      const int wanted = asks[ask++ % 5];
      int n = wanted;
      if (!port.Read(buffer, n)) return atPort.size() >= data.size();
      if (n < 1 || n > std::min(wanted, 256)) {
        wrongCount = true;
        return true;
      }
      atPort.insert(atPort.end(), buffer, buffer + n);
    }
  }, 60s);
  while (!written) {  // after a failure, let the writer finish
    std::uint8_t sink[4096];
    if (read(probe.Fd, sink, sizeof sink) <= 0) std::this_thread::sleep_for(1ms);
  }
  writer.join();
  EXPECT_FALSE(wrongCount);
  EXPECT_TRUE(atPort == data) << FirstDifference(atPort, data);
}

TEST_F(ComPortTest, ReadReturnsZeroUntilAByteArrives) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  std::uint8_t byte = 0xAA;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(port.ReadByte(&byte), 0);
    int count = 4;
    EXPECT_EQ(port.Read(&byte, count), 0);
    EXPECT_EQ(count, 0);
  }
  EXPECT_EQ(byte, 0xAA);
  pty.Write({0x2F});
  ASSERT_TRUE(WaitUntil([&] { return port.ReadByte(&byte) == 1; }));
  EXPECT_EQ(byte, 0x2F);
  EXPECT_EQ(port.ReadByte(&byte), 0);
}

TEST_F(ComPortTest, WriteAndReadAfterCloseFailAndReopenStartsClean) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  pty.Write({'A', 'B', 'C', 'D', 'E', 'F'});
  ASSERT_TRUE(WaitUntil([&] { return probe.Waiting() == 6; }));
  std::uint8_t byte = 0;
  ASSERT_EQ(port.ReadByte(&byte), 1);  // B to F now wait in the port's read-ahead
  EXPECT_EQ(byte, 'A');

  port.Close();
  EXPECT_EQ(port.IsOpen, 0);
  const std::uint8_t frame[] = {0x2F, 0x00, 0xD1};
  EXPECT_EQ(port.Write(frame, 3), 0);
  EXPECT_EQ(port.ReadByte(&byte), 0);

  pty.Write({'X', 'Y'});
  ASSERT_TRUE(WaitUntil([&] { return probe.Waiting() == 2; }));
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(ReadFromPort(2, 2s), (std::vector<std::uint8_t>{'X', 'Y'}));
}

TEST_F(ComPortTest, SecondOpenerInThisProcessIsRefusedAndKeepsItsState) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();

  TComPort other;
  other.PortNumber = 1;
  EXPECT_EQ(other.Open(), 0);
  EXPECT_EQ(other.IsOpen, 0);
  EXPECT_THAT(other.LastError(), HasSubstr("in use by another program"));
  EXPECT_THAT(other.LastError(), HasSubstr(pty.SlavePath()));

  // An open port that turns to the busy device drops its own descriptor first
  // and stays marked open.
  PtyPair second;
  ASSERT_TRUE(SetComDevicePath(2, second.SlavePath()));
  other.PortNumber = 2;
  ASSERT_EQ(other.Open(), 1) << other.LastError();
  other.PortNumber = 1;
  EXPECT_EQ(other.Open(), 0);
  EXPECT_EQ(other.IsOpen, 1);
  TComPort third;
  third.PortNumber = 2;
  EXPECT_EQ(third.Open(), 1) << third.LastError();

  // The holder is undisturbed; once it closes, the device is free.
  const std::uint8_t frame[] = {0x2F, 0x01, 0x02, 0xCE};
  EXPECT_EQ(port.Write(frame, 4), 1);
  EXPECT_EQ(pty.Read(4), std::vector<std::uint8_t>(frame, frame + 4));
  port.Close();
  EXPECT_EQ(other.Open(), 1) << other.LastError();
}

TEST_F(ComPortTest, OpenerInAnotherProcessIsRefused) {
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  // The child holds COM1 while the parent tries it, gives it up, and then
  // tries it itself while the parent holds it. Each step waits for the other side.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto say = [&](char c) { if (write(toParent[1], &c, 1) != 1) _exit(2); };
    auto wait = [&] { char c; if (read(toChild[0], &c, 1) != 1) _exit(2); };
    {
      TComPort held;
      held.PortNumber = 1;
      say(held.Open() == 1 ? '1' : '0');
      wait();
    }
    say('c');
    wait();
    TComPort late;
    late.PortNumber = 1;
    say(late.Open() == 1 ? '1' : (late.IsOpen == 0 ? '0' : 'x'));
    _exit(0);
  }
  auto hear = [&] { char c = 0; return read(toParent[0], &c, 1) == 1 ? c : '?'; };
  auto go = [&] { const char c = 'g'; return write(toChild[1], &c, 1) == 1; };

  EXPECT_EQ(hear(), '1');
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.IsOpen, 0);
  EXPECT_THAT(port.LastError(), HasSubstr("in use by another program"));
  ASSERT_TRUE(go());
  EXPECT_EQ(hear(), 'c');
  EXPECT_EQ(port.Open(), 1) << port.LastError();
  ASSERT_TRUE(go());
  EXPECT_EQ(hear(), '0') << "the child opened a device the parent holds";
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

TEST_F(ComPortTest, PathsThatAreNoSerialDeviceAreRefused) {
  const std::string file = settings.Folder().toStdString() + "/not-a-port.txt";
  {
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {file, "not a serial device"},
      {settings.Folder().toStdString(), "not a serial device"},
      {"/dev/null", "not a serial device"},
      {settings.Folder().toStdString() + "/ttyUSB9", "no such device"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(SetComDevicePath(1, c.path));
    EXPECT_EQ(port.Open(), 0) << c.path;
    EXPECT_EQ(port.IsOpen, 0) << c.path;
    EXPECT_THAT(port.LastError(), HasSubstr(c.reason));
    EXPECT_THAT(port.LastError(), HasSubstr(c.path));
  }
  QFile f(QString::fromStdString(file));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("keep me"));
}

TEST_F(ComPortTest, DeviceWithoutPermissionNamesTheDialoutGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every device";
  ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0), 0);
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.IsOpen, 0);
  EXPECT_THAT(port.LastError(), HasSubstr("permission denied"));
  EXPECT_THAT(port.LastError(), HasSubstr("dialout"));
}

TEST_F(ComPortTest, RatesReachTheDriverUnchanged) {
  for (int rate : {31250, 250000, 9600, 115200}) {
    port.BaudRate = rate;
    ASSERT_EQ(port.Open(), 1) << rate << ": " << port.LastError();
    const LineRate line = ProbeLineRate(probe.Fd);
    EXPECT_EQ(line.OutputRate, rate);
    EXPECT_EQ(line.CustomRate, rate == 31250 || rate == 250000) << rate;
  }
  // Ptys take any positive rate, so only a rate no driver can take is refused
  // here; the descriptor is held by then, so the port counts as open.
  for (int rate : {0, -9600}) {
    port.BaudRate = rate;
    EXPECT_EQ(port.Open(), 0) << rate;
    EXPECT_EQ(port.IsOpen, 1);
    EXPECT_THAT(port.LastError(), HasSubstr("not valid"));
  }
}

TEST_F(ComPortTest, LineCodesSetTheFrameFormat) {
  // A pty forces 8 data bits and no parity enable, so only the parity sense,
  // mark/space and the stop bits can be seen here.
  const tcflag_t seen = PARODD | CMSPAR | CSTOPB;
  const struct {
    int dataBits, parity, stopBits;
    tcflag_t line;
  } cases[] = {
      {8, 0, 0, 0},
      {7, 1, 0, PARODD},
      {8, 2, 2, CSTOPB},
      {7, 3, 0, PARODD | CMSPAR},
      {8, 4, 0, CMSPAR},
      {5, 0, 1, CSTOPB},  // one and a half stop bits: the nearest termios has is two
  };
  for (const auto& c : cases) {
    port.DataBits = static_cast<std::uint8_t>(c.dataBits);
    port.Parity = static_cast<std::uint8_t>(c.parity);
    port.StopBits = static_cast<std::uint8_t>(c.stopBits);
    ASSERT_EQ(port.Open(), 1) << port.LastError();
    EXPECT_EQ(probe.Get().c_cflag & seen, c.line) << c.dataBits << " " << c.parity << " " << c.stopBits;
  }

  // Codes no line has are refused rather than guessed.
  const struct {
    int dataBits, parity, stopBits;
    const char* reason;
  } bad[] = {{9, 0, 0, "9 data bits"}, {8, 5, 0, "parity code 5"}, {8, 0, 3, "stop-bits code 3"}};
  for (const auto& c : bad) {
    port.DataBits = static_cast<std::uint8_t>(c.dataBits);
    port.Parity = static_cast<std::uint8_t>(c.parity);
    port.StopBits = static_cast<std::uint8_t>(c.stopBits);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_THAT(port.LastError(), HasSubstr(c.reason));
  }
}

TEST_F(ComPortTest, FlowControlIsKeptButNeverApplied) {
  termios t = probe.Get();
  t.c_cflag |= CRTSCTS;
  probe.Set(t);
  port.FlowControl = 0;
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const termios withNone = probe.Get();
  EXPECT_TRUE(withNone.c_cflag & CRTSCTS) << "the driver's hardware flow control was changed";

  port.FlowControl = 2;
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const termios withTwo = probe.Get();
  EXPECT_EQ(withTwo.c_cflag, withNone.c_cflag);
  EXPECT_EQ(withTwo.c_iflag, withNone.c_iflag);
  EXPECT_EQ(port.FlowControl, 2);
}

TEST_F(ComPortTest, HangUpFailsQuietlyWithoutSpinningAndReopenWorks) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  pty.CloseMaster();

  // The worker polls every 10 ms: each poll must come back at once with
  // nothing, not spin inside the port.
  int delivered = 0;
  const double cpuBefore = ThreadCpuMs();
  for (int i = 0; i < 20; ++i) {
    std::uint8_t byte = 0;
    delivered += port.ReadByte(&byte);
    std::this_thread::sleep_for(10ms);
  }
  const double cpuUsed = ThreadCpuMs() - cpuBefore;
  EXPECT_EQ(delivered, 0);
  EXPECT_LT(cpuUsed, 100.0) << "reading a hung-up device burns CPU";
  const std::uint8_t frame[] = {0x2F, 0x00, 0xD1};
  EXPECT_EQ(port.Write(frame, 3), 0);
  EXPECT_EQ(port.IsOpen, 1);  // open until the program closes it

  // The device comes back (under another name, as a replugged adapter may).
  PtyPair back;
  ASSERT_TRUE(SetComDevicePath(1, back.SlavePath()));
  port.Close();
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(port.Write(frame, 3), 1);
  EXPECT_EQ(back.Read(3), std::vector<std::uint8_t>(frame, frame + 3));
}

TEST_F(ComPortTest, CloseFromAnotherThreadEndsAWriteThatCannotFinish) {
  port.BaudRate = 9600;  // 64 KiB take over a minute on the wire at this rate
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const std::vector<std::uint8_t> block(64 * 1024, 0x55);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = port.Write(block.data(), static_cast<int>(block.size())); });
  // Nobody reads the master: once bytes show up there, the pty fills and the
  // writer has to wait.
  ASSERT_TRUE(WaitUntil([&] {
    int n = 0;
    ioctl(pty.MasterFd(), FIONREAD, &n);
    return n > 0;
  }));
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    port.Close();
    closed = true;
  });
  const bool ended = WaitUntil([&] { return closed && result != -1; }, 20s);
  if (!ended) pty.Read(block.size(), 5s);  // free both threads before failing
  closer.join();
  writer.join();
  ASSERT_TRUE(ended) << "Close did not end the waiting Write";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(port.IsOpen, 0);

  pty.Read(block.size(), 500ms);  // empty the master of what did get through
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const std::uint8_t frame[] = {0x2F, 0x00, 0xD1};
  EXPECT_EQ(port.Write(frame, 3), 1);
  EXPECT_EQ(pty.Read(3), std::vector<std::uint8_t>(frame, frame + 3));
}
