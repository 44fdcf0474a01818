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
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using ::testing::HasSubstr;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes frame = {0x2F, 0x01, 0x02, 0xCE};

// Every byte value, in an order that is not a plain counter.
Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
  return bytes;
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
    ASSERT_GE(probe, 0);
  }
  void TearDown() override { close(probe); }

  termios Line() const {
    termios t{};
    tcgetattr(probe, &t);
    return t;
  }
  int Waiting() const {  // bytes in the terminal's input, whoever reads them
    int n = 0;
    ioctl(probe, FIONREAD, &n);
    return n;
  }
  int Write(const Bytes& bytes) { return port.Write(bytes.data(), static_cast<int>(bytes.size())); }
  // Reads from the port until want bytes arrived or the deadline passed.
  Bytes ReadFromPort(std::size_t want, std::chrono::milliseconds deadline = 20s) {
    Bytes got;
    WaitUntil(
        [&] {
          std::uint8_t buffer[256];
          int n = sizeof buffer;
          while (got.size() < want && port.Read(buffer, n) && n > 0) {
            got.insert(got.end(), buffer, buffer + n);
            n = sizeof buffer;
          }
          return got.size() >= want;
        },
        deadline);
    return got;
  }

  TestSettings settings;
  PtyPair pty;
  // The test's own descriptor on the port's terminal, to see the line as the kernel keeps it.
  int probe = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  TComPort port;
};

TEST_F(ComPortTest, MillionBytesOfEveryValuePassUnchangedBothWays) {
  // Start from a cooked line (canonical, echo, CR/NL mapping, XON/XOFF,
  // signals, bit 7 stripped, 0xFF marked): Open has to make it raw.
  termios cooked = Line();
  cooked.c_iflag |= ICRNL | INLCR | IXON | ISTRIP | PARMRK | BRKINT;
  cooked.c_oflag |= OPOST | ONLCR;
  cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  tcsetattr(probe, TCSANOW, &cooked);
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const Bytes data = Pattern(1 << 20);

  Bytes atMaster;
  std::thread reader([&] { atMaster = pty.Read(data.size(), 60s); });
  int failedWrites = 0;
  for (std::size_t offset = 0; offset < data.size(); offset += 4096)
    failedWrites += 1 - port.Write(data.data() + offset, 4096);
  reader.join();
  EXPECT_EQ(failedWrites, 0);
  EXPECT_TRUE(atMaster == data) << atMaster.size() << " bytes arrived";

  // The other way, asking for varying counts: a success delivers 1 to the asked count.
  std::atomic<bool> written{false};
  std::thread writer([&] {
    pty.Write(data);
    written = true;
  });
  Bytes atPort;
  bool wrongCount = false;
  int ask = 0;
  WaitUntil(
      [&] {
        std::uint8_t buffer[1000];
        for (;;) {
          const int wanted = (++ask % 4) == 0 ? 1000 : ask % 300 + 1;
          int n = wanted;
          if (!port.Read(buffer, n)) return atPort.size() >= data.size();
          if (n < 1 || n > std::min(wanted, 256)) return wrongCount = true;
          atPort.insert(atPort.end(), buffer, buffer + n);
        }
      },
      60s);
  for (std::uint8_t sink[4096]; !written;)  // after a failure, let the writer finish
    if (read(probe, sink, sizeof sink) <= 0) std::this_thread::sleep_for(1ms);
  writer.join();
  EXPECT_FALSE(wrongCount);
  EXPECT_TRUE(atPort == data) << atPort.size() << " bytes arrived";
}

TEST_F(ComPortTest, ReadReturnsZeroUntilAByteArrives) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  std::uint8_t byte = 0xAA;
  for (int i = 0; i < 5; ++i) {
    int count = 4;
    EXPECT_EQ(port.Read(&byte, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(port.LastReadError(), TPortError::None);
  }
  EXPECT_EQ(byte, 0xAA);
  pty.Write({0x2F});
  ASSERT_TRUE(WaitUntil([&] { return port.ReadByte(&byte) == 1; }));
  EXPECT_EQ(byte, 0x2F);
  EXPECT_EQ(port.ReadByte(&byte), 0);
}

TEST_F(ComPortTest, AfterCloseNothingWorksAndReopenStartsClean) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  pty.Write({'A', 'B', 'C', 'D', 'E', 'F'});
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 6; }));
  std::uint8_t byte = 0;
  ASSERT_EQ(port.ReadByte(&byte), 1);  // B to F now wait in the port's read-ahead
  EXPECT_EQ(byte, 'A');

  port.Close();
  EXPECT_EQ(port.IsOpen, 0);
  EXPECT_EQ(Write(frame), 0);
  EXPECT_EQ(port.LastWriteError(), TPortError::NotOpen);
  EXPECT_EQ(port.ReadByte(&byte), 0);
  EXPECT_EQ(port.LastReadError(), TPortError::NotOpen);

  pty.Write({'X', 'Y'});
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 2; }));
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(ReadFromPort(2, 2s), (Bytes{'X', 'Y'}));
}

TEST_F(ComPortTest, SecondOpenerInThisProcessIsRefusedAndKeepsItsState) {
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  TComPort other;
  other.PortNumber = 1;
  EXPECT_EQ(other.Open(), 0);
  EXPECT_EQ(other.IsOpen, 0);
  EXPECT_EQ(other.LastErrorKind(), TPortError::Busy);
  EXPECT_THAT(other.LastError(), HasSubstr("in use by another program"));
  EXPECT_THAT(other.LastError(), HasSubstr(pty.SlavePath()));

  // An open port turning to the busy device drops its own device first and stays marked open.
  PtyPair second;
  ASSERT_TRUE(SetComDevicePath(2, second.SlavePath()));
  other.PortNumber = 2;
  ASSERT_EQ(other.Open(), 1) << other.LastError();
  other.PortNumber = 1;
  EXPECT_EQ(other.Open(), 0);
  EXPECT_EQ(other.IsOpen, 1);

  EXPECT_EQ(Write(frame), 1);
  EXPECT_EQ(pty.Read(4), frame);
  port.Close();
  EXPECT_EQ(other.Open(), 1) << other.LastError();
  EXPECT_EQ(other.LastErrorKind(), TPortError::None);
}

TEST_F(ComPortTest, OpenerInAnotherProcessIsRefused) {
  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  // The child holds COM1 while the parent tries it, gives it up, then tries it
  // while the parent holds it; each step waits for the other side.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto say = [&](char c) {
      if (write(up[1], &c, 1) != 1) _exit(2);
    };
    auto wait = [&] {
      char c;
      if (read(down[0], &c, 1) != 1) _exit(2);
    };
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
  auto hear = [&] {
    char c = 0;
    return read(up[0], &c, 1) == 1 ? c : '?';
  };
  auto go = [&] { return write(down[1], "g", 1) == 1; };

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
  for (int fd : {up[0], up[1], down[0], down[1]}) close(fd);
}

TEST_F(ComPortTest, PortNumbersAndPathsThatAreNoSerialDeviceAreRefused) {
  for (int number : {0, 5, 255}) {
    port.PortNumber = static_cast<std::uint8_t>(number);
    EXPECT_EQ(port.Open(), 0) << number;
    EXPECT_EQ(port.LastErrorKind(), TPortError::BadArgument);
    EXPECT_THAT(port.LastError(), HasSubstr("COM1 to COM4"));
  }
  port.PortNumber = 1;
  const std::string folder = settings.Folder().toStdString();
  QFile file(settings.Folder() + "/not-a-port.txt");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("keep me");
  file.close();
  for (const auto& [path, reason, kind] :
       {std::tuple{file.fileName().toStdString(), "not a serial device", TPortError::NotSerial},
        {folder, "not a serial device", TPortError::NotSerial},
        {"/dev/null", "not a serial device", TPortError::NotSerial},
        {folder + "/ttyUSB9", "no such device", TPortError::NoDevice}}) {
    ASSERT_TRUE(SetComDevicePath(1, path));
    EXPECT_EQ(port.Open(), 0) << path;
    EXPECT_EQ(port.IsOpen, 0) << path;
    EXPECT_EQ(port.LastErrorKind(), kind) << path;
    EXPECT_THAT(port.LastError(), HasSubstr(reason));
    EXPECT_THAT(port.LastError(), HasSubstr(path));
  }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "keep me");
}

TEST_F(ComPortTest, ExplicitDevicePathStandsInForTheComMapping) {
  ASSERT_TRUE(SetComDevicePath(1, "/dev/null"));
  port.DevicePathOverride = pty.SlavePath();
  port.PortNumber = 0;  // no COM number needed then
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(port.DevicePath(), pty.SlavePath());
  EXPECT_EQ(Write(frame), 1);
  EXPECT_EQ(pty.Read(4), frame);
  port.DevicePathOverride = settings.Folder().toStdString() + "/gone";
  EXPECT_EQ(port.Open(), 0);
  EXPECT_THAT(port.LastError(), HasSubstr(port.DevicePathOverride + ": no such device"));
}

TEST_F(ComPortTest, DeviceWithoutPermissionNamesTheDialoutGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every device";
  ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0), 0);
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.IsOpen, 0);
  EXPECT_EQ(port.LastErrorKind(), TPortError::Permission);
  EXPECT_THAT(port.LastError(), HasSubstr("permission denied"));
  EXPECT_THAT(port.LastError(), HasSubstr("dialout"));
}

TEST_F(ComPortTest, RatesReachTheDriverUnchanged) {
  for (int rate : {31250, 250000, 9600, 115200}) {
    port.BaudRate = rate;
    ASSERT_EQ(port.Open(), 1) << rate << ": " << port.LastError();
    const LineRate line = ProbeLineRate(probe);
    EXPECT_EQ(line.OutputRate, rate);
    EXPECT_EQ(line.CustomRate, rate == 31250 || rate == 250000) << rate;
  }
  // A pty takes any positive rate, so only rates no driver takes are refused
  // here. The device is held by then, so the port counts as open.
  for (int rate : {0, -9600}) {
    port.BaudRate = rate;
    EXPECT_EQ(port.Open(), 0) << rate;
    EXPECT_EQ(port.IsOpen, 1);
    EXPECT_EQ(port.LastErrorKind(), TPortError::BadArgument);
    EXPECT_THAT(port.LastError(), HasSubstr("not valid"));
  }
}

TEST_F(ComPortTest, APtyGetsTheLineItCarriesSaysWhatItDoesNotApplyAndLeavesFlowControlAlone) {
  termios t = Line();
  t.c_cflag |= CRTSCTS;
  tcsetattr(probe, TCSANOW, &t);
  port.FlowControl = 2;
  // A pty carries whole bytes: it gets 8 data bits without parity, whatever
  // was chosen (some kernels refuse anything else), and the stop bits.
  const struct {
    int dataBits, parity, stopBits;
    tcflag_t seen;
    const char* notApplied;
  } cases[] = {
      {8, 0, 0, CS8, nullptr},
      {7, 1, 0, CS8, "odd parity and 7 data bits are not applied"},
      {8, 2, 2, CS8 | CSTOPB, "even parity is not applied"},
      {7, 3, 0, CS8, "mark parity and 7 data bits are"},
      {8, 4, 0, CS8, "space parity is"},
      {5, 0, 1, CS8 | CSTOPB, ", so 5 data bits are not applied."},  // one and a half stop bits go as two
  };
  const Bytes high = {0x2F, 0x80, 0xFF, 0x51};  // bit 7 set: lost on a real 7-bit line
  for (const auto& c : cases) {
    port.DataBits = static_cast<std::uint8_t>(c.dataBits);
    port.Parity = static_cast<std::uint8_t>(c.parity);
    port.StopBits = static_cast<std::uint8_t>(c.stopBits);
    ASSERT_EQ(port.Open(), 1) << port.LastError();
    EXPECT_EQ(Line().c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.seen)
        << c.dataBits << c.parity << c.stopBits;
    EXPECT_TRUE(Line().c_cflag & CRTSCTS) << "hardware flow control was changed";
    if (c.notApplied) {
      EXPECT_THAT(port.OpenNotice(), HasSubstr("COM1 (" + pty.SlavePath() + ") is a virtual port"));
      EXPECT_THAT(port.OpenNotice(), HasSubstr(c.notApplied));
    } else {
      EXPECT_EQ(port.OpenNotice(), "");
    }
    ASSERT_EQ(Write(high), 1);
    EXPECT_EQ(pty.Read(high.size()), high);
  }
  for (const auto& [dataBits, parity, stopBits, reason] :
       {std::tuple{9, 0, 0, "9 data bits"}, {8, 5, 0, "parity code 5"}, {8, 0, 3, "stop-bits code 3"}}) {
    port.DataBits = static_cast<std::uint8_t>(dataBits);
    port.Parity = static_cast<std::uint8_t>(parity);
    port.StopBits = static_cast<std::uint8_t>(stopBits);
    EXPECT_EQ(port.Open(), 0);
    EXPECT_EQ(port.LastErrorKind(), TPortError::BadArgument);
    EXPECT_THAT(port.LastError(), HasSubstr(reason));
  }
}

bool StateChanged(const TComPort& port) {
  pollfd p{port.StateDescriptor(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

TEST_F(ComPortTest, HangUpIsNoticedAndTheLostPortWaitsWithoutSpinning) {
  port.Reconnect = false;
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(port.State(), TPortState::Open);
  EXPECT_EQ(port.StateDevice(), pty.SlavePath());
  port.ClearStateChange();
  pty.CloseMaster();
  // Noticed without a read or a write.
  ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Lost; }));
  EXPECT_TRUE(StateChanged(port));
  EXPECT_EQ(port.LossReason(), TPortError::HungUp);
  EXPECT_EQ(port.StateDevice(), pty.SlavePath());
  // The worker polls every 10 ms: each poll must come back at once with nothing.
  int delivered = 0;
  const double cpuBefore = ThreadCpuMs();
  for (int i = 0; i < 20; ++i) {
    std::uint8_t byte = 0;
    delivered += port.ReadByte(&byte);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 100.0) << "reading a lost device burns CPU";
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(Write(frame), 0);
  EXPECT_EQ(port.IsOpen, 1);  // open until the program closes it

  PtyPair back;  // the device comes back, under another name as a replugged adapter may
  ASSERT_TRUE(SetComDevicePath(1, back.SlavePath()));
  port.Close();
  EXPECT_EQ(port.State(), TPortState::Closed);
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(Write(frame), 1);
  EXPECT_EQ(port.LastWriteError(), TPortError::None);
  EXPECT_EQ(back.Read(4), frame);
}

// A device behind a path that stays, unplugged and plugged in again.
TEST_F(ComPortTest, ALostDeviceIsOpenedAgainWithTheSameLineSettingsWhenItsPathIsBack) {
  PluggedPty device(settings.Folder().toStdString() + "/ttyUSB0");
  ASSERT_TRUE(SetComDevicePath(1, device.Path()));
  port.BaudRate = 19200;
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const std::uint32_t first = port.Connection();

  for (int round = 0; round < 2; ++round) {
    device.Unplug();
    ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Lost; })) << round;
    EXPECT_EQ(port.StateDevice(), device.Path());
    EXPECT_EQ(Write(frame), 0);
    device.Replug();
    ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Open; })) << round;
    EXPECT_EQ(port.Connection(), first + 1 + round);
    EXPECT_EQ(ProbeLineRate(device.Pty().SlaveFd()).OutputRate, 19200);
    EXPECT_EQ(Write(frame), 1);
    EXPECT_EQ(device.Pty().Read(4), frame);
    device.Pty().Write(frame);
    EXPECT_EQ(ReadFromPort(4), frame);
  }

  // Busy when it comes back: tried again until it is free.
  device.Unplug();
  ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Lost; }));
  TComPort other;
  device.Replug([&other](PtyPair& fresh) {
    other.DevicePathOverride = fresh.SlavePath();
    EXPECT_EQ(other.Open(), 1) << other.LastError();
  });
  ASSERT_TRUE(WaitUntil([&] { return port.LossReason() == TPortError::Busy; }));
  other.Close();
  ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Open; }));

  // Closing while it waits ends the waiting: a device back later stays alone.
  device.Unplug();
  ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Lost; }));
  port.Close();
  EXPECT_EQ(port.State(), TPortState::Closed);
  EXPECT_EQ(port.IsOpen, 0);
  device.Replug();
  other.DevicePathOverride = device.Path();
  EXPECT_EQ(other.Open(), 1) << "the closed port took the device back: " << other.LastError();
}

// Nobody reads the other end, so the block cannot leave within the bound the
// write sets itself.
TEST_F(ComPortTest, AWriteThatCannotLeaveInTimeSaysItTimedOut) {
  port.BaudRate = 4000000;  // the bound is then about 2.3 s for 64 KiB
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(Write(Bytes(64 * 1024, 0x55)), 0);
  EXPECT_EQ(port.LastWriteError(), TPortError::TimedOut);
  EXPECT_EQ(port.IsOpen, 1);
}

TEST_F(ComPortTest, CloseFromAnotherThreadEndsAWriteThatCannotFinish) {
  port.BaudRate = 9600;  // 64 KiB take over a minute on the wire at this rate
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  const Bytes block(64 * 1024, 0x55);
  std::atomic<int> result{-1};
  std::thread writer([&] { result = Write(block); });
  // Nobody reads the master: once bytes show up there the pty fills and the writer waits.
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
  EXPECT_EQ(port.LastWriteError(), TPortError::Interrupted);
  EXPECT_EQ(port.IsOpen, 0);

  pty.Read(block.size(), 500ms);  // what got through before the close
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  EXPECT_EQ(Write(frame), 1);
  EXPECT_EQ(pty.Read(4), frame);
}

TEST_F(ComPortTest, WaitForInputWakesOnBytesCloseOrTheCallerAndSleepsWhileClosedOrLost) {
  // Closed: it sleeps until the port is open, then the caller reads.
  EXPECT_EQ(port.WaitForInput(0, -1), 0);
  std::thread opened([&] { port.WaitForInput(-1, -1); });
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  pty.Write(frame);  // for a waiter that only began after the open
  opened.join();     // the open (or the frame after it) ended the wait
  ASSERT_EQ(ReadFromPort(frame.size()), frame);
  EXPECT_EQ(port.WaitForInput(0, -1), 0);

  // Bytes written while it waits end the wait; bytes already read ahead count too.
  std::thread writer([&] { pty.Write(frame); });
  EXPECT_EQ(port.WaitForInput(-1, -1), 1);
  writer.join();
  std::uint8_t byte = 0;
  ASSERT_TRUE(WaitUntil([&] { return port.ReadByte(&byte) == 1; }));
  EXPECT_EQ(port.WaitForInput(0, -1), 1);  // three more bytes are read ahead
  EXPECT_EQ(ReadFromPort(3), Bytes(frame.begin() + 1, frame.end()));
  EXPECT_EQ(port.WaitForInput(0, -1), 0);

  // The caller's own descriptor ends it.
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::thread waker([&] {
    const std::uint64_t one = 1;
    ASSERT_EQ(write(wake, &one, sizeof one), 8);
  });
  EXPECT_EQ(port.WaitForInput(-1, wake), -1);
  waker.join();
  close(wake);

  // Close from another thread ends it and then closes the port; a waiter that
  // comes after the close sleeps until its own descriptor wakes it.
  const int late = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::atomic<int> waited{2};
  std::thread waiter([&] { waited = port.WaitForInput(-1, late); });
  port.Close();  // would hang here if the waiter kept the port
  EXPECT_EQ(port.IsOpen, 0);
  const std::uint64_t one = 1;
  ASSERT_EQ(write(late, &one, sizeof one), 8);
  waiter.join();
  close(late);
  EXPECT_EQ(waited, -1);

  // A lost device: it sleeps until the time-out, or until the caller wakes it.
  ASSERT_EQ(port.Open(), 1) << port.LastError();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return port.State() == TPortState::Lost; }));
  EXPECT_EQ(port.WaitForInput(0, -1), 0);
  const int stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  waited = 2;
  std::thread sleeper([&] { waited = port.WaitForInput(-1, stop); });
  ASSERT_EQ(write(stop, &one, sizeof one), 8);
  sleeper.join();
  close(stop);
  EXPECT_EQ(waited, -1);
}
