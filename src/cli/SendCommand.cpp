// quorlink send: the truck without windows. The worker thread's beat sends the
// record (a frame every seventh 10 ms pass), or a pacer thread does when
// --period-ms is given; faults are injected at a rate or on demand.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/SignalPipe.h"
#include "cli/TruckValues.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "platform/WakeEvent.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

enum Fault { Drop, BadChecksum, Long, Short, Stray, FaultKinds };
const char* const FaultNames[FaultKinds] = {"drop", "bad-checksum", "long", "short", "stray"};
const char* const FaultWords[FaultKinds] = {"dropped", "bad checksum", "too long", "too short", "with stray bytes"};

// Decides and sends each frame. Beat runs on the sending thread (the worker or
// the pacer) and allocates nothing; everything else runs in the main thread.
class Sender {
public:
  long long Every[FaultKinds] = {};             // a fault on every Nth frame; 0 never
  std::atomic<int> Requested[FaultKinds] = {};  // on-demand faults waiting for a frame
  std::uint8_t StrayBytes[64] = {0x55, 0xAA};
  int StrayCount = 2;
  long long Count = 0;  // frames to send; 0 until stopped
  // Set by "quit": the last frame slot to fill, sending ends there once no
  // on-demand fault is waiting any more; 0 while not asked to quit.
  std::atomic<long long> QuitAfter{0};

  std::atomic<long long> Frames{0};   // frame slots so far, dropped ones included
  std::atomic<long long> Sent{0};     // frames written, faulty ones included
  std::atomic<long long> Failed{0};   // writes that failed
  std::atomic<long long> NotSent{0};  // frames due while the device was lost
  std::atomic<long long> Faults[FaultKinds] = {};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Stopping{false};  // the port is being closed: failures are ours
  std::atomic<bool> Failing{false};   // the last write failed
  TWakeEvent Changed;                 // readable when Finished or Failing changed

  void Beat(TQUORLINK* link) {
    if (Finished.load()) return;
    const long long k = Frames.load() + 1;
    Frames.store(k);

    int fault = -1;
    for (int f = Drop; f <= Short && fault < 0; ++f)
      if (Due(f, k)) fault = f;
    const bool stray = Due(Stray, k);

    // A lost device is waited for, not failed: its frames are counted apart.
    int failed = 0, lost = 0;
    const auto fail = [&] { ++(Cli::DeviceLost(*link) ? lost : failed); };
    if (fault != Drop) {
      const bool ok = fault == -1 ? link->Transmit() == 1 : SendFaulty(link, static_cast<Fault>(fault));
      if (ok)
        Sent.fetch_add(1);
      else
        fail();
    }
    if (fault >= 0) Faults[fault].fetch_add(1);
    if (stray) {
      if (link->Write(StrayBytes, StrayCount) != 1) fail();
      Faults[Stray].fetch_add(1);
    }
    if ((failed || lost) && Stopping.load()) return;
    Failed.fetch_add(failed);
    if (lost) NotSent.fetch_add(1);
    const bool ok = failed == 0;
    if (Failing.exchange(!ok) != !ok) Wake();
    const long long quitAfter = QuitAfter.load();
    if ((Count > 0 && k >= Count) || (quitAfter > 0 && k >= quitAfter && !FaultsWaiting())) {
      Finished.store(true);
      Wake();
    }
  }

  static void Hook(void* context, TQUORLINK* link) { static_cast<Sender*>(context)->Beat(link); }

private:
  bool FaultsWaiting() const {
    for (const std::atomic<int>& requested : Requested)
      if (requested.load() > 0) return true;
    return false;
  }

  bool Due(int f, long long k) {
    if (Every[f] > 0 && k % Every[f] == 0) return true;
    int waiting = Requested[f].load();
    while (waiting > 0)
      if (Requested[f].compare_exchange_weak(waiting, waiting - 1)) return true;
    return false;
  }

  void Wake() { Changed.Signal(); }

  // The record as a frame with one thing wrong. Frames on the line are built by
  // the link; these deliberately broken ones only here.
  static bool SendFaulty(TQUORLINK* link, Fault fault) {
    std::uint8_t frame[260];
    std::uint8_t length = 0;
    link->GetRecord(frame + 1, 255, &length);
    frame[0] = TQUORLINK::StartByte;
    std::uint8_t sum = 0;
    for (int i = 0; i <= length; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    const std::uint8_t checksum = static_cast<std::uint8_t>(0u - sum);
    int count = length + 2;
    switch (fault) {
    case BadChecksum: frame[length + 1] = static_cast<std::uint8_t>(~checksum); break;
    case Long:
      // A good frame of one more data byte. The receiver takes the extra byte
      // for the checksum, which it never matches, and drops the real checksum
      // (0xFF, never a start byte) while it waits for the next frame.
      frame[length + 1] = static_cast<std::uint8_t>(checksum + 1);
      frame[length + 2] = 0xFF;
      count = length + 3;
      break;
    case Short:
      // A good frame of one data byte less: the receiver completes it with the
      // next frame's start byte.
      if (length == 0) {
        count = 1;
      } else {
        frame[length] = static_cast<std::uint8_t>(frame[length] + checksum);
        count = length + 1;
      }
      break;
    default: break;
    }
    return link->Write(frame, count) == 1;
  }
};

// Sends on its own steady period instead of the worker's beat.
class Pacer {
public:
  Pacer(Sender& sender, TQUORLINK& link, std::chrono::milliseconds period) : Period(period) {
    Thread = std::thread([this, &sender, &link] { Run(sender, link); });
  }
  ~Pacer() { Stop(); }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Stopping = true;
    }
    Wake.notify_all();
    if (Thread.joinable()) Thread.join();
  }

private:
  void Run(Sender& sender, TQUORLINK& link) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    std::unique_lock<std::mutex> lock(Lock);
    while (!Stopping) {
      lock.unlock();
      sender.Beat(&link);
      lock.lock();
      next += Period;
      // Fallen behind by a whole period (a slow line): start afresh from now
      // rather than sending a burst to catch up.
      if (Clock::now() > next + Period) next = Clock::now();
      Wake.wait_until(lock, next, [this] { return Stopping; });
    }
  }

  const std::chrono::milliseconds Period;
  std::mutex Lock;
  std::condition_variable Wake;
  bool Stopping = false;
  std::thread Thread;
};

QString Summary(const Sender& sender) {
  QString faults;
  for (int f = 0; f < FaultKinds; ++f) {
    const long long n = sender.Faults[f].load();
    if (n)
      faults += QStringLiteral("%1%2 %3")
                    .arg(faults.isEmpty() ? QString() : QStringLiteral(", "))
                    .arg(n)
                    .arg(QLatin1String(FaultWords[f]));
  }
  const long long notSent = sender.NotSent.load();
  return QStringLiteral("%1 (%2 sent, %3 dropped%4), %5%6")
      .arg(Cli::Counted(sender.Frames.load(), "frame", "frames"))
      .arg(sender.Sent.load())
      .arg(sender.Faults[Drop].load())
      .arg(notSent ? QStringLiteral(", %1 not sent while the device was lost").arg(notSent) : QString())
      .arg(Cli::Counted(sender.Failed.load(), "failed write", "failed writes"))
      .arg(faults.isEmpty() ? QString() : QStringLiteral("; faults: ") + faults);
}

QString NamesHelp() {
  QString text = QStringLiteral("\n\nTruck values (bytes 0 to 20, 0 to 255 each):\n ");
  int column = 1;
  for (const TruckValues::Field& field : TruckValues::Columns()) {
    if (field.Mask != 0xFF) continue;
    if (column + field.Name.size() + 1 > 78) {
      text += QStringLiteral("\n ");
      column = 1;
    }
    text += QLatin1Char(' ') + field.Name;
    column += field.Name.size() + 1;
  }
  text += QStringLiteral("\nStatus flags (bytes 21 to 23, 0 or 1 each):\n ");
  column = 1;
  for (const TruckValues::Field& field : TruckValues::Columns()) {
    if (field.Mask == 0xFF) continue;
    if (column + field.Name.size() + 1 > 78) {
      text += QStringLiteral("\n ");
      column = 1;
    }
    text += QLatin1Char(' ') + field.Name;
    column += field.Name.size() + 1;
  }
  text += QStringLiteral("\nAlso status_1 to status_3 (whole status bytes) and byteN (any byte).");
  return text;
}

std::vector<std::uint8_t> HexBytes(const QString& text) {
  QString digits = text;
  digits.remove(QLatin1Char(' ')).remove(QLatin1Char(':')).remove(QLatin1Char(','));
  if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) digits = digits.mid(2);
  const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
  bool valid = !digits.isEmpty() && digits.size() % 2 == 0 && bytes.size() * 2 == digits.size();
  for (const QChar c : digits) valid = valid && isxdigit(c.toLatin1());
  if (!valid || bytes.size() > 64)
    throw Cli::UsageError(
        QStringLiteral("--stray-bytes wants 1 to 64 bytes in hexadecimal (\"55 AA\"), not \"%1\"").arg(text));
  return {bytes.begin(), bytes.end()};
}

}  // namespace

int Commands::Send(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Plays the truck: sends the record as Quorlink frames, by default on the\n"
                     "worker's beat (a frame every seventh 10 ms pass, about every 70 ms), until\n"
                     "stopped or --count frames have gone. The record starts all zero; values are\n"
                     "set by name. Line settings start from those stored for source mode.\n\n"
                     "Faults for testing truck displays, at a rate (--<fault>-every N: every Nth\n"
                     "frame) or on demand (--commands: lines on standard input): bad-checksum,\n"
                     "long (one data byte too many), short (one too few), stray (the stray bytes\n"
                     "after the frame), drop (no frame). Commands: bad-checksum, long, short,\n"
                     "stray, drop, set name=value, stats, quit; a line longer than 4096 bytes is\n"
                     "skipped. quit ends once the frames that carry the commands before it have\n"
                     "gone (printf 'bad-checksum\\nquit\\n' | quorlink send --commands). The end of\n"
                     "the input ends the reading, not the sending: that goes on until quit,\n"
                     "--count or Ctrl-C. SIGUSR1 prints the counts.") +
      NamesHelp());
  Cli::LineOptions line;
  line.Add(parser, true, 255);
  const QCommandLineOption set(QStringLiteral("set"),
                               QStringLiteral("Set a truck value: name=value (decimal or 0x hex). Repeatable."),
                               QStringLiteral("name=value"));
  const QCommandLineOption values(QStringLiteral("values"),
                                  QStringLiteral("Set values from a JSON object file ({\"engine_rpm\": 173})."),
                                  QStringLiteral("file"));
  const QCommandLineOption count({QStringLiteral("c"), QStringLiteral("count")},
                                 QStringLiteral("Stop after this many frames (dropped ones count)."),
                                 QStringLiteral("frames"));
  const QCommandLineOption period(QStringLiteral("period-ms"),
                                  QStringLiteral("Send every this many milliseconds instead of the worker's beat."),
                                  QStringLiteral("ms"));
  const QCommandLineOption commands(
      QStringLiteral("commands"),
      QStringLiteral("Read commands from standard input, one per line; sending goes on after its end."));
  const QCommandLineOption strayBytes(QStringLiteral("stray-bytes"),
                                      QStringLiteral("The stray bytes, in hexadecimal (default \"55 AA\")."),
                                      QStringLiteral("hex"));
  parser.addOptions({set, values, count, period, commands, strayBytes});
  QCommandLineOption every[FaultKinds] = {
      {QStringLiteral("drop-every"), QStringLiteral("Drop every Nth frame."), QStringLiteral("N")},
      {QStringLiteral("bad-checksum-every"), QStringLiteral("Spoil the checksum of every Nth frame."),
       QStringLiteral("N")},
      {QStringLiteral("long-every"), QStringLiteral("Make every Nth frame one data byte too long."),
       QStringLiteral("N")},
      {QStringLiteral("short-every"), QStringLiteral("Make every Nth frame one data byte too short."),
       QStringLiteral("N")},
      {QStringLiteral("stray-every"), QStringLiteral("Send the stray bytes after every Nth frame."),
       QStringLiteral("N")},
  };
  for (const QCommandLineOption& option : every) parser.addOption(option);
  if (!Cli::Parse(parser, args, QStringLiteral("send [options]"), 0, 0)) return Cli::ExitSuccess;

  // Signals are caught from here on; they take effect once the loop runs.
  SignalNotifier signalNotifier({SIGINT, SIGTERM, SIGHUP, SIGUSR1});
  TQUORLINK link;
  line.Apply(parser, link, 1);
  const int length = link.DataLength;
  std::uint8_t record[256] = {};
  if (parser.isSet(values)) TruckValues::AssignFromJsonFile(parser.value(values), record, length);
  for (const QString& assignment : parser.values(set)) TruckValues::Assign(assignment, record, length);

  Sender sender;
  for (int f = 0; f < FaultKinds; ++f)
    if (parser.isSet(every[f]))
      sender.Every[f] =
          Cli::ToInteger(parser.value(every[f]), QLatin1String("--") + every[f].names().first(), 1, 1LL << 40);
  if (parser.isSet(strayBytes)) {
    const std::vector<std::uint8_t> bytes = HexBytes(parser.value(strayBytes));
    std::memcpy(sender.StrayBytes, bytes.data(), bytes.size());
    sender.StrayCount = static_cast<int>(bytes.size());
  }
  if (parser.isSet(count)) sender.Count = Cli::ToInteger(parser.value(count), QStringLiteral("--count"), 1, 1LL << 40);
  const int periodMs =
      parser.isSet(period)
          ? static_cast<int>(Cli::ToInteger(parser.value(period), QStringLiteral("--period-ms"), 1, 3600000))
          : 0;

  link.SetRecord(record, static_cast<std::uint32_t>(length));
  Cli::OpenPort(link);
  const Cli::PortWatch portWatch(link, [] { QCoreApplication::quit(); });
  Cli::PrintInfo(QStringLiteral("quorlink send: sending on %1, %2")
                     .arg(Cli::Describe(link), periodMs ? QStringLiteral("a frame every %1 ms").arg(periodMs)
                                                        : QStringLiteral("a frame every seventh 10 ms pass")));

  QObject::connect(&signalNotifier, &SignalNotifier::Received, [&sender](int signal) {
    if (signal == SIGUSR1)
      Cli::PrintInfo(QStringLiteral("quorlink send: ") + Summary(sender));
    else
      QCoreApplication::quit();
  });

  bool warnedFailure = false;
  QSocketNotifier wake(sender.Changed.Descriptor(), QSocketNotifier::Read);
  QObject::connect(&wake, &QSocketNotifier::activated, [&] {
    sender.Changed.Clear();
    if (sender.Failing.load() && !warnedFailure) {
      warnedFailure = true;
      Cli::PrintWarning(
          QStringLiteral("writing to %1 fails; still trying").arg(QString::fromStdString(link.DevicePath())));
    } else if (!sender.Failing.load() && warnedFailure) {
      warnedFailure = false;
      Cli::PrintInfo(QStringLiteral("quorlink send: writing works again"));
    }
    if (sender.Finished.load()) QCoreApplication::quit();
  });

  // On-demand commands, one per line on standard input.
  bool quitting = false;
  const auto runCommand = [&](const QString& command) {
    if (command.isEmpty() || quitting) return;
    for (int f = 0; f < FaultKinds; ++f)
      if (command == QLatin1String(FaultNames[f])) {
        sender.Requested[f].fetch_add(1);
        return;
      }
    if (command == QLatin1String("stats")) {
      Cli::PrintInfo(QStringLiteral("quorlink send: ") + Summary(sender));
    } else if (command == QLatin1String("quit")) {
      // The frame slot after the one under way is the first to carry every
      // command before this one; faults still waiting get their frames too.
      sender.QuitAfter.store(sender.Frames.load() + 1);
      quitting = true;
    } else if (command.startsWith(QLatin1String("set "))) {
      try {
        TruckValues::Assign(command.mid(4).trimmed(), record, length);
        link.SetRecord(record, static_cast<std::uint32_t>(length));
      } catch (const Cli::UsageError& e) {
        Cli::PrintWarning(QString::fromStdString(e.what()));
      }
    } else {
      Cli::PrintWarning(QStringLiteral("unknown command \"%1\"").arg(command));
    }
  };
  // A line longer than any command is skipped as it comes, so that input
  // without line ends costs neither memory nor time.
  constexpr std::size_t CommandLineMax = 4096;
  char commandLine[CommandLineMax];
  std::size_t used = 0;
  bool skipping = false;
  std::unique_ptr<QSocketNotifier> stdinNotifier;
  if (parser.isSet(commands)) {
    stdinNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(stdinNotifier.get(), &QSocketNotifier::activated, [&] {
      char buffer[4096];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        if (n == 0 || errno != EINTR) stdinNotifier->setEnabled(false);  // end of input: keep sending
        return;
      }
      for (const char* p = buffer; p < buffer + n; ++p) {
        if (*p == '\n') {
          if (!skipping) runCommand(QString::fromLocal8Bit(commandLine, static_cast<qsizetype>(used)).trimmed());
          used = 0;
          skipping = false;
        } else if (skipping) {
          continue;
        } else if (used == CommandLineMax) {
          skipping = true;
          Cli::PrintWarning(
              QStringLiteral("a command line longer than %1 bytes; skipped up to its end").arg(CommandLineMax));
        } else {
          commandLine[used++] = *p;
        }
      }
    });
  }

  std::unique_ptr<TThread_Quorlink> worker;
  std::unique_ptr<Pacer> pacer;
  if (periodMs) {
    pacer = std::make_unique<Pacer>(sender, link, std::chrono::milliseconds(periodMs));
  } else {
    worker = std::make_unique<TThread_Quorlink>(true);
    worker->Link = &link;
    worker->SetTransmitHook(&Sender::Hook, &sender);
    worker->SetPriority(TThread_Quorlink::tpHighest);
    worker->Resume();
  }

  QCoreApplication::exec();

  // A write in progress is cut short by Close, so stopping never waits long.
  sender.Finished.store(true);
  sender.Stopping.store(true);
  link.Close();
  if (worker) {
    worker->Terminate();
    worker->WaitFor();
  }
  if (pacer) pacer->Stop();

  Cli::PrintInfo(QStringLiteral("quorlink send: ") + Summary(sender));
  return sender.Failed.load() > 0 || portWatch.Gone() ? Cli::ExitFailure : Cli::ExitSuccess;
}
