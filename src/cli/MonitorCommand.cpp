// quorlink monitor: the display without windows. The worker thread receives in
// display mode, sleeping while the line is quiet, and handles every receive
// event itself: the line with the decoded values, the capture file line and
// the statistics. The main thread only waits for signals and the end.

#include "capture/CaptureFormat.h"
#include "capture/CaptureWriter.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/SignalPipe.h"
#include "cli/TruckValues.h"
#include "link/Quorlink.h"
#include "link/RxByteRing.h"
#include "link/ThreadQuorlink.h"
#include "platform/WakeEvent.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Relaxed = std::memory_order_relaxed;

long long Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Writes all of data unless stop is set first: waits for room in pieces no
// larger than a pipe takes at once, so that a reader that stops reading
// never holds the worker past a stop. 0 when written, else an errno value
// (EINTR when stopped).
int WriteAllUnlessStopped(int fd, const char* data, std::size_t size, const std::atomic<bool>& stop) {
  while (size > 0) {
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) return errno;
    if (ready <= 0) {
      if (stop.load()) return EINTR;
      continue;
    }
    const ssize_t n = ::write(fd, data, std::min<std::size_t>(size, PIPE_BUF));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// "good", "checksum-error+start-of-frame": what the receiver met since the
// last event, from its own counters; out holds EventTextMax bytes.
constexpr std::size_t EventTextMax = 64;
void EventText(char* out, bool good, bool checksumError, bool lengthError, bool inNextFrame) {
  out[0] = '\0';
  const auto add = [out](const char* word) {
    if (out[0]) std::strcat(out, "+");
    std::strcat(out, word);
  };
  if (checksumError) add(TruckValues::EventWord::ChecksumError);
  if (lengthError) add(TruckValues::EventWord::LengthError);
  if (good) add(TruckValues::EventWord::Good);
  if (!good && inNextFrame) add(TruckValues::EventWord::StartOfFrame);
}

// The receiver's counters, read together.
struct Counts {
  std::uint32_t Good = 0, ChecksumErrors = 0, LengthErrors = 0, Starts = 0;
  static Counts Of(const TQUORLINK& link) {
    return {link.GoodFrameCount.load(), link.ChecksumErrorCount.load(), link.LengthErrorCount.load(),
            link.FrameStartCount.load()};
  }
};

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
  std::atomic<int> OutputError{0};  // errno of a failed write to standard output

  Counts AtStart;
  Counts Last;  // worker only
  std::atomic<long long> Events{0};
  Clock::time_point Started = Clock::now();
  std::atomic<long long> FirstGoodNs{0}, LastGoodNs{0};
  std::uint8_t Data[256] = {};
  char What[EventTextMax] = {};

  // --raw: after each event line the bytes read since the event before. The
  // event line is formed at the start of Line, the bytes appended to it.
  TruckValues::Format Kind = TruckValues::Format::Text;
  bool Raw = false;
  std::uint64_t RawFrom = 0;  // worker only: the first byte not shown yet
  TRxByteRing::TEntry RawBytes[TRxByteRing::Capacity];
  static constexpr std::size_t RawTextMax = 3 * TRxByteRing::Capacity + 64;
  char Line[TruckValues::Formatter::LineMax + RawTextMax];

  long long GoodFrames() const { return Link.GoodFrameCount.load() - AtStart.Good; }

  void Begin() { AtStart = Last = Counts::Of(Link); }

  // Any thread: the main thread ends its loop when StopAsked turns readable.
  void Stop(int exitCode) {
    Capture.Abandon();  // a capture line waiting for the reader of a FIFO gives up
    if (Stopping.exchange(true)) return;
    ExitCode.store(exitCode);
    StopAsked.Signal();
  }

  static void OnReceive(void* context, int status) { static_cast<Watcher*>(context)->Receive(status); }

  // On the worker thread.
  void Receive(int status) {
    if (Stopping.load()) return;
    const int timeOfDayMs = CaptureFormat::LocalTimeOfDayMs();
    std::uint8_t length = 0;
    Link.GetRecord(Data, sizeof Data, &length);
    Events.fetch_add(1, Relaxed);

    const Counts now = Counts::Of(Link);
    const bool good = now.Good != Last.Good;
    if (good) {
      const long long at = Nanoseconds(Clock::now());
      if (Last.Good == AtStart.Good) FirstGoodNs.store(at);
      LastGoodNs.store(at);
    }
    EventText(What, good, now.ChecksumErrors != Last.ChecksumErrors, now.LengthErrors != Last.LengthErrors,
              Link.GetRxCount() != 0);
    Last = now;

    if (Capture.IsOpen() && !Capture.LogFrame(status, length, Data, timeOfDayMs)) {
      CaptureFailed.store(true);  // the main thread reports it and closes the file
      Stop(Cli::ExitFailure);
      return;
    }
    if (!Quiet) {
      TruckValues::Event event;
      event.TimeOfDayMs = timeOfDayMs;
      event.Status = status;
      event.What = What;
      event.Length = length;
      event.Data = Data;
      std::size_t size = Format->Write(event, Line, TruckValues::Formatter::LineMax);
      if (Raw) size = AddRawBytes(size);
      const int error = WriteAllUnlessStopped(STDOUT_FILENO, Line, size, Stopping);
      if (error == EPIPE) {
        Stop(Cli::ExitSuccess);  // whoever read our output has gone (quorlink monitor | head)
        return;
      }
      if (error != 0 && error != EINTR) {
        OutputError.store(error);
        Stop(Cli::ExitFailure);
        return;
      }
    }
    if (Count > 0 && GoodFrames() >= Count) Stop(Cli::ExitSuccess);
  }

  // Appends the bytes since the last event to the line of size bytes (its
  // newline last): a line of its own in text, the "bytes" column or field in
  // CSV and JSON. Returns the new size.
  std::size_t AddRawBytes(std::size_t size) {
    const std::size_t n = Link.ByteRing.Copy(RawFrom, RawBytes, TRxByteRing::Capacity);
    const std::uint64_t lost = n > 0 ? RawBytes[0].Index - RawFrom : Link.ByteRing.Count() - RawFrom;
    RawFrom = n > 0 ? RawBytes[n - 1].Index + 1 : Link.ByteRing.Count();
    const auto add = [this, &size](const char* text) {
      const std::size_t length = std::strlen(text);
      std::memcpy(Line + size, text, length);
      size += length;
    };
    switch (Kind) {
    case TruckValues::Format::Text: add("  bytes: "); break;
    case TruckValues::Format::Csv: size -= 1, add(","); break;
    case TruckValues::Format::Json: size -= 2, add(",\"bytes\":\""); break;
    }
    if (lost > 0) {
      char note[48];
      std::snprintf(note, sizeof note, "(%llu earlier bytes not kept) ", static_cast<unsigned long long>(lost));
      add(note);
    }
    size += FormatRxBytes(RawBytes, n, Line + size, 3 * n);
    add(Kind == TruckValues::Format::Json ? "\"}\n" : "\n");
    return size;
  }

  QString Statistics() const {
    const Counts now = Counts::Of(Link);
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
               "  frames started         %5\n"
               "  receive events         %6\n"
               "  frames per second      %7\n"
               "  since last good frame  %8")
        .arg(std::chrono::duration<double>(Clock::now() - Started).count(), 0, 'f', 1)
        .arg(good)
        .arg(static_cast<std::uint32_t>(now.ChecksumErrors - AtStart.ChecksumErrors))
        .arg(static_cast<std::uint32_t>(now.LengthErrors - AtStart.LengthErrors))
        .arg(static_cast<std::uint32_t>(now.Starts - AtStart.Starts))
        .arg(Events.load())
        .arg(rate, 0, 'f', 2)
        .arg(since);
  }
};

}  // namespace

int Commands::Monitor(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Watches a truck: receives Quorlink frames and writes one line per receive\n"
                     "event with the decoded values; after an error the values are those of the\n"
                     "last good frame. The status is the receiver's status as the link reports it\n"
                     "(where the receiver was left); the event is what it met, from its own\n"
                     "counts: good, checksum-error, length-error, and start-of-frame when it was\n"
                     "left inside the next frame (several joined with +). Line settings start from\n"
                     "those stored for display mode. Statistics go to standard error on exit and\n"
                     "on SIGUSR1. --count and --duration end it; with both, too few frames in\n"
                     "time is a failure."));
  Cli::LineOptions line;
  line.Add(parser, true, 253);
  const QCommandLineOption format(QStringLiteral("format"),
                                  QStringLiteral("Lines as text, csv or json (default text)."),
                                  QStringLiteral("format"), QStringLiteral("text"));
  const QCommandLineOption capture(QStringLiteral("capture"),
                                   QStringLiteral("Also write a capture file, as the windows do."),
                                   QStringLiteral("file"));
  const QCommandLineOption count({QStringLiteral("c"), QStringLiteral("count")},
                                 QStringLiteral("Stop after this many good frames."), QStringLiteral("frames"));
  const QCommandLineOption duration(QStringLiteral("duration"),
                                    QStringLiteral("Stop after this many seconds (up to 10,000,000)."),
                                    QStringLiteral("seconds"));
  const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                 QStringLiteral("No event lines; only the statistics."));
  const QCommandLineOption raw({QStringLiteral("x"), QStringLiteral("raw")},
                               QStringLiteral("After each event line, the bytes read since the event before, in hex "
                                              "with '|' before a frame start: a line of its own in text, the last "
                                              "column or field, \"bytes\", in csv and json."));
  parser.addOptions({format, capture, count, duration, quiet, raw});
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
  monitor->Kind = kind;
  monitor->Raw = parser.isSet(raw);
  link.ByteRing.SetEnabled(monitor->Raw);
  monitor->Format = std::make_unique<TruckValues::Formatter>(kind, link.DataLength - 24, false);
  if (link.DataLength > 253)
    Cli::PrintWarning(QStringLiteral("the stored data length of %1 data bytes makes frames of %2 bytes, more than "
                                     "the receiver can count (255): no frame of that length can be received. Give "
                                     "--length 0 to 253.")
                          .arg(link.DataLength.load())
                          .arg(link.DataLength + 2));

  if (parser.isSet(capture) && !monitor->Capture.StartLog(parser.value(capture).toStdString()))
    throw Cli::Failure(QString::fromStdString(monitor->Capture.LastError()));
  Cli::OpenPort(link);
  monitor->Begin();
  Watcher* const watched = monitor.get();
  const Cli::PortWatch portWatch(link, [watched] { watched->Stop(Cli::ExitFailure); });

  if (!monitor->Quiet) {
    QByteArray header = monitor->Format->Header();
    if (monitor->Raw && header.endsWith('\n')) header.insert(header.size() - 1, ",bytes");
    const int error = WriteAllUnlessStopped(STDOUT_FILENO, header.constData(), static_cast<std::size_t>(header.size()),
                                            monitor->Stopping);
    if (error == EPIPE) return Cli::ExitSuccess;
    if (error != 0)
      throw Cli::Failure(
          QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(strerror(error))));
  }
  Cli::PrintInfo(QStringLiteral("quorlink monitor: listening on %1").arg(Cli::Describe(link)));

  Watcher* m = monitor.get();
  QObject::connect(&signalNotifier, &SignalNotifier::Received, [m](int signal) {
    if (signal == SIGUSR1)
      Cli::PrintInfo(m->Statistics());
    else
      m->Stop(Cli::ExitSuccess);
  });

  // A deadline, not one timer interval: a timer holds at most 24 days, so it
  // is armed again until the deadline has passed.
  QTimer durationTimer;
  durationTimer.setSingleShot(true);
  durationTimer.setTimerType(Qt::PreciseTimer);
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  QObject::connect(&durationTimer, &QTimer::timeout, [&durationTimer, deadline, m] {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 0) {
      durationTimer.start(std::min(left, std::chrono::milliseconds(std::chrono::hours(1))));
    } else if (m->Count > 0 && m->GoodFrames() < m->Count) {
      Cli::PrintError(QStringLiteral("only %1 of %2 good frames arrived in time").arg(m->GoodFrames()).arg(m->Count));
      m->Stop(Cli::ExitFailure);
    } else {
      m->Stop(Cli::ExitSuccess);
    }
  });
  if (seconds > 0) durationTimer.start(0);

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
  if (const int error = m->OutputError.load())
    Cli::PrintError(QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(strerror(error))));
  monitor->Capture.CloseLog();
  Cli::PrintInfo(monitor->Statistics());
  // A capture line that could not be written fails the run, however it ended.
  return m->CaptureFailed.load() ? Cli::ExitFailure : monitor->ExitCode.load();
}
