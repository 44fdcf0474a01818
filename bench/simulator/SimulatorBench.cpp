// What one display tick of the simulator window costs: copy the link's record
// out and put it on the 20 sliders, 24 LEDs, fault code, 24 edit boxes and the
// grid, with nothing new (the common case), or with every value changed. And
// one source-mode pack of a 100-byte record. The window is shown, on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "link/Quorlink.h"
#include "simulator/window/FormQuorlink.h"
#include "simulator/window/StringGrid.h"

#include <QApplication>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

struct Window {
  TQUORLINK Link;  // never opened
  std::unique_ptr<TForm_QUORLINK> Form;

  Window(int mode, int page) {
    Link.Mode = mode;
    Form = std::make_unique<TForm_QUORLINK>();
    Form->Link = &Link;
    Form->SetMode(mode);
    Form->SetNumberBytes(100);
    Form->PageControl1->setCurrentIndex(page);
    Form->show();
    QApplication::processEvents();
    // Stop the timers: the benchmark runs the ticks itself.
    Form->Timer_Display->stop();
    Form->Timer_QuorlinkDataUpdate->stop();
  }
};

void Fill(TQUORLINK& link, int seed) {
  std::uint8_t r[100];
  for (int i = 0; i < 100; ++i) r[i] = static_cast<std::uint8_t>(i * 29 + seed);
  link.SetRecord(r, 100);
}

// The tab in view decides which controls really repaint.
void BM_DisplayTickUnchanged(benchmark::State& state) {
  Window w(0, static_cast<int>(state.range(0)));
  Fill(w.Link, 1);
  w.Form->ShowTruckData(0);
  for (auto _ : state) benchmark::DoNotOptimize(w.Form->ShowTruckData(0));
}
BENCHMARK(BM_DisplayTickUnchanged)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->ArgName("tab");

void BM_DisplayTickAllChanged(benchmark::State& state) {
  Window w(0, static_cast<int>(state.range(0)));
  int seed = 0;
  for (auto _ : state) {
    Fill(w.Link, ++seed);
    benchmark::DoNotOptimize(w.Form->ShowTruckData(0));
  }
}
BENCHMARK(BM_DisplayTickAllChanged)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->ArgName("tab");

void BM_SourcePack100(benchmark::State& state) {
  Window w(1, 4);
  for (int i = 24; i < 100; ++i) {
    const auto cell = TruckDataMap::CellOfByte(i);
    w.Form->AdvStringGrid_Additional->SetCells(cell.Column, cell.Row, QString::number(i, 16));
  }
  for (auto _ : state) benchmark::DoNotOptimize(w.Form->PackTruckData());
}
BENCHMARK(BM_SourcePack100);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir settings;  // never the user's own
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
