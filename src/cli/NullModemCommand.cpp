// quorlink nullmodem: two pseudo-terminals whose masters this process relays
// to each other, so that two programs opening the two slave ends talk as over
// a null-modem cable. COMa and COMb lead to the two ends while it runs, each
// through a device path of the relay's own that stays when the end is
// unplugged and plugged in again from standard input.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/SignalPipe.h"
#include "serial/RelayClaim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One end of the virtual cable: a pty master and the path of its slave, -1
// and empty while unplugged.
struct End {
  int Number = 0;  // COMn
  TRelayClaim Claim;
  int Master = -1;
  std::string SlavePath;
  // Some program has the slave open. While nobody has, bytes sent towards this
  // end are dropped, as a real line drops bytes sent to a closed port.
  bool Present = false;
  unsigned long long Received = 0;  // bytes relayed from this end
  unsigned long long Dropped = 0;   // bytes from this end that found nobody at the other
};

// Bytes read from one end and not yet written to the other.
struct Pending {
  char Buffer[4096];
  ssize_t Head = 0;
  ssize_t Tail = 0;
  bool Empty() const { return Head == Tail; }
  void Clear() { Head = Tail = 0; }
};

std::string ErrnoText() { return std::strerror(errno); }

// Makes a new pseudo-terminal for end.
void OpenEnd(End& end) {
  end.Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (end.Master < 0 || grantpt(end.Master) != 0 || unlockpt(end.Master) != 0)
    throw Cli::Failure(QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromStdString(ErrnoText())));
  char name[128] = {};
  if (ptsname_r(end.Master, name, sizeof name) != 0)
    throw Cli::Failure(QStringLiteral("cannot name a pseudo-terminal: %1").arg(QString::fromStdString(ErrnoText())));
  end.SlavePath = name;
  // Raw from the start, so that a program that doesn't set the line up itself
  // sees no echo and no character mapping. The settings outlive this open.
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0)
    throw Cli::Failure(
        QStringLiteral("cannot open %1: %2").arg(QString::fromLatin1(name), QString::fromStdString(ErrnoText())));
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&t, B9600);
  tcsetattr(slave, TCSANOW, &t);
  close(slave);
}

// Whether a program has the slave open now: with no slave open the master
// reports a hang-up.
bool SlaveOpen(const End& end) {
  if (end.Master < 0) return false;
  pollfd p{end.Master, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return end.Present;
  return (p.revents & POLLHUP) == 0;
}

// Bytes relayed to a program that has gone away must not greet the next one.
void DiscardUnread(const End& end) {
  const int slave = open(end.SlavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return;  // opened exclusively by a new program already: it gets what is there
  tcflush(slave, TCIFLUSH);
  close(slave);
}

void MarkAbsent(End& end, Pending& towards) {
  if (!end.Present) return;
  end.Present = false;
  towards.Clear();
  DiscardUnread(end);
}

// Writes what is pending towards end; false when the end went away.
void Flush(End& to, Pending& pending) {
  while (!pending.Empty()) {
    const ssize_t n = write(to.Master, pending.Buffer + pending.Head, static_cast<size_t>(pending.Tail - pending.Head));
    if (n > 0) {
      pending.Head += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;  // the program at that end reads slower: wait
    MarkAbsent(to, pending);
    return;
  }
  pending.Clear();
}

// Reads what the program at from sent and passes it on towards to.
void Relay(End& from, End& to, Pending& fromPending, Pending& toPending) {
  while (fromPending.Empty()) {
    const ssize_t n = read(from.Master, fromPending.Buffer, sizeof fromPending.Buffer);
    if (n > 0) {
      from.Received += static_cast<unsigned long long>(n);
      if (!to.Present) to.Present = SlaveOpen(to);
      if (!to.Present) {
        from.Dropped += static_cast<unsigned long long>(n);
        continue;
      }
      fromPending.Head = 0;
      fromPending.Tail = n;
      Flush(to, fromPending);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    MarkAbsent(from, toPending);  // EIO: the last program closed the slave
    return;
  }
}

// Pulls the end's plug: the program on it sees a hang-up and its device path
// goes, as with a USB adapter pulled out.
void Unplug(End& end, Pending& towards) {
  if (end.Master < 0) return;
  end.Claim.Detach();  // first, so that nobody opens the path on its way out
  close(end.Master);
  end.Master = -1;
  end.SlavePath.clear();
  end.Present = false;
  towards.Clear();
}

// Plugs a new pseudo-terminal in behind the same device path.
void Replug(End& end) {
  if (end.Master >= 0) return;
  OpenEnd(end);
  std::string error;
  if (!end.Claim.Attach(end.SlavePath, error)) throw Cli::Failure(QString::fromStdString(error));
}

QString Statistics(const End ends[2]) {
  return QStringLiteral(
             "quorlink nullmodem: COM%1 -> COM%2: %3 bytes (%4 dropped with nobody at COM%2); COM%2 -> COM%1: %5 "
             "bytes (%6 dropped)")
      .arg(ends[0].Number)
      .arg(ends[1].Number)
      .arg(ends[0].Received - ends[0].Dropped)
      .arg(ends[0].Dropped)
      .arg(ends[1].Received - ends[1].Dropped)
      .arg(ends[1].Dropped);
}

// "unplug COM1" and "replug COM1", one per line on standard input.
class ControlLines {
public:
  // Runs the complete lines read so far; false at the end of the input.
  bool Read(End ends[2], Pending pending[2]) {
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    Input.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = Input.find('\n')) != std::string::npos) {
      Run(QString::fromLocal8Bit(Input.substr(0, end)).simplified(), ends, pending);
      Input.erase(0, end + 1);
    }
    return true;
  }

private:
  void Run(const QString& line, End ends[2], Pending pending[2]) {
    if (line.isEmpty()) return;
    const QStringList words = line.split(QLatin1Char(' '));
    const bool unplug = words.first() == QLatin1String("unplug");
    const bool replug = words.first() == QLatin1String("replug");
    const int number = words.size() == 2 ? Cli::ComNumber(words.at(1)) : 0;
    int i = 0;
    while (i < 2 && ends[i].Number != number) ++i;
    if ((!unplug && !replug) || i == 2) {
      Cli::PrintWarning(QStringLiteral("unknown command \"%1\" (unplug COMn, replug COMn)").arg(line));
      return;
    }
    if (unplug) {
      Unplug(ends[i], pending[1 - i]);
      Cli::PrintInfo(QStringLiteral("quorlink nullmodem: COM%1 unplugged").arg(number));
    } else {
      Replug(ends[i]);
      Cli::PrintInfo(QStringLiteral("quorlink nullmodem: COM%1 plugged in again").arg(number));
    }
  }

  std::string Input;
};

}  // namespace

int Commands::NullModem(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Creates a linked pair of virtual serial ports and maps COMa and COMb to them\n"
                     "(default COM1 and COM2) while it runs: a program on one port talks to a\n"
                     "program on the other as over a null-modem cable. Prints one line per port,\n"
                     "\"COMn path\". Ctrl-C or SIGTERM ends it; the mapping of before stands\n"
                     "again, also when the relay is killed. Bytes sent while nobody has the other\n"
                     "port open are dropped; a reader that falls behind holds the sender up\n"
                     "instead of losing bytes. Line settings (rate, parity) do not matter\n"
                     "between the two ends; the programs on them say which they do not apply.\n\n"
                     "Lines on standard input pull a port's plug and put it back, as with a USB\n"
                     "adapter: \"unplug COM1\" (the program on it sees a hang-up and the path\n"
                     "goes), \"replug COM1\" (a new port behind the same path)."));
  parser.addPositionalArgument(QStringLiteral("COMa"), QStringLiteral("The first port (default COM1)."),
                               QStringLiteral("[COMa"));
  parser.addPositionalArgument(QStringLiteral("COMb"), QStringLiteral("The second port (default COM2)."),
                               QStringLiteral("COMb]"));
  if (!Cli::Parse(parser, args, QStringLiteral("nullmodem [COMa COMb]"), 0, 2)) return Cli::ExitSuccess;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() == 1) throw Cli::UsageError(QStringLiteral("give two COM ports or none"));

  End ends[2];
  ends[0].Number = positional.isEmpty() ? 1 : Cli::ComNumber(positional.at(0));
  ends[1].Number = positional.isEmpty() ? 2 : Cli::ComNumber(positional.at(1));
  for (int i = 0; i < 2; ++i)
    if (ends[i].Number == 0)
      throw Cli::UsageError(QStringLiteral("\"%1\" is not COM1, COM2, COM3 or COM4").arg(positional.at(i)));
  if (ends[0].Number == ends[1].Number) throw Cli::UsageError(QStringLiteral("the two ports must differ"));

  const int signalFd = SignalPipe::Install({SIGINT, SIGTERM, SIGHUP, SIGUSR1});
  Pending pending[2];  // pending[i]: read from ends[i], for the other end
  // Whatever ends the relay, the ports go and the claims with them.
  struct CloseAtEnd {
    End* Ends;
    ~CloseAtEnd() {
      for (int i = 0; i < 2; ++i) {
        Ends[i].Claim.Release();
        if (Ends[i].Master >= 0) close(Ends[i].Master);
      }
    }
  } closeAtEnd{ends};
  for (End& end : ends) {
    std::string error;
    if (!end.Claim.Claim(end.Number, error))
      throw Cli::Failure(QStringLiteral("cannot map COM%1: %2").arg(end.Number).arg(QString::fromStdString(error)));
    Replug(end);
  }
  for (const End& end : ends) std::printf("COM%d %s\n", end.Number, end.Claim.DevicePath().c_str());
  std::fflush(stdout);
  if (isatty(STDERR_FILENO))
    Cli::PrintInfo(QStringLiteral("quorlink nullmodem: COM%1 and COM%2 are linked; Ctrl-C ends the link")
                       .arg(ends[0].Number)
                       .arg(ends[1].Number));

  ControlLines commands;
  bool reading = true;  // standard input still open
  bool running = true;
  while (running) {
    pollfd fds[4];
    fds[0] = {signalFd, POLLIN, 0};
    for (int i = 0; i < 2; ++i) {
      const int other = 1 - i;
      short events = 0;
      if (pending[i].Empty()) events |= POLLIN;        // room to take more from this end
      if (!pending[other].Empty()) events |= POLLOUT;  // bytes waiting for this end
      // An end nobody has open reports a hang-up at once: poll it by time instead.
      fds[1 + i] = {ends[i].Present ? ends[i].Master : -1, events, 0};
    }
    fds[3] = {reading ? STDIN_FILENO : -1, POLLIN, 0};
    const bool anyAbsent = (!ends[0].Present && ends[0].Master >= 0) || (!ends[1].Present && ends[1].Master >= 0);
    const int ready = poll(fds, 4, anyAbsent ? 50 : -1);
    if (ready < 0 && errno != EINTR)
      throw Cli::Failure(QStringLiteral("poll failed: %1").arg(QString::fromStdString(ErrnoText())));

    if (fds[0].revents & POLLIN) {
      while (const int signal = SignalPipe::Take()) {
        if (signal == SIGUSR1)
          Cli::PrintInfo(Statistics(ends));
        else
          running = false;
      }
    }
    // The end of the input leaves the relay running, as under tools/run.
    if (fds[3].revents & (POLLIN | POLLHUP | POLLERR)) reading = commands.Read(ends, pending);
    for (int i = 0; i < 2; ++i) {
      const int other = 1 - i;
      if (!ends[i].Present && SlaveOpen(ends[i])) ends[i].Present = true;
      if (!ends[i].Present) {
        // A program may open the port, write and close it again between two
        // looks: what it wrote still waits in the master, and goes on.
        if (ends[i].Master >= 0) Relay(ends[i], ends[other], pending[i], pending[other]);
        continue;
      }
      const short revents = fds[1 + i].revents;
      if (revents & (POLLIN | POLLHUP | POLLERR)) Relay(ends[i], ends[other], pending[i], pending[other]);
      if (ends[i].Present && (revents & POLLOUT)) Flush(ends[i], pending[other]);
      if (ends[i].Present && (revents & POLLHUP) && !SlaveOpen(ends[i])) MarkAbsent(ends[i], pending[other]);
    }
  }

  if (isatty(STDERR_FILENO)) Cli::PrintInfo(Statistics(ends));
  return Cli::ExitSuccess;
}
