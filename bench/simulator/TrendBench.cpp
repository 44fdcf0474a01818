// What one redraw of the live trend costs: 200 ms of new records at 100 per
// second go into the buffer, then the window redraws as its timer does and the
// event loop paints the chart. The window is shown with the default last
// minute in view, on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise. The argument is the number of values shown (two of them flags).

#include "simulator/chart/ValueChart.h"
#include "simulator/trend/TrendBuffer.h"
#include "simulator/trend/TrendWindow.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

std::uint8_t Record[24];

void Fill(int k) {
  for (int i = 0; i < 21; ++i) Record[i] = static_cast<std::uint8_t>(k * (i + 1));
  Record[21] = static_cast<std::uint8_t>(((k / 50) % 2 ? 0x80 : 0) | ((k / 30) % 2 ? 0x40 : 0));
}

void BM_TrendRedraw(benchmark::State& state) {
  const int values = static_cast<int>(state.range(0));
  TrendWindow trend(0);
  std::vector<int> chosen;
  for (int i = 0; i < values - 2; ++i) chosen.push_back(i);
  chosen.push_back(21);
  chosen.push_back(22);
  trend.Chart()->SetChosen(chosen);
  trend.show();
  QApplication::processEvents();
  // A full minute behind us, at 100 records a second.
  qint64 t = trend.Now() - 60000;
  int k = 0;
  for (; k < 6000; ++k) {
    Fill(k);
    trend.AddRecordAt(t += 10, 0, 24, Record);
  }
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) {
      Fill(++k);
      trend.AddRecordAt(t += 10, 0, 24, Record);
    }
    trend.Update();
    QApplication::processEvents();
  }
  state.counters["points_per_value"] = static_cast<double>(trend.Chart()->Plotted(0).size());
}
BENCHMARK(BM_TrendRedraw)->Arg(3)->Arg(10)->ArgName("values")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  // The trend keeps its choice of values in the settings: never the user's own.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
