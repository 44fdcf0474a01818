// Measures the capture viewer on a big capture: the time from Open to the
// first plot painted, resident memory, and the time of zoom and pan redraws
// (the chart asks the index again, then paints). Run it through
// tools/measure-capture-viewer, which says what the arguments are.
//
// Without --file it writes a capture of --mib MiB into a temporary folder
// under /tmp (88 data bytes a line, a frame every 10 ms from 18:00 on, so it
// passes midnight; every 1000th line a checksum error, every 500,000th a
// damaged line) and deletes it afterwards.

#include "app/Application.h"
#include "capture/CaptureFormat.h"
#include "capture/window/CaptureViewer.h"
#include "simulator/TruckDataMap.h"
#include "simulator/chart/ValueChart.h"

#include <QChartView>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// VmRSS or VmHWM of this process in KiB.
long Memory(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

long long Generate(const QString& path, long long bytes) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  std::string out = CaptureFormat::FormatHeader(QDateTime(QDate(2026, 12, 8), QTime(18, 0, 0)));
  std::uint8_t record[88] = {};
  char line[CaptureFormat::RecordLineMax];
  long long written = 0, lines = 0;
  std::uint32_t noise = 12345;
  for (long long i = 0; written < bytes; ++i, ++lines) {
    const double s = static_cast<double>(i % 40000) * 0.01;  // a 400 s haul cycle
    const double speed = s < 60 ? 0 : s < 90 ? (s - 60) * 6 : s < 170 ? 180 : s < 190 ? 180 - (s - 170) * 9 : 0;
    noise = noise * 1103515245u + 12345u;
    record[TruckDataMap::GroundSpeed] = static_cast<std::uint8_t>(speed);
    record[TruckDataMap::EngineRPM] = static_cast<std::uint8_t>(70 + speed * 0.7 + (noise >> 28));
    record[TruckDataMap::FuelLevel] = static_cast<std::uint8_t>(250 - i / 20000 % 200);
    record[TruckDataMap::Status1] = static_cast<std::uint8_t>(0x01 | (s > 195 && s < 225 ? 0x80 : 0));
    for (int b = 24; b < 88; ++b) record[b] = static_cast<std::uint8_t>((i >> (b % 16)) + b);
    const int status = i % 1000 == 999 ? 1 : 0;
    const int time = static_cast<int>((18LL * 3600000 + i * 10) % CaptureFormat::DayMs);
    out.append(line, CaptureFormat::FormatRecordLine(line, time, status, 88, record));
    if (i % 500000 == 250000) {
      out += "18:00:00:0\r\n";
      ++lines;
    }
    if (out.size() > (4 << 20)) {
      if (::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return -1;
      written += static_cast<long long>(out.size());
      out.clear();
    }
  }
  if (!out.empty() && ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return -1;
  ::close(fd);
  return lines;
}

// Drops the file's pages from the page cache, so that it is read from disk.
void DropFromCache(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

struct Figures {
  std::vector<double> Ms;
  void Add(double ms) { Ms.push_back(ms); }
  double At(double q) {
    std::sort(Ms.begin(), Ms.end());
    return Ms.empty() ? 0 : Ms[std::min(Ms.size() - 1, static_cast<std::size_t>(q * static_cast<double>(Ms.size())))];
  }
};

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption mibOption(QStringLiteral("mib"), QStringLiteral("Size of the generated capture."),
                                     QStringLiteral("MiB"), QStringLiteral("1024"));
  const QCommandLineOption fileOption(QStringLiteral("file"), QStringLiteral("Measure this capture instead."),
                                      QStringLiteral("path"));
  const QCommandLineOption coldOption(QStringLiteral("cold"),
                                      QStringLiteral("Drop the capture from the page cache before opening it."));
  const QCommandLineOption valuesOption(QStringLiteral("values"), QStringLiteral("Values plotted (default 10)."),
                                        QStringLiteral("n"), QStringLiteral("10"));
  const QCommandLineOption cancelOption(QStringLiteral("cancel"),
                                        QStringLiteral("Press Cancel this long after Open and time how soon the "
                                                       "viewer has stopped reading and closed."),
                                        QStringLiteral("ms"));
  parser.addOptions({mibOption, fileOption, coldOption, valuesOption, cancelOption});
  parser.process(app);

  QTemporaryDir settings;  // never the user's own settings
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());

  QTemporaryDir work(QStringLiteral("/tmp/quorlink-measure-XXXXXX"));
  QString path = parser.value(fileOption);
  if (path.isEmpty()) {
    path = work.filePath(QStringLiteral("capture.txt"));
    QElapsedTimer t;
    t.start();
    const long long lines = Generate(path, parser.value(mibOption).toLongLong() << 20);
    if (lines < 0) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(path));
      return 1;
    }
    std::printf("generated %s: %lld bytes, %lld lines in %.1f s\n", qPrintable(path), QFileInfo(path).size(), lines,
                static_cast<double>(t.elapsed()) / 1000);
  }
  if (parser.isSet(coldOption)) DropFromCache(path);
  const long rssBefore = Memory("VmRSS:");

  CaptureViewer viewer(0);
  std::vector<int> chosen;
  for (const char* name : {"ground_speed", "engine_rpm", "fuel_level", "throttle_pedal", "engine_temp",
                           "battery_voltage", "left_motor_current", "right_motor_current", "dump_body_up", "byte30"})
    if (static_cast<int>(chosen.size()) < parser.value(valuesOption).toInt())
      chosen.push_back(ChartValues::Find(QLatin1String(name)));
  viewer.Chart()->SetChosen(chosen);
  viewer.show();

  QElapsedTimer clock;
  clock.start();
  viewer.Open(path);
  if (parser.isSet(cancelOption)) {
    QEventLoop wait;
    QTimer::singleShot(parser.value(cancelOption).toInt(), &wait, &QEventLoop::quit);
    wait.exec();
    if (viewer.Ready()) {
      std::printf("the capture was read before Cancel\n");
      return 1;
    }
    QElapsedTimer cancel;
    cancel.start();
    viewer.CancelButton->click();
    while (viewer.isVisible()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    std::printf("Cancel pressed %lld ms after Open: the viewer stopped reading and closed %.0f ms later\n",
                static_cast<long long>(parser.value(cancelOption).toInt()),
                static_cast<double>(cancel.nsecsElapsed()) / 1e6);
    return 0;
  }
  QEventLoop loop;
  QObject::connect(&viewer, &CaptureViewer::Indexed, &loop, &QEventLoop::quit);
  loop.exec();
  if (!viewer.Ready()) return 1;
  QChartView* view = viewer.Chart()->View();
  QCoreApplication::processEvents();  // the plot's page laid out
  view->viewport()->repaint();
  const double firstPlot = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const CaptureIndex::Summary& totals = viewer.Index().Totals();
  std::printf("capture: %lld bytes, %lld record lines, %zu segment(s), %d lines a block\n", totals.Bytes,
              totals.Records, viewer.Index().Segments().size(), viewer.Index().BlockLines());
  std::printf("first plot painted %.0f ms after Open (%d values, plot %d px wide)\n", firstPlot,
              static_cast<int>(chosen.size()), view->width());
  std::printf("resident memory: %ld KiB before the viewer, %ld KiB with the plot\n", rssBefore, Memory("VmRSS:"));

  // Zoom in from the whole capture to a tenth of a second, panning at each
  // level, then out again: each step asks the index and paints.
  ValueChart* chart = viewer.Chart();
  Figures all, whole, deep, query, paint, wholeQuery;
  const auto step = [&](const std::function<void()>& move) {
    QElapsedTimer t;
    t.start();
    move();
    const double asked = static_cast<double>(t.nsecsElapsed()) / 1e6;
    view->viewport()->repaint();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    query.Add(asked);
    paint.Add(ms - asked);
    all.Add(ms);
    const qint64 span = chart->To() - chart->From();
    if (span > 3600000) {
      whole.Add(ms);
      wholeQuery.Add(asked);
    }
    if (span < 60000) deep.Add(ms);
  };
  const qint64 centre = (chart->From() + chart->To()) / 2;
  for (int round = 0; round < 3; ++round) {
    chart->GoHome();
    while (chart->To() - chart->From() > 100) {
      step([&] { chart->Zoom(0.5, centre + round * 1234567); });
      for (int p = 0; p < 4; ++p) step([&] { chart->Pan(p % 2 ? -0.25 : 0.3); });
    }
    while (chart->To() - chart->From() < 40LL * 3600000) step([&] { chart->Zoom(2.0, centre); });
  }
  std::printf(
      "redraws (zoom or pan, index asked again and painted): %zu, median %.1f ms, 95th percentile %.1f ms, "
      "max %.1f ms\n",
      all.Ms.size(), all.At(0.5), all.At(0.95), all.At(1.0));
  std::printf(
      "  showing over an hour: %zu, median %.1f ms, max %.1f ms; under a minute: %zu, median %.1f ms, max "
      "%.1f ms\n",
      whole.Ms.size(), whole.At(0.5), whole.At(1.0), deep.Ms.size(), deep.At(0.5), deep.At(1.0));
  std::printf(
      "  of which asking the index and handing the points to the chart: median %.1f ms, max %.1f ms; "
      "painting: median %.1f ms, max %.1f ms\n",
      query.At(0.5), query.At(1.0), paint.At(0.5), paint.At(1.0));
  std::printf("  showing over an hour, asking the index and handing the points: median %.1f ms, max %.1f ms\n",
              wholeQuery.At(0.5), wholeQuery.At(1.0));
  std::printf("resident memory: %ld KiB now, %ld KiB at most\n", Memory("VmRSS:"), Memory("VmHWM:"));
  return 0;
}
