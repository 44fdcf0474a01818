// quorlink replay: sends the good frames of a capture file out of a port in
// file order, spaced as they were recorded (divided by --speed). The file is
// read as it is played, so the first frame goes out at once and memory stays
// the same whatever the size of the file.

#include "capture/CaptureReader.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/SignalPipe.h"
#include "link/Quorlink.h"
#include "platform/WakeEvent.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using CaptureFormat::DayMs;
// A step back in time of the clock is a midnight passed when the capture goes
// on within this much after it; any other step back starts a new stretch.
constexpr int MidnightGapMax = 60 * 60 * 1000;

QString TimeText(int timeOfDayMs) {
  char text[CaptureFormat::TimeTextSize];
  CaptureFormat::PutTimeOfDay(text, timeOfDayMs, '.');
  return QString::fromLatin1(text, sizeof text);
}

// Reads the capture and sends its good frames on a thread of its own.
class Player {
public:
  enum Outcome { Played, NoGoodFrame, ReadFailed };

  Player(TQUORLINK& link, CaptureReader& reader, const QString& path, double speed, bool loop)
      : Link(link), Reader(reader), Path(path), Speed(speed), Loop(loop) {
    Thread = std::thread([this] { Run(); });
  }
  ~Player() { Stop(); }
  // Asks the player to stop; a frame being written still counts as stopped.
  void RequestStop() {
    {
      std::lock_guard<std::mutex> lock(Lock);
      Stopping = true;
    }
    Wake.notify_all();
  }
  void Stop() {
    RequestStop();
    if (Thread.joinable()) Thread.join();
  }
  int Descriptor() const { return Done.Descriptor(); }
  // After Stop: how the file was played, and the read error if any.
  Outcome Result() const { return Finished.load(); }
  std::string ReadError() const { return Reader.Error(); }

  std::atomic<long long> Sent{0};
  std::atomic<long long> Failed{0};
  std::atomic<long long> NotSent{0};  // due while the device was lost
  std::atomic<long long> Line{0};     // the line being played

private:
  // Waits until t; false when stopped first.
  bool WaitUntil(Clock::time_point t) {
    std::unique_lock<std::mutex> lock(Lock);
    return !Wake.wait_until(lock, t, [this] { return Stopping; });
  }

  bool StoppingNow() {
    std::lock_guard<std::mutex> lock(Lock);
    return Stopping;
  }

  Clock::duration Scaled(long long ms) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(static_cast<double>(ms) / Speed));
  }

  // Milliseconds from the good frame before to this one, as recorded.
  long long Step(int previous, int now, bool warn) {
    int step = now - previous;
    if (step >= 0) return step;
    if (step + DayMs <= MidnightGapMax) return step + DayMs;
    if (warn)
      Cli::PrintWarning(QStringLiteral("%1:%2: the time steps back from %3 to %4; the frame goes out without a wait, "
                                       "as the start of a new stretch")
                            .arg(Path)
                            .arg(Reader.LineNumber())
                            .arg(TimeText(previous), TimeText(now)));
    return 0;
  }

  // One pass through the file from its first line; the number of good frames.
  long long Pass(Clock::time_point start, long long& span, bool first) {
    long long frames = 0;
    long long offset = 0;
    int previous = 0;
    while (Reader.Next()) {
      Line.store(Reader.LineNumber());
      if (Reader.Kind() == CaptureFormat::LineKind::Damaged && first)
        Cli::PrintWarning(QStringLiteral("%1:%2: %3; line skipped")
                              .arg(Path)
                              .arg(Reader.LineNumber())
                              .arg(QString::fromStdString(CaptureFormat::Describe(Reader.Damage()))));
      if (Reader.Kind() != CaptureFormat::LineKind::Record || Reader.Record().Status != 0) continue;
      const CaptureFormat::Record& record = Reader.Record();
      if (frames > 0) offset += Step(previous, record.TimeOfDayMs, first);
      previous = record.TimeOfDayMs;
      if (!WaitUntil(start + Scaled(offset))) return -1;
      if (Link.SendFrame(record.Data, static_cast<std::uint8_t>(record.Length)) == 1)
        Sent.fetch_add(1);
      else if (!StoppingNow())
        (Cli::DeviceLost(Link) ? NotSent : Failed).fetch_add(1);
      ++frames;
    }
    span = offset;
    return frames;
  }

  void Run() {
    Clock::time_point start = Clock::now();
    bool first = true;
    for (;;) {
      long long span = 0;
      const long long frames = Pass(start, span, first);
      if (frames < 0) break;  // stopped
      if (!Reader.Error().empty()) {
        Finished.store(ReadFailed);
        break;
      }
      if (frames == 0) {
        Finished.store(first ? NoGoodFrame : Played);
        break;
      }
      if (!Loop || StoppingNow()) break;
      if (!Reader.Rewind()) {
        Cli::PrintWarning(QStringLiteral("%1 cannot be read again (a pipe?); not looping").arg(Path));
        break;
      }
      // Frames logged within one millisecond still get a little room when looping.
      const long long gap = frames >= 2 ? std::max(1LL, span / (frames - 1)) : 70;
      start += Scaled(span + gap);
      first = false;
    }
    Done.Signal();
  }

  TQUORLINK& Link;
  CaptureReader& Reader;
  const QString Path;
  const double Speed;
  const bool Loop;
  const TWakeEvent Done;
  std::atomic<Outcome> Finished{Played};
  std::mutex Lock;
  std::condition_variable Wake;
  bool Stopping = false;
  std::thread Thread;
};

QString Summary(const Player& player) {
  const long long notSent = player.NotSent.load();
  return QStringLiteral("quorlink replay: %1 sent, %2 failed%3")
      .arg(Cli::Counted(player.Sent.load(), "frame", "frames"))
      .arg(player.Failed.load())
      .arg(notSent ? QStringLiteral(", %1 not sent while the device was lost").arg(notSent) : QString());
}

}  // namespace

int Commands::Replay(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Sends the good frames (status 0 lines) of a capture file out of a port, in\n"
                     "file order and with the spacing recorded in their timestamps; each frame has\n"
                     "the data length of its line. The file is read as it is played: the first\n"
                     "frame goes out at once, whatever its size. A time that steps back past\n"
                     "midnight (within an hour) keeps its spacing; any other step back (captures\n"
                     "appended to each other, a clock set back) is reported and sent without a\n"
                     "wait. Lines that cannot be read are reported and skipped. Ctrl-C stops at\n"
                     "once; SIGUSR1 prints the counts. Line settings start from those stored for\n"
                     "source mode."));
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture file."));
  Cli::LineOptions line;
  line.Add(parser, false, 255);
  const QCommandLineOption speed(QStringLiteral("speed"),
                                 QStringLiteral("Play this many times faster (0.5 half as fast; default 1)."),
                                 QStringLiteral("factor"), QStringLiteral("1"));
  const QCommandLineOption loop(QStringLiteral("loop"),
                                QStringLiteral("Start again after the last frame until stopped."));
  parser.addOptions({speed, loop});
  if (!Cli::Parse(parser, args, QStringLiteral("replay [options] file"), 1, 1)) return Cli::ExitSuccess;

  // Signals are caught from here on; they take effect once the loop runs.
  SignalNotifier signalNotifier({SIGINT, SIGTERM, SIGHUP, SIGUSR1});
  const double factor = Cli::ToDouble(parser.value(speed), QStringLiteral("--speed"), 0.001, 1000.0);
  TQUORLINK link;
  line.Apply(parser, link, 1);

  const QString path = parser.positionalArguments().first();
  CaptureReader reader;
  if (!reader.Open(path.toStdString())) throw Cli::Failure(QString::fromStdString(reader.Error()));

  Cli::OpenPort(link);
  const Cli::PortWatch portWatch(link, [] { QCoreApplication::quit(); });
  Cli::PrintInfo(QStringLiteral("quorlink replay: sending the good frames of %1 on %2").arg(path, Cli::Describe(link)));

  Player player(link, reader, path, factor, parser.isSet(loop));
  QObject::connect(&signalNotifier, &SignalNotifier::Received, [&player, &path](int signal) {
    if (signal == SIGUSR1)
      Cli::PrintInfo(Summary(player) + QStringLiteral(", at line %1 of %2").arg(player.Line.load()).arg(path));
    else
      QCoreApplication::quit();
  });
  QSocketNotifier done(player.Descriptor(), QSocketNotifier::Read);
  QObject::connect(&done, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();

  // Closing first cuts a frame in progress short, so Ctrl-C takes effect at once.
  player.RequestStop();
  link.Close();
  player.Stop();
  Cli::PrintInfo(Summary(player));
  switch (player.Result()) {
  case Player::NoGoodFrame: throw Cli::Failure(QStringLiteral("%1 holds no good frame to replay").arg(path));
  case Player::ReadFailed: throw Cli::Failure(QString::fromStdString(player.ReadError()));
  default: break;
  }
  return player.Failed.load() > 0 || portWatch.Gone() ? Cli::ExitFailure : Cli::ExitSuccess;
}
