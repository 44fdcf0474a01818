// quorlink replay: sends the good frames of a capture file out of a port in
// file order, spaced as they were recorded (divided by --speed).

#include "cli/CaptureReader.h"
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
constexpr int DayMs = 24 * 60 * 60 * 1000;

struct Schedule {
  std::vector<const CaptureRecord*> Frames;
  std::vector<long long> OffsetMs;  // from the first frame, as recorded
  long long LoopGapMs = 70;         // from the last frame to the first again
};

Schedule Plan(const CaptureContents& contents) {
  Schedule plan;
  long long offset = 0;
  int previous = -1;
  for (const CaptureRecord& record : contents.Records) {
    if (record.Status != 0) continue;
    const int now = record.TimeOfDayMs();
    if (previous >= 0) {
      int step = now - previous;
      if (step < 0) step += DayMs;  // the capture ran past midnight
      offset += step;
    }
    previous = now;
    plan.Frames.push_back(&record);
    plan.OffsetMs.push_back(offset);
  }
  // Frames logged within one millisecond still get a little room when looping.
  if (plan.Frames.size() >= 2) plan.LoopGapMs = std::max(1LL, offset / static_cast<long long>(plan.Frames.size() - 1));
  return plan;
}

class Player {
public:
  Player(TQUORLINK& link, const Schedule& plan, double speed, bool loop)
      : Link(link), Plan(plan), Speed(speed), Loop(loop) {
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

  std::atomic<long long> Sent{0};
  std::atomic<long long> Failed{0};

private:
  // Waits until t; false when stopped first.
  bool WaitUntil(Clock::time_point t) {
    std::unique_lock<std::mutex> lock(Lock);
    return !Wake.wait_until(lock, t, [this] { return Stopping; });
  }

  void Run() {
    Clock::time_point start = Clock::now();
    do {
      for (size_t i = 0; i < Plan.Frames.size(); ++i) {
        const auto offset = std::chrono::duration<double, std::milli>(static_cast<double>(Plan.OffsetMs[i]) / Speed);
        if (!WaitUntil(start + std::chrono::duration_cast<Clock::duration>(offset))) return Finish();
        const CaptureRecord& frame = *Plan.Frames[i];
        if (Link.SendFrame(frame.Data, static_cast<std::uint8_t>(frame.Length)) == 1)
          Sent.fetch_add(1);
        else if (!StoppingNow())
          Failed.fetch_add(1);
      }
      const auto gap =
          std::chrono::duration<double, std::milli>(static_cast<double>(Plan.OffsetMs.back() + Plan.LoopGapMs) / Speed);
      start += std::chrono::duration_cast<Clock::duration>(gap);
    } while (Loop && !StoppingNow());
    Finish();
  }

  bool StoppingNow() {
    std::lock_guard<std::mutex> lock(Lock);
    return Stopping;
  }

  void Finish() { Done.Signal(); }

  TQUORLINK& Link;
  const Schedule& Plan;
  const double Speed;
  const bool Loop;
  const TWakeEvent Done;
  std::mutex Lock;
  std::condition_variable Wake;
  bool Stopping = false;
  std::thread Thread;
};

}  // namespace

int Commands::Replay(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Sends the good frames (status 0 lines) of a capture file out of a port, in\n"
                     "file order and with the spacing recorded in their timestamps; each frame has\n"
                     "the data length of its line. Lines that cannot be read are reported and\n"
                     "skipped. Ctrl-C stops at once. Line settings start from those stored for\n"
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
  SignalNotifier signalNotifier({SIGINT, SIGTERM, SIGHUP});
  const double factor = Cli::ToDouble(parser.value(speed), QStringLiteral("--speed"), 0.001, 1000.0);
  TQUORLINK link;
  line.Apply(parser, link, 1);

  const QString path = parser.positionalArguments().first();
  CaptureContents contents;
  QString error;
  if (!ReadCaptureFile(path, contents, error)) throw Cli::Failure(error);
  for (const CaptureProblem& problem : contents.Problems)
    Cli::PrintWarning(QStringLiteral("%1:%2: %3; line skipped").arg(path).arg(problem.Line).arg(problem.Reason));
  const Schedule plan = Plan(contents);
  if (plan.Frames.empty()) throw Cli::Failure(QStringLiteral("%1 holds no good frame to replay").arg(path));

  Cli::OpenPort(link);
  Cli::PrintInfo(QStringLiteral("quorlink replay: %1 frames over %2 s on %3")
                     .arg(plan.Frames.size())
                     .arg(static_cast<double>(plan.OffsetMs.back()) / 1000.0 / factor, 0, 'f', 3)
                     .arg(Cli::Describe(link)));

  Player player(link, plan, factor, parser.isSet(loop));
  QObject::connect(&signalNotifier, &SignalNotifier::Received, [] { QCoreApplication::quit(); });
  QSocketNotifier done(player.Descriptor(), QSocketNotifier::Read);
  QObject::connect(&done, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();

  // Closing first cuts a frame in progress short, so Ctrl-C takes effect at once.
  player.RequestStop();
  link.Close();
  player.Stop();
  Cli::PrintInfo(
      QStringLiteral("quorlink replay: %1 frames sent, %2 failed").arg(player.Sent.load()).arg(player.Failed.load()));
  return player.Failed.load() > 0 ? Cli::ExitFailure : Cli::ExitSuccess;
}
