// What the gauge controls cost the simulator window: one display tick sets
// its 20 sliders (36 x 171, range 0 to 255) and 24 LEDs to new values, each
// repainting at once. Runs on the offscreen platform unless QT_QPA_PLATFORM
// says otherwise.

#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

// The simulator window's gauge controls, laid out roughly as it lays them out.
struct DisplayPanel {
  QWidget Window;
  std::vector<TVrSlider*> Sliders;
  std::vector<TVrCheckLed*> Leds;

  DisplayPanel() {
    Window.resize(1000, 560);
    for (int i = 0; i < 20; ++i) {
      auto* s = new TVrSlider(&Window);
      s->BeginLoading();
      s->setGeometry(10 + i * 48, 10, 36, 171);
      s->SetMaxValue(255);
      s->EndLoading();
      s->setEnabled(false);
      Sliders.push_back(s);
    }
    for (int i = 0; i < 24; ++i) {
      auto* l = new TVrCheckLed(&Window);
      l->setGeometry(10 + (i % 6) * 165, 220 + (i / 6) * 30, 81 + (i % 5) * 20, 25);
      l->SetCaption(QStringLiteral("Status flag %1").arg(i));
      l->setEnabled(false);
      Leds.push_back(l);
    }
    Window.show();
    QElapsedTimer t;
    t.start();
    while (!(Window.windowHandle() && Window.windowHandle()->isExposed()) && t.elapsed() < 20000)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    QApplication::processEvents();
  }

  int TrackRebuilds() const {
    int n = 0;
    for (const TVrSlider* s : Sliders) n += s->TrackRebuildCount();
    return n;
  }

  // One display tick: every control gets a value different from its last.
  void Tick(int tick) {
    for (size_t k = 0; k < Sliders.size(); ++k) Sliders[k]->SetPosition(int((tick * 37 + k * 13) % 256));
    for (size_t k = 0; k < Leds.size(); ++k) Leds[k]->SetChecked(((tick + int(k)) & 1) != 0);
  }
};

void BM_DisplayTick(benchmark::State& state) {
  DisplayPanel panel;
  int tick = 0;
  panel.Tick(tick++);  // track images are built before the clock starts
  const int rebuildsBefore = panel.TrackRebuilds();
  const int paintsBefore = panel.Sliders[0]->PaintCount();
  for (auto _ : state) panel.Tick(tick++);
  QApplication::processEvents();
  const int rebuilt = panel.TrackRebuilds() - rebuildsBefore;
  state.counters["track_rebuilds"] = rebuilt;
  state.counters["slider_paints_per_tick"] =
      benchmark::Counter(double(panel.Sliders[0]->PaintCount() - paintsBefore) / double(state.iterations()));
  if (rebuilt != 0) state.SkipWithError("a Position change rebuilt the track images");
}
BENCHMARK(BM_DisplayTick)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

// The slider half of a tick alone, to tell the two kinds of control apart.
void BM_DisplayTickSlidersOnly(benchmark::State& state) {
  DisplayPanel panel;
  int tick = 0;
  panel.Tick(tick++);
  const int rebuildsBefore = panel.TrackRebuilds();
  for (auto _ : state) {
    for (size_t k = 0; k < panel.Sliders.size(); ++k) panel.Sliders[k]->SetPosition(int((tick * 37 + k * 13) % 256));
    ++tick;
  }
  state.counters["track_rebuilds"] = panel.TrackRebuilds() - rebuildsBefore;
}
BENCHMARK(BM_DisplayTickSlidersOnly)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

// One slider, one new Position: frame, bevel, two image copies, thumb, window copy.
void BM_SliderSetPosition(benchmark::State& state) {
  DisplayPanel panel;
  TVrSlider* s = panel.Sliders[0];
  int v = 0;
  for (auto _ : state) s->SetPosition(v = (v + 37) % 256);
}
BENCHMARK(BM_SliderSetPosition)->Unit(benchmark::kMicrosecond);

// The costly part the Position path avoids: both track images redrawn.
void BM_SliderTrackRebuild(benchmark::State& state) {
  DisplayPanel panel;
  TVrSlider* s = panel.Sliders[0];
  const int before = s->TrackRebuildCount();
  int spacing = 1;
  for (auto _ : state) {
    spacing = spacing == 1 ? 2 : 1;
    s->SetSpacing(spacing);  // repaints, redrawing the track on the way
  }
  state.counters["rebuilds_per_iteration"] = double(s->TrackRebuildCount() - before) / double(state.iterations());
}
BENCHMARK(BM_SliderTrackRebuild)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
