#include "simulator/trend/TrendWindow.h"

#include "link/Quorlink.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/trend/TrendBuffer.h"
#include "widgets/FormLayout.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const ChoiceKey = "Trend Values";
constexpr int MinInterval = 200;  // ms between redraws
constexpr int MaxInterval = 2000;

std::vector<int> DefaultChoice() {
  std::vector<int> chosen;
  for (const char* name : {"ground_speed", "engine_rpm", "dump_body_up"})
    chosen.push_back(ChartValues::Find(QLatin1String(name)));
  return chosen;
}

}  // namespace

struct TrendWindow::Private {
  explicit Private(int mode) : Mode(mode) {}

  int Mode;
  // Times never go backwards, whatever the wall clock does: the wall clock
  // once, then a steady clock on top of it.
  qint64 WallStart = QDateTime::currentMSecsSinceEpoch();
  QElapsedTimer Steady;
  TrendBuffer Buffer{[this] { return Now(); }};
  ValueChart* Chart = nullptr;
  QTimer Redraw;
  std::uint64_t Drawn = 0;  // Buffer.Added() at the last redraw
  double Cost = 0;          // ms a redraw takes, smoothed

  qint64 Now() const { return WallStart + Steady.elapsed(); }
  std::string Key() const { return std::string(SettingsBasePath(Mode)) + ChoiceKey; }
};

TrendWindow::TrendWindow(int mode, QWidget* parent) : QWidget(parent, Qt::Window), d(std::make_unique<Private>(mode)) {
  d->Steady.start();
  setObjectName(QStringLiteral("TrendWindow"));
  setWindowTitle(mode == 0 ? QStringLiteral("QUORLINK TREND - (Display Mode)")
                           : QStringLiteral("QUORLINK TREND - (Source Mode)"));

  d->Chart = new ValueChart(ValueChart::Home::Latest, this);
  d->Chart->SetSource(&d->Buffer);
  QToolBar* tools = d->Chart->ToolBar();
  QAction* first = tools->actions().value(0);
  PauseAction = new QAction(QStringLiteral("Pause"), this);
  PauseAction->setObjectName(QStringLiteral("PauseAction"));
  PauseAction->setCheckable(true);
  PauseAction->setShortcut(QKeySequence(Qt::Key_Space));
  PauseAction->setToolTip(QStringLiteral("Stop the view where it is; records are still kept (Space)"));
  tools->insertAction(first, PauseAction);

  auto* spanLabel = new QLabel(QStringLiteral(" Show the last "), tools);
  SpanBox = new QComboBox(tools);
  SpanBox->setObjectName(QStringLiteral("SpanBox"));
  for (const auto& [text, seconds] :
       {std::pair{"10 s", 10}, {"30 s", 30}, {"1 min", 60}, {"2 min", 120}, {"5 min", 300}, {"10 min", 600}})
    SpanBox->addItem(QString::fromLatin1(text), seconds * 1000);
  SpanBox->setCurrentIndex(2);
  tools->insertSeparator(first);
  tools->insertWidget(first, spanLabel);
  tools->insertWidget(first, SpanBox);
  tools->insertSeparator(first);

  connect(PauseAction, &QAction::toggled, this, [this](bool paused) {
    PauseAction->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (paused)
      d->Chart->Freeze();
    else
      d->Chart->GoHome();
  });
  connect(d->Chart, &ValueChart::FollowingChanged, this,
          [this](bool following) { PauseAction->setChecked(!following); });
  connect(SpanBox, &QComboBox::currentIndexChanged, this, [this] {
    d->Chart->SetSpan(SpanBox->currentData().toLongLong());
    d->Chart->GoHome();
  });

  d->Chart->LoadChoice(d->Key(), DefaultChoice());
  connect(d->Chart, &ValueChart::ChosenChanged, this, [this] { d->Chart->SaveChoice(d->Key()); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(d->Chart);
  resize(FormLayout::Size(900, 520));

  d->Redraw.setInterval(MinInterval);
  connect(&d->Redraw, &QTimer::timeout, this, &TrendWindow::Update);
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::AddRecord(int status, int length, const std::uint8_t* data) {
  d->Buffer.Add(d->Now(), status, length, data);
}

void TrendWindow::AddRecordAt(qint64 time, int status, int length, const std::uint8_t* data) {
  d->Buffer.Add(time, status, length, data);
}

void TrendWindow::AddEvent(int kind) { d->Buffer.Add(d->Now(), kind, 0, nullptr); }

qint64 TrendWindow::Now() const { return d->Now(); }

ValueChart* TrendWindow::Chart() const { return d->Chart; }

const TrendBuffer& TrendWindow::Buffer() const { return d->Buffer; }

void TrendWindow::Update() {
  // A view that stands still needs drawing only when records came in, and
  // then only if they may show in it.
  const bool news = d->Buffer.Added() != d->Drawn;
  if (!d->Chart->Following() && (!news || d->Chart->To() < d->Now() - TrendBuffer::GapMs)) return;
  // Drawing takes its time from the GUI thread, which also runs the link's
  // hand-over: redraw no more often than keeps it at about 3 % of the time,
  // 5 times a second where drawing is quick, less often where it is slow.
  d->Cost = d->Cost * 0.8 + d->Chart->DrawMs() * 0.2;
  d->Redraw.setInterval(std::clamp(static_cast<int>(d->Cost * 33), MinInterval, MaxInterval));
  d->Drawn = d->Buffer.Added();
  d->Chart->Refresh();
}

int TrendWindow::RedrawInterval() const { return d->Redraw.interval(); }

void TrendWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Update();
  d->Redraw.start();
}

void TrendWindow::hideEvent(QHideEvent* event) {
  d->Redraw.stop();
  QWidget::hideEvent(event);
}
