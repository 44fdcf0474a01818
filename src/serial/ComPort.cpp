#include "serial/ComPort.h"

#include "platform/WakeEvent.h"
#include "serial/ComPortBaud.h"
#include "serial/DeviceMap.h"
#include "serial/LineSettings.h"
#include "serial/Registry.h"
#include "serial/RelayClaim.h"

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
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait while a write drains; keeps the check for a finished
// transmitter and for a hang-up frequent.
constexpr int maxDrainStepMs = 50;

// How often a lost device is tried again when nothing tells of a change: a
// device that is there but refuses (busy, no permission yet), or a folder
// that can't be watched. Otherwise a watch on the device's folder wakes the
// try, and this long step only covers a change the watch could miss.
constexpr int retryStepMs = 200;
constexpr int watchedStepMs = 2000;

bool Waiting(TPortState state) { return state == TPortState::Lost || state == TPortState::Reopening; }

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

// "words (cause)", the cause left out where it would only say the words again
// ("permission denied (Permission denied)").
std::string withCause(const std::string& words, int error) {
  const std::string cause = errnoText(error);
  const bool same = std::equal(words.begin(), words.end(), cause.begin(), cause.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
  return same ? words : words + " (" + cause + ")";
}

enum class WaitResult { Ready, TimedOut, Woken, HungUp, Failed };

// Why a wait ended without the descriptor being ready, as a port error.
TPortError ErrorOf(WaitResult result) {
  switch (result) {
  case WaitResult::Ready: return TPortError::None;
  case WaitResult::TimedOut: return TPortError::TimedOut;
  case WaitResult::Woken: return TPortError::Interrupted;
  case WaitResult::HungUp: return TPortError::HungUp;
  case WaitResult::Failed: break;
  }
  return TPortError::Failed;
}

// What an errno of read() or write() on an open line means.
TPortError ErrorOfErrno(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE ? TPortError::HungUp : TPortError::Failed;
}

// Why Open failed: the kind to branch on, the words for the operator.
struct TFailure {
  TPortError Kind = TPortError::None;
  std::string Reason;
};

// Wakes a wait for a lost device when something appears or changes in the
// folder of its path: the system making /dev/ttyUSB0 and setting its rights,
// a null-modem linking its port again.
class TFolderWatch {
public:
  explicit TFolderWatch(const std::string& path)
      : Fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        Folder(path.find_last_of('/') == std::string::npos
                   ? std::string(".")
                   : path.substr(0, std::max<std::size_t>(path.find_last_of('/'), 1))) {
    Renew();
  }
  ~TFolderWatch() {
    if (Fd >= 0) ::close(Fd);
  }
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // The descriptor to poll; -1 while the folder is not watched.
  int Descriptor() const { return Watching ? Fd : -1; }
  // Takes what happened; watches again when the folder itself went away
  // (as /dev/serial/by-id does with the last adapter) or was never there.
  void Drain() {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while (Fd >= 0 && (n = ::read(Fd, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_IGNORED) Watching = false;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (!Watching) Renew();
  }

private:
  void Renew() {
    Watching = Fd >= 0 && inotify_add_watch(Fd, Folder.c_str(),
                                            IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) >= 0;
  }

  const int Fd;
  const std::string Folder;
  bool Watching = false;
};

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

  std::string LastError;  // GUI thread only, as are OpenError and Notice
  TPortError OpenError = TPortError::None;
  std::string Notice;
  // Set by the thread that writes or reads.
  std::atomic<TPortError> WriteError{TPortError::None};
  std::atomic<TPortError> ReadError{TPortError::None};

  // What Open opened, for opening it again: set by Open and Close while no
  // supervisor runs, read by the supervisor.
  std::string OpenPath;
  std::string ClaimPath;  // a null-modem's claim that must still be held
  int OpenRate = 9600, OpenDataBits = 8, OpenParity = 0, OpenStopBits = 0;

  std::atomic<TPortState> State{TPortState::Closed};
  std::atomic<std::int64_t> StateSinceNs{0};
  std::atomic<TPortError> Loss{TPortError::None};
  mutable std::mutex DeviceLock;  // guards Device
  std::string Device;
  TWakeEvent StateChanged;  // for the one watcher
  TWakeEvent Usable;        // readable while the state is Open
  std::atomic<std::uint32_t> Connections{0};

  // Watches the open device for a hang-up and opens it again once it is back.
  std::thread Supervisor;
  TWakeEvent SupervisorWake;
  std::atomic<bool> SupervisorStop{false};
  std::atomic<bool> LossReported{false};  // a read or write met a hang-up
  std::atomic<bool> Reconnects{true};     // Reconnect as Open found it

  TPrivate() = default;

  void SetState(TPortState state, TPortError reason = TPortError::None) {
    const TPortState was = State.exchange(state);
    Loss.store(reason);
    if (was == state) return;
    StateSinceNs.store(std::chrono::steady_clock::now().time_since_epoch().count());
    if (state == TPortState::Open)
      Usable.Signal();
    else
      Usable.Clear();
    StateChanged.Signal();
  }

  // From the thread that read or wrote: never blocks, never allocates.
  void ReportLoss() {
    if (!LossReported.exchange(true)) SupervisorWake.Signal();
  }

  void StartSupervisor() {
    Supervisor = std::thread([this] { Supervise(); });
  }
  void StopSupervisor() {
    if (!Supervisor.joinable()) return;
    SupervisorStop.store(true);
    SupervisorWake.Signal();
    Supervisor.join();
    SupervisorStop.store(false);
    SupervisorWake.Clear();
    LossReported.store(false);
  }
  void Supervise();
  bool WaitHangUp();
  bool Reopen();

  // Closes the descriptor once no read or write uses it any more.
  void Release() {
    Wake.Signal();
    {
      std::lock_guard<std::mutex> guard(Lock);
      CloseFd();
    }
    Wake.Clear();
  }

  // With Lock held.
  void CloseFd() {
    if (Fd >= 0) {
      ioctl(Fd, TIOCNXCL);
      // Bytes left by an abandoned write would hold close() for the driver's
      // closing wait (up to 30 s) when the line is stuck. Only those: on a
      // pseudo-terminal a flush also drops what the other end has not read yet.
      if (Unsent) tcflush(Fd, TCOFLUSH);
      ::close(Fd);  // drops the flock as well
      Fd = -1;
    }
    Unsent = false;
    ReadHead = ReadTail = 0;
  }

  TPortError WriteAll(const std::uint8_t* buffer, int count);
  TPortError WriteLocked(const std::uint8_t* buffer, int count);
  TPortError ReadSome(std::uint8_t* dest, int& count);

  std::chrono::milliseconds LineTime(long bytes) const {
    const long long bits = static_cast<long long>(bytes) * BitsPerChar;
    return std::chrono::milliseconds(bits * 1000 / std::max(LineRate, 1L) + 1);
  }

  // Waits for events on Fd (0: only for a hang-up or error) for at most
  // timeoutMs; Close and Open end it early (Woken).
  WaitResult WaitFd(short events, int timeoutMs) const {
    pollfd fds[2] = {{Fd, events, 0}, {Wake.Descriptor(), POLLIN, 0}};
    const nfds_t count = Wake.Descriptor() >= 0 ? 2 : 1;
    for (;;) {
      const int n = poll(fds, count, timeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return WaitResult::Failed;
      if (n == 0) return WaitResult::TimedOut;
      if (count == 2 && fds[1].revents != 0) return WaitResult::Woken;
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::HungUp;
      return WaitResult::Ready;
    }
  }

  static int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
  }

  // Waits until the driver's output queue and the transmitter are empty;
  // None when they are, else why not.
  TPortError Drain(Clock::time_point deadline) const {
    for (;;) {
      int queued = 0;
      if (ioctl(Fd, TIOCOUTQ, &queued) != 0) return ErrorOfErrno(errno);
      if (queued <= 0) {
        unsigned int lsr = 0;
        if (ioctl(Fd, TIOCSERGETLSR, &lsr) != 0)
          // The driver cannot tell: the empty queue is all we know.
          return errno == EIO ? TPortError::HungUp : TPortError::None;
        if (lsr & TIOCSER_TEMT) return TPortError::None;
        queued = 1;  // the last bytes are still being shifted out
      }
      const int left = MsUntil(deadline);
      if (left == 0) return TPortError::TimedOut;
      const int step = static_cast<int>(std::min<long long>({LineTime(queued).count(), maxDrainStepMs, left}));
      const WaitResult waited = WaitFd(0, std::max(step, 1));
      // Only a hang-up or an error wakes a wait for no events: a time-out is the next step.
      if (waited != WaitResult::TimedOut && waited != WaitResult::Ready) return ErrorOf(waited);
    }
  }
};

TComPort::TComPort() : d(std::make_unique<TPrivate>()) {}

TComPort::~TComPort() { Close(); }

std::string TComPort::LastError() const { return d->LastError; }

TPortError TComPort::LastErrorKind() const { return d->OpenError; }

TPortError TComPort::LastWriteError() const { return d->WriteError.load(std::memory_order_relaxed); }

TPortError TComPort::LastReadError() const { return d->ReadError.load(std::memory_order_relaxed); }

std::string TComPort::DevicePath() const {
  return DevicePathOverride.empty() ? ComDevicePath(PortNumber) : DevicePathOverride;
}

std::string TComPort::OpenNotice() const { return d->Notice; }

TPortState TComPort::State() const { return d->State.load(); }

std::chrono::steady_clock::time_point TComPort::StateSince() const {
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(d->StateSinceNs.load()));
}

std::string TComPort::StateDevice() const {
  std::lock_guard<std::mutex> guard(d->DeviceLock);
  return d->Device;
}

TPortError TComPort::LossReason() const { return Waiting(d->State.load()) ? d->Loss.load() : TPortError::None; }

int TComPort::StateDescriptor() const { return d->StateChanged.Descriptor(); }

void TComPort::ClearStateChange() { d->StateChanged.Clear(); }

std::uint32_t TComPort::Connection() const { return d->Connections.load(); }

namespace {

// Opens path as this program's own serial device: a terminal, locked against
// every other opener. -1 with failure set when that is not possible.
int openExclusive(const std::string& path, TFailure& failure) {
  struct stat st {};
  // Refuse files, folders and pipes before opening anything.
  if (stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
    failure = {TPortError::NotSerial, "not a serial device"};
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
      failure = {TPortError::NoDevice, withCause("no such device", error) +
                                           "; check that the device is connected, or map this port to another device"};
      break;
    case EACCES:
    case EPERM:
      failure = {TPortError::Permission,
                 withCause("permission denied", error) +
                     "; add your user to the dialout group (\"sudo adduser $USER dialout\"), then log in again"};
      break;
    case EBUSY: failure = {TPortError::Busy, "in use by another program"}; break;
    case EISDIR: failure = {TPortError::NotSerial, "not a serial device"}; break;
    default: failure = {TPortError::Failed, "cannot open the device (" + errnoText(error) + ")"}; break;
    }
    return -1;
  }
  // A pseudo-terminal master (/dev/ptmx opens a new one each time) has no one at the other end.
  unsigned ptyNumber = 0;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd) || ioctl(fd, TIOCGPTN, &ptyNumber) == 0) {
    ::close(fd);
    failure = {TPortError::NotSerial, "not a serial device"};
    return -1;
  }
  // flock stops every other opener, root included; TIOCEXCL also those that
  // don't take the lock (but not root).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    failure = error == EWOULDBLOCK ? TFailure{TPortError::Busy, "in use by another program"}
                                   : TFailure{TPortError::Failed, "cannot lock the device (" + errnoText(error) + ")"};
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    ::close(fd);
    failure = {TPortError::Failed, "cannot take the device for this program alone (" + errnoText(error) + ")"};
    return -1;
  }
  return fd;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Raw line with the given settings; false with failure set when the settings
// mean nothing or the driver does not take them. A pseudo-terminal gets what
// it takes; notApplied (when given) then names what it did not get.
bool configure(int fd, int rate, int dataBits, int parity, int stopBits, TFailure& failure,
               std::string* notApplied = nullptr) {
  if (rate <= 0) {
    failure = {TPortError::BadArgument, "the rate of " + std::to_string(rate) + " bits per second is not valid"};
    return false;
  }
  const LineSettings::TDataBits* const size = LineSettings::FindDataBits(dataBits);
  if (!size) {
    failure = {TPortError::BadArgument, "a line cannot have " + std::to_string(dataBits) + " data bits"};
    return false;
  }
  const LineSettings::TParity* const parityBits = LineSettings::FindParity(parity);
  if (!parityBits) {
    failure = {TPortError::BadArgument, "the parity code " + std::to_string(parity) + " is not known"};
    return false;
  }
  const LineSettings::TStopBits* const stop = LineSettings::FindStopBits(stopBits);
  if (!stop) {
    failure = {TPortError::BadArgument, "the stop-bits code " + std::to_string(stopBits) + " is not known"};
    return false;
  }

  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    failure = {TPortError::Failed, "cannot read the line settings (" + errnoText(errno) + ")"};
    return false;
  }
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  // CRTSCTS stays as the driver had it: flow control is not ours to change.
  const tcflag_t lineMask = LineSettings::LineFlagsMask;
  // One and a half stop bits go out as two (a 16550 with 5-bit words sends
  // exactly one and a half for it).
  tcflag_t line = size->Flags | parityBits->Flags | stop->Flags;
  // A pseudo-terminal has no wire: it carries whole bytes, and the kernel
  // takes no parity and no word size but 8 for it (some refuse them with
  // EINVAL, some drop them). The rate and the stop bits it keeps, to no effect.
  struct statfs fs {};
  if (fstatfs(fd, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC) {
    line = CS8 | stop->Flags;
    if (notApplied) {
      notApplied->clear();
      if (parityBits->Code != 0) *notApplied = lowerCase(parityBits->Caption);
      if (dataBits != 8) *notApplied += (notApplied->empty() ? "" : " and ") + std::to_string(dataBits) + " data bits";
    }
  }
  t.c_cflag = (t.c_cflag & ~lineMask) | line | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  const StandardRate* standard = findStandardRate(rate);
  if (standard) {
    cfsetispeed(&t, standard->code);
    cfsetospeed(&t, standard->code);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    failure = {TPortError::Refused, "the driver refused the line settings (" + errnoText(errno) + ")"};
    return false;
  }
  if (!standard) {
    if (const int error = ComPortBaud::SetRate(fd, rate)) {
      failure = {TPortError::Refused, "the driver refused the rate of " + std::to_string(rate) + " bits per second (" +
                                          errnoText(error) + ")"};
      return false;
    }
  }

  // tcsetattr succeeds when any part was taken: see what the driver kept.
  termios now{};
  if (tcgetattr(fd, &now) != 0) {
    failure = {TPortError::Failed, "cannot read the line settings back (" + errnoText(errno) + ")"};
    return false;
  }
  if ((now.c_cflag & lineMask) != (line & lineMask)) {
    failure = {TPortError::Refused, "the driver refused the line settings (" + std::to_string(dataBits) +
                                        " data bits, " + lowerCase(parityBits->Caption) + ", " +
                                        (stop->Two ? "two stop bits" : "one stop bit") + ")"};
    return false;
  }
  // Drivers may round a rate to what their clock divides to; within 2 % the
  // line still works.
  const long actual = ComPortBaud::ReadRate(fd);
  if (actual < 0 || std::labs(actual - rate) * 50 > rate) {
    failure = {TPortError::Refused, "the driver refused the rate of " + std::to_string(rate) + " bits per second"};
    if (actual >= 0) failure.Reason += " (it runs at " + std::to_string(actual) + ")";
    return false;
  }
  return true;
}

}  // namespace

// Sleeps until the open device hangs up or a read or write met a hang-up
// (true), or until the supervisor is stopped (false).
bool TComPort::TPrivate::WaitHangUp() {
  for (;;) {
    // Fd changes only here and in Open and Close, which stop this thread first.
    pollfd fds[2] = {{SupervisorWake.Descriptor(), POLLIN, 0}, {Fd, 0, 0}};
    const int n = poll(fds, 2, -1);
    if (SupervisorStop.load()) return false;
    if (n < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(retryStepMs));
      continue;
    }
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
    if (fds[0].revents != 0) {
      SupervisorWake.Clear();
      if (LossReported.load()) return true;
    }
  }
}

// Looks for the lost device's path until it opens with the same line
// settings (true) or the supervisor is stopped (false).
bool TComPort::TPrivate::Reopen() {
  TFolderWatch watch(OpenPath);
  int waitMs = 0;
  for (;;) {
    pollfd fds[2] = {{SupervisorWake.Descriptor(), POLLIN, 0}, {watch.Descriptor(), POLLIN, 0}};
    poll(fds, 2, waitMs);
    if (SupervisorStop.load()) return false;
    SupervisorWake.Clear();
    watch.Drain();
    // A null-modem that has ended never brings its port back, and its path
    // may lead to somebody else's terminal by now.
    std::unique_ptr<RelayClaims::TWitness> relay;
    if (!ClaimPath.empty()) relay = std::make_unique<RelayClaims::TWitness>(ClaimPath);
    struct stat st {};
    if ((relay && !relay->Live()) || stat(OpenPath.c_str(), &st) != 0) {
      SetState(TPortState::Lost, TPortError::NoDevice);
      waitMs = watch.Descriptor() >= 0 ? watchedStepMs : retryStepMs;
      continue;
    }
    // Say so when the path has just come back; retries of a device that is
    // there but refuses (busy, no permission yet) stay quiet.
    if (Loss.load() == TPortError::NoDevice || Loss.load() == TPortError::HungUp)
      SetState(TPortState::Reopening, Loss.load());
    TFailure failure;
    int fd = openExclusive(OpenPath, failure);
    if (fd >= 0 && relay && !relay->Live()) {
      ::close(fd);
      fd = -1;
      failure.Kind = TPortError::NoDevice;
    }
    if (fd >= 0 && !configure(fd, OpenRate, OpenDataBits, OpenParity, OpenStopBits, failure)) {
      ioctl(fd, TIOCNXCL);
      ::close(fd);
      fd = -1;
    }
    if (fd < 0) {
      SetState(TPortState::Lost, failure.Kind);
      waitMs = retryStepMs;
      continue;
    }
    LossReported.store(false);
    {
      std::lock_guard<std::mutex> guard(Lock);
      Fd = fd;
      ReadHead = ReadTail = 0;
      Unsent = false;
    }
    Connections.fetch_add(1);
    SetState(TPortState::Open);
    return true;
  }
}

void TComPort::TPrivate::Supervise() {
  while (WaitHangUp()) {
    // Let the device go; a write waiting on it is woken first.
    Wake.Signal();
    {
      std::lock_guard<std::mutex> guard(Lock);
      CloseFd();
    }
    Wake.Clear();
    SetState(TPortState::Lost, TPortError::HungUp);
    if (!Reconnects.load()) {
      // Lost for good: only Close ends it.
      pollfd wake = {SupervisorWake.Descriptor(), POLLIN, 0};
      while (!SupervisorStop.load()) {
        poll(&wake, 1, -1);
        SupervisorWake.Clear();  // the flag is set before the signal that stops us
      }
      return;
    }
    if (!Reopen()) return;
  }
}

int TComPort::Open() {
  d->StopSupervisor();
  d->Release();
  d->LastError.clear();
  d->OpenError = TPortError::None;
  d->Notice.clear();

  const int number = PortNumber;
  // The command-line tool may name the device itself (--port /dev/ttyUSB0).
  const bool byPath = !DevicePathOverride.empty();
  const std::string comName = "COM" + std::to_string(number);
  if (!byPath && (number < 1 || number > 4)) {
    d->SetState(TPortState::Closed);
    d->OpenError = TPortError::BadArgument;
    d->LastError = comName + " is not a port of this program; choose COM1 to COM4.";
    return 0;
  }
  std::string path, claim;
  if (byPath) {
    path = DevicePathOverride;
    claim = RelayClaims::ClaimOf(path);
  } else {
    const TComMapping mapping = ResolveComPort(number);
    path = mapping.Path;
    claim = mapping.ClaimPath;
    d->Notice = mapping.Notice(number);
  }
  const std::string name = byPath ? path : comName + " (" + path + ")";
  // A null-modem's port is opened only while its relay holds it, before and
  // after the open: once the relay has ended its pseudo-terminal may be anyone's.
  const RelayClaims::TWitness relay(claim);
  const bool relayEnded = !claim.empty() && !relay.Live();
  TFailure failure;
  int fd = relayEnded ? -1 : openExclusive(path, failure);
  if (fd >= 0 && !claim.empty() && !relay.Live()) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    if (!claim.empty() && (relayEnded || !relay.Live()))
      failure = {TPortError::NoDevice, "the virtual null-modem of this port has ended"};
    d->SetState(TPortState::Closed);
    d->OpenError = failure.Kind;
    d->LastError = name + ": " + failure.Reason + ".";
    return 0;
  }

  const int dataBits = DataBits;
  const int parity = Parity;
  const int stopBits = StopBits;
  std::string notApplied;
  const bool configured = configure(fd, BaudRate, dataBits, parity, stopBits, failure, &notApplied);
  if (configured && !notApplied.empty()) {
    const bool several = notApplied.find(" and ") != std::string::npos || dataBits != 8;
    d->Notice += (d->Notice.empty() ? "" : " ") + name + " is a virtual port: it carries whole 8-bit bytes, so " +
                 notApplied + (several ? " are" : " is") + " not applied.";
  }
  {
    std::lock_guard<std::mutex> guard(d->Lock);
    d->Fd = fd;
    d->ReadHead = d->ReadTail = 0;
    d->LineRate = BaudRate > 0 ? BaudRate : 9600;
    d->BitsPerChar = 1 + std::clamp(dataBits, 5, 8) + (parity != 0 ? 1 : 0) + (stopBits != 0 ? 2 : 1);
  }
  d->OpenPath = path;
  d->ClaimPath = claim;
  d->OpenRate = BaudRate;
  d->OpenDataBits = dataBits;
  d->OpenParity = parity;
  d->OpenStopBits = stopBits;
  d->Reconnects.store(Reconnect.load());
  {
    std::lock_guard<std::mutex> guard(d->DeviceLock);
    d->Device = path;
  }
  d->Connections.fetch_add(1);
  // Open from the moment there is a descriptor, configured or not.
  IsOpen = 1;
  d->SetState(TPortState::Open);
  d->StartSupervisor();
  if (!configured) {
    d->OpenError = failure.Kind;
    d->LastError = name + ": " + failure.Reason + ".";
    return 0;
  }
  return 1;
}

void TComPort::Close() {
  d->StopSupervisor();
  d->Release();
  IsOpen = 0;
  d->SetState(TPortState::Closed);
}

int TComPort::Write(const std::uint8_t* buffer, int count) {
  const TPortError error = d->WriteAll(buffer, count);
  d->WriteError.store(error, std::memory_order_relaxed);
  return error == TPortError::None ? 1 : 0;
}

TPortError TComPort::TPrivate::WriteAll(const std::uint8_t* buffer, int count) {
  if (count < 0 || (count > 0 && !buffer)) return TPortError::BadArgument;
  std::lock_guard<std::mutex> guard(Lock);
  if (Fd < 0) return TPortError::NotOpen;
  const TPortError error = WriteLocked(buffer, count);
  if (error == TPortError::HungUp) ReportLoss();
  return error;
}

TPortError TComPort::TPrivate::WriteLocked(const std::uint8_t* buffer, int count) {
  if (count == 0) return TPortError::None;
  Unsent = true;  // until the bytes are known to have left

  // Bounded by twice the line time plus a margin, so a stuck line (flow
  // control held, adapter gone) never holds the worker for good.
  const Clock::time_point deadline = Clock::now() + 2 * LineTime(count) + std::chrono::seconds(2);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(Fd, buffer + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return ErrorOfErrno(errno);
    const int left = MsUntil(deadline);
    if (left == 0) return TPortError::TimedOut;
    const WaitResult waited = WaitFd(POLLOUT, left);
    if (waited != WaitResult::Ready && waited != WaitResult::TimedOut) return ErrorOf(waited);
  }
  const TPortError drained = Drain(deadline);
  Unsent = drained != TPortError::None;
  return drained;
}

int TComPort::Read(std::uint8_t* dest, int& count) {
  const TPortError error = d->ReadSome(dest, count);
  d->ReadError.store(error, std::memory_order_relaxed);
  return count > 0 ? 1 : 0;
}

TPortError TComPort::TPrivate::ReadSome(std::uint8_t* dest, int& count) {
  const int wanted = std::min(count, static_cast<int>(sizeof ReadBuffer));
  count = 0;
  if (!dest || wanted <= 0) return TPortError::BadArgument;
  // Never wait: while Open or Close holds the port there is simply nothing to read.
  std::unique_lock<std::mutex> guard(Lock, std::try_to_lock);
  if (!guard.owns_lock() || Fd < 0) return TPortError::NotOpen;
  if (ReadHead == ReadTail) {
    const ssize_t n = ::read(Fd, ReadBuffer, sizeof ReadBuffer);
    // A hung-up terminal reads as empty as a quiet one; only poll tells them apart.
    const TPortError error = n < 0 && errno != EAGAIN && errno != EINTR          ? ErrorOfErrno(errno)
                             : n <= 0 && WaitFd(POLLIN, 0) == WaitResult::HungUp ? TPortError::HungUp
                                                                                 : TPortError::None;
    if (error == TPortError::HungUp) ReportLoss();
    if (n <= 0) return error;
    ReadHead = 0;
    ReadTail = static_cast<int>(n);
  }
  const int n = std::min(wanted, ReadTail - ReadHead);
  std::memcpy(dest, ReadBuffer + ReadHead, static_cast<size_t>(n));
  ReadHead += n;
  count = n;
  return TPortError::None;
}

int TComPort::ReadByte(std::uint8_t* dest) {
  int count = 1;
  return Read(dest, count);
}

int TComPort::WaitForInput(int timeoutMs, int wakeFd) {
  if (d->State.load() != TPortState::Open) {
    // Nothing to read until the port is opened or its device is back: sleep until then.
    pollfd fds[2] = {{d->Usable.Descriptor(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
      const int n = poll(fds, 2, timeoutMs);
      if (n < 0 && errno == EINTR) continue;
      return n == 0 ? 0 : -1;
    }
  }
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
