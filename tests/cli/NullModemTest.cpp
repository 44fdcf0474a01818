// quorlink nullmodem: a virtual cable between two mapped ports, and the
// mapping put back when it ends.

#include "CliRunner.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "serial/DeviceMap.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

int OpenEnd(const QString& path) {
  return ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// Sends a to b and b to a at the same time, as fast as both ends take it.
// Returns false at the deadline.
bool Exchange(int endA, int endB, const std::vector<unsigned char>& toB, const std::vector<unsigned char>& toA,
              std::vector<unsigned char>& gotB, std::vector<unsigned char>& gotA) {
  size_t sentB = 0, sentA = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  unsigned char buffer[8192];
  while (gotB.size() < toB.size() || gotA.size() < toA.size()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd fds[2] = {{endA, POLLIN, 0}, {endB, POLLIN, 0}};
    if (sentB < toB.size()) fds[0].events |= POLLOUT;
    if (sentA < toA.size()) fds[1].events |= POLLOUT;
    poll(fds, 2, 200);
    if (fds[0].revents & POLLOUT) {
      const ssize_t n = ::write(endA, toB.data() + sentB, std::min<size_t>(4096, toB.size() - sentB));
      if (n > 0) sentB += static_cast<size_t>(n);
    }
    if (fds[1].revents & POLLOUT) {
      const ssize_t n = ::write(endB, toA.data() + sentA, std::min<size_t>(4096, toA.size() - sentA));
      if (n > 0) sentA += static_cast<size_t>(n);
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(endA, buffer, sizeof buffer);
      if (n > 0) gotA.insert(gotA.end(), buffer, buffer + n);
    }
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(endB, buffer, sizeof buffer);
      if (n > 0) gotB.insert(gotB.end(), buffer, buffer + n);
    }
  }
  return true;
}

std::vector<unsigned char> RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(i < 256 ? i : random());
  return bytes;
}

}  // namespace

TEST(NullModem, CarriesAMebibyteBothWaysAndRestoresTheMappingOnSigterm) {
  TestSettings settings;
  ASSERT_TRUE(SetComDevicePath(1, "/dev/ttyUSB7"));  // an earlier choice of the user

  CliRunner relay;
  relay.Start({"nullmodem"});
  ASSERT_TRUE(relay.WaitForLines(2)) << relay.Stderr().constData();
  const QString pathA = NullModemPath(relay.Stdout(), 1);
  const QString pathB = NullModemPath(relay.Stdout(), 2);
  ASSERT_FALSE(pathA.isEmpty());
  ASSERT_FALSE(pathB.isEmpty());
  EXPECT_EQ(ComDevicePath(1), pathA.toStdString());
  EXPECT_EQ(ComDevicePath(2), pathB.toStdString());

  CliRunner check;
  EXPECT_EQ(check.Run({"ports", "--check", "COM2"}), 0) << check.Stdout().constData();

  const int endA = OpenEnd(pathA);
  const int endB = OpenEnd(pathB);
  ASSERT_GE(endA, 0);
  ASSERT_GE(endB, 0);
  const std::vector<unsigned char> toB = RandomBytes(1 << 20, 1), toA = RandomBytes(1 << 20, 2);
  std::vector<unsigned char> gotB, gotA;
  ASSERT_TRUE(Exchange(endA, endB, toB, toA, gotB, gotA)) << gotB.size() << " and " << gotA.size() << " bytes arrived";
  EXPECT_TRUE(gotB == toB);
  EXPECT_TRUE(gotA == toA);
  close(endA);
  close(endB);

  relay.Signal(SIGTERM);
  EXPECT_EQ(relay.Finish(), 0) << relay.Stderr().constData();
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyUSB7");
  EXPECT_EQ(ComDevicePath(2), DefaultComDevicePath(2));
  EXPECT_EQ(check.Run({"ports", "--check", "COM2"}), 1);
}

TEST(NullModem, DropsWhatIsSentWhileNobodyListens) {
  TestSettings settings;
  CliRunner relay;
  relay.Start({"nullmodem", "COM3", "COM4"});
  ASSERT_TRUE(relay.WaitForLines(2)) << relay.Stderr().constData();
  const QString pathA = NullModemPath(relay.Stdout(), 3);
  const QString pathB = NullModemPath(relay.Stdout(), 4);

  // With COM4 closed, bytes from COM3 go nowhere; once COM4 is open they arrive.
  const int endA = OpenEnd(pathA);
  ASSERT_GE(endA, 0);
  ASSERT_EQ(::write(endA, "lost", 4), 4);
  // The relay's counts (SIGUSR1) tell when it has dropped them.
  bool dropped = false;
  for (int i = 0; i < 60 && !dropped; ++i) {
    relay.Signal(SIGUSR1);
    dropped = relay.WaitForStderr("(4 dropped", std::chrono::milliseconds(500));
  }
  ASSERT_TRUE(dropped) << relay.Stderr().constData();
  const int endB = OpenEnd(pathB);
  ASSERT_GE(endB, 0);
  ASSERT_EQ(::write(endA, "kept", 4), 4);
  std::vector<unsigned char> got;
  ASSERT_TRUE(WaitUntil([&] {
    unsigned char buffer[64];
    const ssize_t n = ::read(endB, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
    return got.size() >= 4;
  }));
  EXPECT_EQ(std::string(got.begin(), got.end()), "kept");
  close(endA);
  close(endB);

  relay.Signal(SIGINT);
  EXPECT_EQ(relay.Finish(), 0);
  EXPECT_EQ(ComDevicePath(3), DefaultComDevicePath(3));
  EXPECT_EQ(ComDevicePath(4), DefaultComDevicePath(4));
}

// A relay's mapping lasts as long as the relay, however relays start and end,
// and the port of one that was killed is never opened, even where its path
// leads to somebody else's terminal by now.
TEST(NullModem, KilledAndInterleavedRelaysLeaveTheMappingAsItWasAndTheirPortsUnopened) {
  TestSettings settings;
  ASSERT_TRUE(SetComDevicePath(1, "/dev/ttyUSB7"));
  CliRunner a, b;
  a.Start({"nullmodem", "COM1", "COM2"});
  ASSERT_TRUE(a.WaitForLines(2)) << a.Stderr().constData();
  b.Start({"nullmodem", "COM1", "COM3"});
  ASSERT_TRUE(b.WaitForLines(2)) << b.Stderr().constData();
  const std::string a1 = NullModemPath(a.Stdout(), 1).toStdString(), a2 = NullModemPath(a.Stdout(), 2).toStdString();
  const std::string b1 = NullModemPath(b.Stdout(), 1).toStdString(), b3 = NullModemPath(b.Stdout(), 3).toStdString();
  EXPECT_EQ(ComDevicePath(1), b1);
  EXPECT_EQ(ComDevicePath(2), a2);
  EXPECT_EQ(ComDevicePath(3), b3);

  b.Signal(SIGKILL);
  EXPECT_EQ(b.Finish(), -1);
  EXPECT_EQ(ComDevicePath(1), a1);
  EXPECT_EQ(ComDevicePath(3), DefaultComDevicePath(3));
  a.Signal(SIGTERM);
  EXPECT_EQ(a.Finish(), 0) << a.Stderr().constData();
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyUSB7");
  EXPECT_EQ(ComDevicePath(2), DefaultComDevicePath(2));

  // The last relay on COM1 killed: its path now leads to another program's terminal.
  CliRunner c;
  c.Start({"nullmodem", "COM1", "COM2"});
  ASSERT_TRUE(c.WaitForLines(2)) << c.Stderr().constData();
  const std::string c1 = NullModemPath(c.Stdout(), 1).toStdString();
  c.Signal(SIGKILL);
  EXPECT_EQ(c.Finish(), -1);
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyUSB7");
  PtyPair terminal;
  termios cooked{};
  tcgetattr(terminal.SlaveFd(), &cooked);
  cooked.c_lflag |= ICANON | ECHO;
  tcsetattr(terminal.SlaveFd(), TCSANOW, &cooked);
  unlink(c1.c_str());
  ASSERT_EQ(symlink(terminal.SlavePath().c_str(), c1.c_str()), 0);

  CliRunner run;
  EXPECT_EQ(run.Run({"ports", "--check", "COM1"}), 1);
  EXPECT_TRUE(run.Stderr().contains("has ended")) << run.Stderr().constData();
  EXPECT_EQ(run.Run({"send", "--port", QString::fromStdString(c1), "--count", "3"}), 1);
  EXPECT_TRUE(run.Stderr().contains("has ended")) << run.Stderr().constData();
  EXPECT_TRUE(terminal.Read(1, std::chrono::milliseconds(300)).empty());
  termios after{};
  tcgetattr(terminal.SlaveFd(), &after);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}
