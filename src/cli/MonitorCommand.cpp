// quorlink monitor: the display without windows. The worker thread receives in
// display mode and hands every receive event to the main thread, which writes
// a line with the decoded values, the capture file line and the statistics.

#include "capture/CaptureWriter.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/SignalPipe.h"
#include "cli/TruckValues.h"
#include "link/QtHandOff.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"

#include <QCoreApplication>
#include <QTime>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

struct Watcher {
  TQUORLINK Link;
  TCaptureWriter Capture;
  std::unique_ptr<TruckValues::Formatter> Format;
  bool Quiet = false;
  long long Count = 0;  // good frames to wait for; 0 until stopped
  int ExitCode = Cli::ExitSuccess;

  long long Events[4] = {};  // receive events by status
  std::uint32_t GoodAtStart = 0;
  std::uint32_t LastGood = 0;
  Clock::time_point Started = Clock::now();
  Clock::time_point FirstGoodTime, LastGoodTime;

  long long GoodFrames() const { return Link.GoodFrameCount.load() - GoodAtStart; }

  void Stop(int exitCode) {
    if (ExitCode == Cli::ExitSuccess) ExitCode = exitCode;
    QCoreApplication::quit();
  }

  static void OnReceive(void* context, int status) { static_cast<Watcher*>(context)->Receive(status); }

  void Receive(int status) {
    const QTime time = QTime::currentTime();
    std::uint8_t data[256];
    std::uint8_t length = 0;
    Link.GetRecord(data, sizeof data, &length);
    if (status >= 0 && status < 4) ++Events[status];

    const std::uint32_t good = Link.GoodFrameCount.load();
    if (good != LastGood) {
      LastGoodTime = Clock::now();
      if (LastGood == GoodAtStart) FirstGoodTime = LastGoodTime;
      LastGood = good;
    }

    if (Capture.IsOpen() && !Capture.LogFrame(status, length, data)) {
      Cli::PrintError(QString::fromStdString(Capture.LastError()));
      Capture.CloseLog();
      Stop(Cli::ExitFailure);
      return;
    }
    if (!Quiet) {
      TruckValues::Event event;
      event.Time = time.toString(QStringLiteral("HH:mm:ss.zzz"));
      event.Status = status;
      event.Length = length;
      event.Data = data;
      const QByteArray line = Format->Line(event);
      if (std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout) != static_cast<size_t>(line.size()) ||
          std::fflush(stdout) != 0) {
        // Whoever read our output has gone (quorlink monitor | head): stop.
        Stop(Cli::ExitSuccess);
        return;
      }
    }
    if (Count > 0 && GoodFrames() >= Count) Stop(Cli::ExitSuccess);
  }

  QString Statistics() const {
    const long long good = GoodFrames();
    const double span = std::chrono::duration<double>(LastGoodTime - FirstGoodTime).count();
    const double rate = good >= 2 && span > 0 ? static_cast<double>(good - 1) / span : 0.0;
    const QString since = good > 0 ? QStringLiteral("%1 s").arg(std::chrono::duration<double>(Clock::now() - LastGoodTime).count(), 0, 'f', 3)
                                   : QStringLiteral("no good frame yet");
    return QStringLiteral(
               "quorlink monitor: statistics after %1 s\n"
               "  good frames            %2\n"
               "  checksum errors        %3\n"
               "  length errors          %4\n"
               "  start-byte events      %5\n"
               "  frames per second      %6\n"
               "  since last good frame  %7")
        .arg(std::chrono::duration<double>(Clock::now() - Started).count(), 0, 'f', 1)
        .arg(good)
        .arg(Events[1])
        .arg(Events[3])
        .arg(Events[2])
        .arg(rate, 0, 'f', 2)
        .arg(since);
  }
};

}  // namespace

int Commands::Monitor(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Watches a truck: receives Quorlink frames and writes one line per receive\n"
      "event (a good frame, a checksum error, a length error, or a start byte seen\n"
      "right after an error) with the decoded values; after an error the values are\n"
      "those of the last good frame. Line settings start from those stored for\n"
      "display mode. Statistics go to standard error on exit and on SIGUSR1.\n"
      "--count and --duration end it; with both, too few frames in time is a failure."));
  Cli::LineOptions line;
  line.Add(parser, true, 253);
  const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("Lines as text, csv or json (default text)."),
                                  QStringLiteral("format"), QStringLiteral("text"));
  const QCommandLineOption capture(QStringLiteral("capture"), QStringLiteral("Also write a capture file, as the windows do."),
                                   QStringLiteral("file"));
  const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after this many good frames."), QStringLiteral("frames"));
  const QCommandLineOption duration(QStringLiteral("duration"), QStringLiteral("Stop after this many seconds."), QStringLiteral("seconds"));
  const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No event lines; only the statistics."));
  parser.addOptions({format, capture, count, duration, quiet});
  if (!Cli::Parse(parser, args, QStringLiteral("monitor [options]"), 0, 0)) return Cli::ExitSuccess;

  // Signals are caught from here on; they take effect once the loop runs.
  SignalNotifier signalNotifier({SIGINT, SIGTERM, SIGHUP, SIGUSR1});
  auto monitor = std::make_unique<Watcher>();
  TQUORLINK& link = monitor->Link;
  line.Apply(parser, link, 0);
  const TruckValues::Format kind = TruckValues::ParseFormat(parser.value(format));
  if (parser.isSet(count)) monitor->Count = Cli::ToInteger(parser.value(count), QStringLiteral("--count"), 1, 1LL << 40);
  const double seconds = parser.isSet(duration) ? Cli::ToDouble(parser.value(duration), QStringLiteral("--duration"), 0.001, 1e7) : 0;
  monitor->Quiet = parser.isSet(quiet);
  monitor->Format = std::make_unique<TruckValues::Formatter>(kind, link.DataLength - 24, false);

  if (parser.isSet(capture) && !monitor->Capture.StartLog(parser.value(capture).toStdString()))
    throw Cli::Failure(QString::fromStdString(monitor->Capture.LastError()));
  Cli::OpenPort(link);
  monitor->GoodAtStart = monitor->LastGood = link.GoodFrameCount.load();

  if (!monitor->Quiet) {
    const QByteArray header = monitor->Format->Header();
    std::fwrite(header.constData(), 1, static_cast<size_t>(header.size()), stdout);
    std::fflush(stdout);
  }
  Cli::PrintInfo(QStringLiteral("quorlink monitor: listening on %1").arg(Cli::Describe(link)));

  Watcher* m = monitor.get();
  QObject::connect(&signalNotifier, &SignalNotifier::Received, [m](int signal) {
    if (signal == SIGUSR1)
      Cli::PrintInfo(m->Statistics());
    else
      m->Stop(Cli::ExitSuccess);
  });
  if (seconds > 0)
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)), [m] {
      if (m->Count > 0 && m->GoodFrames() < m->Count) {
        Cli::PrintError(QStringLiteral("only %1 of %2 good frames arrived in time").arg(m->GoodFrames()).arg(m->Count));
        m->Stop(Cli::ExitFailure);
      } else {
        m->Stop(Cli::ExitSuccess);
      }
    });

  TThread_Quorlink worker(true);
  worker.Link = &link;
  worker.SetReceiveHook(&Watcher::OnReceive, m);
  worker.SetPriority(TThread_Quorlink::tpHighest);
  {
    TQtHandOff handOff(&worker);
    worker.Resume();
    QCoreApplication::exec();
    // Terminate releases a hand-over still waiting, so this never hangs.
    worker.Terminate();
    worker.WaitFor();
  }
  link.Close();
  monitor->Capture.CloseLog();
  Cli::PrintInfo(monitor->Statistics());
  return monitor->ExitCode;
}
