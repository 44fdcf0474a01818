// quorlink monitor: the display without windows. The worker thread receives in
// display mode, sleeping while the line is quiet, and handles every receive
// event itself: the line with the decoded values, the capture file line and
// the statistics. The main thread only waits for signals and the end.

#include "capture/CaptureWriter.h"
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
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Relaxed = std::memory_order_relaxed;

long long Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Everything the worker touches for an event is set up before it starts, so
// that an event costs no allocation and no hand-over to the main thread.
struct Watcher {
  TQUORLINK Link;
  TCaptureWriter Capture;
  std::unique_ptr<TruckValues::Formatter> Format;
  bool Quiet = false;
  long long Count = 0;   // good frames to wait for; 0 until stopped
  TWakeEvent StopAsked;  // readable once the worker asks to stop
  std::atomic<bool> Stopping{false};
  std::atomic<int> ExitCode{Cli::ExitSuccess};
  std::atomic<bool> CaptureFailed{false};

  std::atomic<long long> Events[4] = {};  // receive events by status
  std::uint32_t GoodAtStart = 0;
  std::uint32_t LastGood = 0;  // worker only
  Clock::time_point Started = Clock::now();
  std::atomic<long long> FirstGoodNs{0}, LastGoodNs{0};
  std::uint8_t Data[256] = {};
  char Line[TruckValues::Formatter::LineMax];

  long long GoodFrames() const { return Link.GoodFrameCount.load() - GoodAtStart; }

  // Any thread: the main thread ends its loop when StopAsked turns readable.
  void Stop(int exitCode) {
    if (Stopping.exchange(true)) return;
    ExitCode.store(exitCode);
    StopAsked.Signal();
  }

  static void OnReceive(void* context, int status) { static_cast<Watcher*>(context)->Receive(status); }

  // On the worker thread.
  void Receive(int status) {
    if (Stopping.load()) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    std::uint8_t length = 0;
    Link.GetRecord(Data, sizeof Data, &length);
    if (status >= 0 && status < 4) Events[status].fetch_add(1, Relaxed);

    const std::uint32_t good = Link.GoodFrameCount.load();
    if (good != LastGood) {
      const long long at = Nanoseconds(Clock::now());
      if (LastGood == GoodAtStart) FirstGoodNs.store(at);
      LastGoodNs.store(at);
      LastGood = good;
    }

    const int timeOfDayMs =
        ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + static_cast<int>(now.tv_nsec / 1000000);
    if (Capture.IsOpen() && !Capture.LogFrame(status, length, Data, timeOfDayMs)) {
      CaptureFailed.store(true);  // the main thread reports it and closes the file
      Stop(Cli::ExitFailure);
      return;
    }
    if (!Quiet) {
      TruckValues::Event event;
      event.TimeOfDayMs = timeOfDayMs;
      event.Status = status;
      event.Length = length;
      event.Data = Data;
      // Whoever read our output has gone (quorlink monitor | head): stop.
      if (!WriteAll(STDOUT_FILENO, Line, Format->Write(event, Line, sizeof Line))) {
        Stop(Cli::ExitSuccess);
        return;
      }
    }
    if (Count > 0 && GoodFrames() >= Count) Stop(Cli::ExitSuccess);
  }

  QString Statistics() const {
    const long long good = GoodFrames();
    const long long last = LastGoodNs.load();
    const double span = static_cast<double>(last - FirstGoodNs.load()) / 1e9;
    const double rate = good >= 2 && span > 0 ? static_cast<double>(good - 1) / span : 0.0;
    const QString since =
        good > 0 ? QStringLiteral("%1 s").arg(static_cast<double>(Nanoseconds(Clock::now()) - last) / 1e9, 0, 'f', 3)
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
        .arg(Events[1].load())
        .arg(Events[3].load())
        .arg(Events[2].load())
        .arg(rate, 0, 'f', 2)
        .arg(since);
  }
};

}  // namespace

int Commands::Monitor(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Watches a truck: receives Quorlink frames and writes one line per receive\n"
                     "event (a good frame, a checksum error, a length error, or a start byte seen\n"
                     "right after an error) with the decoded values; after an error the values are\n"
                     "those of the last good frame. Line settings start from those stored for\n"
                     "display mode. Statistics go to standard error on exit and on SIGUSR1.\n"
                     "--count and --duration end it; with both, too few frames in time is a failure."));
  Cli::LineOptions line;
  line.Add(parser, true, 253);
  const QCommandLineOption format(QStringLiteral("format"),
                                  QStringLiteral("Lines as text, csv or json (default text)."),
                                  QStringLiteral("format"), QStringLiteral("text"));
  const QCommandLineOption capture(QStringLiteral("capture"),
                                   QStringLiteral("Also write a capture file, as the windows do."),
                                   QStringLiteral("file"));
  const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after this many good frames."),
                                 QStringLiteral("frames"));
  const QCommandLineOption duration(QStringLiteral("duration"), QStringLiteral("Stop after this many seconds."),
                                    QStringLiteral("seconds"));
  const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No event lines; only the statistics."));
  parser.addOptions({format, capture, count, duration, quiet});
  if (!Cli::Parse(parser, args, QStringLiteral("monitor [options]"), 0, 0)) return Cli::ExitSuccess;

  // Signals are caught from here on; they take effect once the loop runs.
  SignalNotifier signalNotifier({SIGINT, SIGTERM, SIGHUP, SIGUSR1});
  auto monitor = std::make_unique<Watcher>();
  TQUORLINK& link = monitor->Link;
  line.Apply(parser, link, 0);
  const TruckValues::Format kind = TruckValues::ParseFormat(parser.value(format));
  if (parser.isSet(count))
    monitor->Count = Cli::ToInteger(parser.value(count), QStringLiteral("--count"), 1, 1LL << 40);
  const double seconds =
      parser.isSet(duration) ? Cli::ToDouble(parser.value(duration), QStringLiteral("--duration"), 0.001, 1e7) : 0;
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

  QSocketNotifier stopNotifier(static_cast<qintptr>(m->StopAsked.Descriptor()), QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  TThread_Quorlink worker(true);
  worker.Link = &link;
  worker.SetDirectReceiveHook(&Watcher::OnReceive, m);
  worker.SetWaitForBytes(true);
  worker.SetPriority(TThread_Quorlink::tpHighest);
  tzset();  // the time zone is read here, not on the worker's first event
  worker.Resume();
  QCoreApplication::exec();
  worker.Terminate();
  worker.WaitFor();

  link.Close();
  if (m->CaptureFailed.load()) Cli::PrintError(QString::fromStdString(monitor->Capture.LastError()));
  monitor->Capture.CloseLog();
  Cli::PrintInfo(monitor->Statistics());
  return monitor->ExitCode.load();
}
