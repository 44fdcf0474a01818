#include "serial/ComPort.h"

#include "platform/WakeEvent.h"
#include "serial/ComPortBaud.h"
#include "serial/DeviceMap.h"
#include "serial/LineSettings.h"
#include "serial/Registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait while a write drains; keeps the check for a finished
// transmitter and for a hang-up frequent.
constexpr int maxDrainStepMs = 50;

struct StandardRate {
  int rate;
  speed_t code;
};

constexpr StandardRate standardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {150, B150},         {200, B200},
    {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

const StandardRate* findStandardRate(int rate) {
  for (const StandardRate& r : standardRates)
    if (r.rate == rate) return &r;
  return nullptr;
}

std::string errnoText(int error) { return std::strerror(error); }

enum class WaitResult { Ready, TimedOut, Stop };

}  // namespace

struct TComPort::TPrivate {
  // Held by every use of Fd. Write keeps it while it waits; Close and Open
  // first signal Wake so that wait ends at once, then take it.
  std::mutex Lock;
  int Fd = -1;
  TWakeEvent Wake;

  // Read-ahead: one read() of up to 256 bytes, served out in the sizes asked for.
  std::uint8_t ReadBuffer[256] = {};
  int ReadHead = 0;
  int ReadTail = 0;

  // A write gave up with bytes perhaps still queued for the line.
  bool Unsent = false;

  // The line as configured at Open, for the time a write needs on the wire.
  long LineRate = 9600;
  int BitsPerChar = 10;

  std::string LastError;  // GUI thread only

  // Closes the descriptor once no read or write uses it any more.
  void Release() {
    Wake.Signal();
    std::lock_guard<std::mutex> guard(Lock);
    if (Fd >= 0) {
      ioctl(Fd, TIOCNXCL);
      // Bytes left by an abandoned write would hold close() for the driver's
      // closing wait (up to 30 s) when the line is stuck. Only those: on a
      // pseudo-terminal a flush also drops what the other end has not read yet.
      if (Unsent) tcflush(Fd, TCOFLUSH);
      Unsent = false;
      ::close(Fd);  // drops the flock as well
      Fd = -1;
    }
    ReadHead = ReadTail = 0;
    Wake.Clear();
  }

  std::chrono::milliseconds LineTime(long bytes) const {
    const long long bits = static_cast<long long>(bytes) * BitsPerChar;
    return std::chrono::milliseconds(bits * 1000 / std::max(LineRate, 1L) + 1);
  }

  // Waits for events on Fd (0: only for a hang-up or error) for at most
  // timeoutMs. Stop when woken by Close, on a hang-up or error.
  WaitResult WaitFd(short events, int timeoutMs) const {
    pollfd fds[2] = {{Fd, events, 0}, {Wake.Descriptor(), POLLIN, 0}};
    const nfds_t count = Wake.Descriptor() >= 0 ? 2 : 1;
    for (;;) {
      const int n = poll(fds, count, timeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return WaitResult::Stop;
      if (n == 0) return WaitResult::TimedOut;
      if (count == 2 && fds[1].revents != 0) return WaitResult::Stop;
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::Stop;
      return WaitResult::Ready;
    }
  }

  static int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
  }

  // Waits until the driver's output queue and the transmitter are empty.
  bool Drain(Clock::time_point deadline) const {
    for (;;) {
      int queued = 0;
      if (ioctl(Fd, TIOCOUTQ, &queued) != 0) return false;
      if (queued <= 0) {
        unsigned int lsr = 0;
        if (ioctl(Fd, TIOCSERGETLSR, &lsr) != 0)
          return errno != EIO;  // the driver cannot tell: the empty queue is all we know
        if (lsr & TIOCSER_TEMT) return true;
        queued = 1;  // the last bytes are still being shifted out
      }
      const int left = MsUntil(deadline);
      if (left == 0) return false;
      const int step = static_cast<int>(std::min<long long>({LineTime(queued).count(), maxDrainStepMs, left}));
      if (WaitFd(0, std::max(step, 1)) == WaitResult::Stop) return false;
    }
  }
};

TComPort::TComPort() : d(std::make_unique<TPrivate>()) {}

TComPort::~TComPort() { Close(); }

std::string TComPort::LastError() const { return d->LastError; }

std::string TComPort::DevicePath() const {
  return DevicePathOverride.empty() ? ComDevicePath(PortNumber) : DevicePathOverride;
}

namespace {

// Opens path as this program's own serial device: a terminal, locked against
// every other opener. -1 with reason set when that is not possible.
int openExclusive(const std::string& path, std::string& reason) {
  struct stat st {};
  // Refuse files, folders and pipes before opening anything.
  if (stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
    reason = "not a serial device";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
      reason = "no such device (" + errnoText(error) +
               "). Check that the device is connected, or map this port to another device";
      break;
    case EACCES:
    case EPERM:
      reason = "permission denied (" + errnoText(error) +
               "). Add your user to the dialout group, e.g. with \"sudo adduser $USER dialout\", then log in again";
      break;
    case EBUSY: reason = "in use by another program"; break;
    case EISDIR: reason = "not a serial device"; break;
    default: reason = "cannot open the device (" + errnoText(error) + ")"; break;
    }
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
    ::close(fd);
    reason = "not a serial device";
    return -1;
  }
  // flock stops every other opener, root included; TIOCEXCL also those that
  // don't take the lock (but not root).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    reason = error == EWOULDBLOCK ? "in use by another program" : "cannot lock the device (" + errnoText(error) + ")";
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    ::close(fd);
    reason = "cannot take the device for this program alone (" + errnoText(error) + ")";
    return -1;
  }
  return fd;
}

// Raw line with the given settings; false with reason set when the driver
// does not take them.
bool configure(int fd, int rate, int dataBits, int parity, int stopBits, std::string& reason) {
  if (rate <= 0) {
    reason = "the rate of " + std::to_string(rate) + " bits per second is not valid";
    return false;
  }
  const LineSettings::TDataBits* const size = LineSettings::FindDataBits(dataBits);
  if (!size) {
    reason = "a line cannot have " + std::to_string(dataBits) + " data bits";
    return false;
  }
  const LineSettings::TParity* const parityBits = LineSettings::FindParity(parity);
  if (!parityBits) {
    reason = "the parity code " + std::to_string(parity) + " is not known";
    return false;
  }
  const LineSettings::TStopBits* const stop = LineSettings::FindStopBits(stopBits);
  if (!stop) {
    reason = "the stop-bits code " + std::to_string(stopBits) + " is not known";
    return false;
  }

  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    reason = "cannot read the line settings (" + errnoText(errno) + ")";
    return false;
  }
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  // CRTSCTS stays as the driver had it: flow control is not ours to change.
  const tcflag_t lineMask = LineSettings::LineFlagsMask;
  // One and a half stop bits go out as two (a 16550 with 5-bit words sends
  // exactly one and a half for it).
  const tcflag_t line = size->Flags | parityBits->Flags | stop->Flags;
  t.c_cflag = (t.c_cflag & ~lineMask) | line | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  const StandardRate* standard = findStandardRate(rate);
  if (standard) {
    cfsetispeed(&t, standard->code);
    cfsetospeed(&t, standard->code);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    reason = "the driver refused the line settings (" + errnoText(errno) + ")";
    return false;
  }
  if (!standard) {
    if (const int error = ComPortBaud::SetRate(fd, rate)) {
      reason = "the driver refused the rate of " + std::to_string(rate) + " bits per second (" + errnoText(error) + ")";
      return false;
    }
  }

  // tcsetattr succeeds when any part was taken: see what the driver kept.
  termios now{};
  if (tcgetattr(fd, &now) != 0) {
    reason = "cannot read the line settings back (" + errnoText(errno) + ")";
    return false;
  }
  // A pseudo-terminal has no wire: it always reports 8 data bits without
  // parity and carries every byte whatever was asked for.
  struct statfs fs {};
  const bool pseudo = fstatfs(fd, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC;
  const tcflag_t kept = pseudo ? lineMask & ~static_cast<tcflag_t>(CSIZE | PARENB) : lineMask;
  if ((now.c_cflag & kept) != (line & kept)) {
    std::string parityWords = parityBits->Caption;
    for (char& c : parityWords) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    reason = "the driver refused the line settings (" + std::to_string(dataBits) + " data bits, " + parityWords + ", " +
             (stop->Two ? "two" : "one") + " stop bits)";
    return false;
  }
  // Drivers may round a rate to what their clock divides to; within 2 % the
  // line still works.
  const long actual = ComPortBaud::ReadRate(fd);
  if (actual < 0 || std::labs(actual - rate) * 50 > rate) {
    reason = "the driver refused the rate of " + std::to_string(rate) + " bits per second";
    if (actual >= 0) reason += " (it runs at " + std::to_string(actual) + ")";
    return false;
  }
  return true;
}

}  // namespace

int TComPort::Open() {
  d->Release();
  d->LastError.clear();

  const int number = PortNumber;
  // The command-line tool may name the device itself (--port /dev/ttyUSB0).
  const bool byPath = !DevicePathOverride.empty();
  const std::string comName = "COM" + std::to_string(number);
  if (!byPath && (number < 1 || number > 4)) {
    d->LastError = comName + " is not a port of this program; choose COM1 to COM4.";
    return 0;
  }
  const std::string path = byPath ? DevicePathOverride : ComDevicePath(number);
  const std::string name = byPath ? path : comName + " (" + path + ")";
  std::string reason;
  const int fd = openExclusive(path, reason);
  if (fd < 0) {
    d->LastError = name + ": " + reason + ".";
    return 0;
  }

  const int dataBits = DataBits;
  const int parity = Parity;
  const int stopBits = StopBits;
  const bool configured = configure(fd, BaudRate, dataBits, parity, stopBits, reason);
  {
    std::lock_guard<std::mutex> guard(d->Lock);
    d->Fd = fd;
    d->ReadHead = d->ReadTail = 0;
    d->LineRate = BaudRate > 0 ? BaudRate : 9600;
    d->BitsPerChar = 1 + std::clamp(dataBits, 5, 8) + (parity != 0 ? 1 : 0) + (stopBits != 0 ? 2 : 1);
  }
  // Open from the moment there is a descriptor, configured or not.
  IsOpen = 1;
  if (!configured) {
    d->LastError = name + ": " + reason + ".";
    return 0;
  }
  return 1;
}

void TComPort::Close() {
  d->Release();
  IsOpen = 0;
}

int TComPort::Write(const std::uint8_t* buffer, int count) {
  if (count < 0 || (count > 0 && !buffer)) return 0;
  std::lock_guard<std::mutex> guard(d->Lock);
  if (d->Fd < 0) return 0;
  if (count == 0) return 1;
  d->Unsent = true;  // until the bytes are known to have left

  // Bounded by twice the line time plus a margin, so a stuck line (flow
  // control held, adapter gone) never holds the worker for good.
  const Clock::time_point deadline = Clock::now() + 2 * d->LineTime(count) + std::chrono::seconds(2);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(d->Fd, buffer + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return 0;
    const int left = TPrivate::MsUntil(deadline);
    if (left == 0) return 0;
    if (d->WaitFd(POLLOUT, left) == WaitResult::Stop) return 0;
  }
  const bool drained = d->Drain(deadline);
  d->Unsent = !drained;
  return drained ? 1 : 0;
}

int TComPort::Read(std::uint8_t* dest, int& count) {
  const int wanted = std::min(count, static_cast<int>(sizeof d->ReadBuffer));
  count = 0;
  if (!dest || wanted <= 0) return 0;
  // Never wait: while Open or Close holds the port there is simply nothing to read.
  std::unique_lock<std::mutex> guard(d->Lock, std::try_to_lock);
  if (!guard.owns_lock() || d->Fd < 0) return 0;
  if (d->ReadHead == d->ReadTail) {
    const ssize_t n = ::read(d->Fd, d->ReadBuffer, sizeof d->ReadBuffer);
    if (n <= 0) return 0;  // nothing waiting, or hung up
    d->ReadHead = 0;
    d->ReadTail = static_cast<int>(n);
  }
  const int n = std::min(wanted, d->ReadTail - d->ReadHead);
  std::memcpy(dest, d->ReadBuffer + d->ReadHead, static_cast<size_t>(n));
  d->ReadHead += n;
  count = n;
  return 1;
}

int TComPort::ReadByte(std::uint8_t* dest) {
  int count = 1;
  return Read(dest, count);
}

int TComPort::WaitForInput(int timeoutMs, int wakeFd) {
  // Held while waiting, as Write does; Close and Open wake us before taking it.
  std::unique_lock<std::mutex> guard(d->Lock, std::try_to_lock);
  if (!guard.owns_lock() || d->Fd < 0) return -1;
  if (d->ReadHead != d->ReadTail) return 1;
  pollfd fds[3] = {{d->Fd, POLLIN, 0}, {d->Wake.Descriptor(), POLLIN, 0}, {wakeFd, POLLIN, 0}};  // poll skips a -1
  for (;;) {
    const int n = poll(fds, 3, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return 0;
    if (n < 0 || fds[1].revents != 0 || fds[2].revents != 0) return -1;
    // A hung-up line stays readable for ever; the caller's beat keeps that from spinning.
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
    return 1;
  }
}

int TComPort::LoadSettings(const char* basePath) {
  const std::unique_ptr<TRegistry> registry = CreateRegistry();
  if (!registry || !registry->OpenKey(std::string(basePath ? basePath : "") + "Port Configuration", false)) return 0;
  auto read = [&registry](const char* name, std::int32_t fallback) {
    return registry->ValueExists(name) ? registry->ReadInteger(name) : fallback;
  };
  // Byte-wide settings keep the low 8 bits of what is stored.
  PortNumber = static_cast<std::uint8_t>(read("ComPort", 1));
  BaudRate = read("BaudRate", 9600);
  DataBits = static_cast<std::uint8_t>(read("DataBits", 8));
  StopBits = static_cast<std::uint8_t>(read("StopBits", 0));
  FlowControl = static_cast<std::uint8_t>(read("FlowControl", 0));
  Parity = static_cast<std::uint8_t>(read("Parity", 0));
  SettingsLoaded = 1;
  registry->CloseKey();
  return 1;
}

int TComPort::SaveSettings(const char* basePath) {
  const std::unique_ptr<TRegistry> registry = CreateRegistry();
  if (!registry || !registry->OpenKey(std::string(basePath ? basePath : "") + "Port Configuration", true)) return 0;
  registry->WriteInteger("ComPort", PortNumber);
  registry->WriteInteger("BaudRate", BaudRate);
  registry->WriteInteger("FlowControl", FlowControl);
  registry->WriteInteger("DataBits", DataBits);
  registry->WriteInteger("StopBits", StopBits);
  registry->WriteInteger("Parity", Parity);
  const bool written = registry->Flush();
  registry->CloseKey();
  return written ? 1 : 0;
}
