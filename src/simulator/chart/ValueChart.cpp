#include "simulator/chart/ValueChart.h"

#include "serial/Registry.h"
#include "widgets/FormLayout.h"
#include "widgets/Messages.h"

#include <QAction>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSplitter>
#include <QSvgGenerator>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <time.h>

namespace {

// The byte axis leaves room below 0 for the event markers; the flag axis is
// scaled so that off lies on 0 and on on 255.
constexpr double ByteLow = -16;
constexpr double ByteHigh = 271;
constexpr double MarkerY = -8;
constexpr qint64 MinSpan = 20;                        // ms
constexpr qint64 MaxSpan = 400LL * 24 * 3600 * 1000;  // ms

// Line colours; red, magenta and black are left to the event markers.
const QColor Palette[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
    QColor(0x8c, 0x56, 0x4b), QColor(0x17, 0xbe, 0xcf), QColor(0xbc, 0xbd, 0x22), QColor(0x7f, 0x7f, 0x7f),
    QColor(0x00, 0x00, 0x80), QColor(0x00, 0x80, 0x80), QColor(0xb8, 0x86, 0x0b), QColor(0x55, 0x6b, 0x2f),
};

QColor EventColour(int kind) {
  switch (kind) {
  case 1: return QColor(0xd0, 0x00, 0x00);
  case 2: return QColor(0xe0, 0x00, 0xe0);
  case 3: return QColor(0x60, 0x00, 0x30);
  case ChartValues::PortLost: return QColor(0x20, 0x20, 0x20);
  case ChartValues::DamagedLine: return QColor(0x00, 0x00, 0x00);
  default: return QColor(0x60, 0x60, 0x60);
  }
}

// CPU time of the calling thread: what drawing costs the GUI thread, not
// what it waited while the machine was busy.
qint64 ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

QString TimeText(qint64 time) { return QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("HH:mm:ss.zzz")); }

}  // namespace

// The plot itself, with the mouse and keys for zoom, pan and Home.
class ChartCanvas : public QChartView {
public:
  ChartCanvas(QChart* chart, ValueChart* owner) : QChartView(chart), Owner(owner) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setRenderHint(QPainter::Antialiasing, false);
  }

  // The time under a point of the view, and whether it is inside the plot.
  qint64 TimeAt(const QPoint& pos, bool* inside = nullptr) const {
    const QRectF plot = chart()->plotArea();
    const QPointF p = chart()->mapFromScene(mapToScene(pos));
    if (inside) *inside = plot.contains(p);
    const double f = plot.width() > 0 ? (p.x() - plot.left()) / plot.width() : 0.5;
    return Owner->From() + static_cast<qint64>(std::llround(f * static_cast<double>(Owner->To() - Owner->From())));
  }

protected:
  void wheelEvent(QWheelEvent* e) override {
    const int steps = e->angleDelta().y();
    if (steps == 0) return;
    Owner->Zoom(steps > 0 ? 0.8 : 1.25, TimeAt(e->position().toPoint()));
    e->accept();
  }

  void mousePressEvent(QMouseEvent* e) override {
    Press = e->position().toPoint();
    Button = e->button();
    Dragged = false;
    PressFrom = Owner->From();
    PressTo = Owner->To();
    if (Button == Qt::RightButton) {
      if (!Band) Band = new QRubberBand(QRubberBand::Rectangle, this);
      Band->setGeometry(QRect(Press, QSize()));
    }
    setFocus(Qt::MouseFocusReason);
    QChartView::mousePressEvent(e);
  }

  void mouseMoveEvent(QMouseEvent* e) override {
    const QPoint pos = e->position().toPoint();
    if (Button != Qt::NoButton && std::abs(pos.x() - Press.x()) > 3) Dragged = true;
    if (Button == Qt::LeftButton && Dragged) {
      const double width = chart()->plotArea().width();
      if (width > 0) {
        const qint64 shift =
            static_cast<qint64>(std::llround((pos.x() - Press.x()) / width * static_cast<double>(PressTo - PressFrom)));
        Owner->SetRange(PressFrom - shift, PressTo - shift);
      }
    } else if (Button == Qt::RightButton && Band) {
      const QRectF plot = chart()->plotArea();
      const QPoint top = mapFromScene(chart()->mapToScene(plot.topLeft()));
      const QPoint bottom = mapFromScene(chart()->mapToScene(plot.bottomLeft()));
      Band->setGeometry(
          QRect(QPoint(std::min(Press.x(), pos.x()), top.y()), QPoint(std::max(Press.x(), pos.x()), bottom.y())));
      Band->show();
    }
    QChartView::mouseMoveEvent(e);
  }

  void mouseReleaseEvent(QMouseEvent* e) override {
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton && Button == Qt::LeftButton && !Dragged) {
      bool inside = false;
      const qint64 t = TimeAt(pos, &inside);
      if (inside) emit Owner->TimeClicked(t);
    } else if (e->button() == Qt::RightButton && Button == Qt::RightButton) {
      if (Band) Band->hide();
      if (Dragged) {
        const qint64 a = TimeAt(Press), b = TimeAt(pos);
        Owner->SetRange(std::min(a, b), std::max(a, b));
      } else {
        Owner->Zoom(2.0, TimeAt(pos));
      }
    }
    if (e->button() == Button) Button = Qt::NoButton;
    QChartView::mouseReleaseEvent(e);
  }

  void keyPressEvent(QKeyEvent* e) override {
    const qint64 centre = (Owner->From() + Owner->To()) / 2;
    switch (e->key()) {
    case Qt::Key_Left: Owner->Pan(-0.1); break;
    case Qt::Key_Right: Owner->Pan(0.1); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up: Owner->Zoom(0.5, centre); break;
    case Qt::Key_Minus:
    case Qt::Key_Down: Owner->Zoom(2.0, centre); break;
    case Qt::Key_Home: Owner->GoHome(); break;
    default: QChartView::keyPressEvent(e); return;
    }
    e->accept();
  }

  void resizeEvent(QResizeEvent* e) override {
    QChartView::resizeEvent(e);
    Owner->Refresh();
  }

  void paintEvent(QPaintEvent* e) override {
    const qint64 start = ThreadCpuNs();
    QChartView::paintEvent(e);
    if (Painted) Painted(ThreadCpuNs() - start);
  }

public:
  std::function<void(qint64)> Painted;  // nanoseconds each paint took

private:
  ValueChart* Owner;
  QPoint Press;
  Qt::MouseButton Button = Qt::NoButton;
  bool Dragged = false;
  qint64 PressFrom = 0, PressTo = 0;
  QRubberBand* Band = nullptr;
};

struct ValueChart::Private {
  Home HomeMode = Home::Latest;
  const ChartSource* Source = nullptr;
  qint64 Span = 60000;
  bool Follow = true;
  qint64 From = 0, To = 60000;

  QToolBar* Tools = nullptr;
  QLineEdit* Filter = nullptr;
  QTreeWidget* Tree = nullptr;
  std::vector<QTreeWidgetItem*> Items;  // by value index
  bool Building = false;                // items are being set from code

  QChart* Plot = nullptr;
  ChartCanvas* Canvas = nullptr;
  QDateTimeAxis* TimeAxis = nullptr;
  QValueAxis* ByteAxis = nullptr;
  QCategoryAxis* FlagAxis = nullptr;

  // A value's line: one series per unbroken piece; only the first is in the legend.
  struct Line {
    QColor Colour;
    std::vector<QLineSeries*> Pieces;
  };
  std::map<int, Line> Lines;
  std::map<int, QScatterSeries*> Markers;  // by event kind
  QList<ChartEvent> Events;
  QLineSeries* Cursor = nullptr;
  qint64 DrawNs = 0;  // the last Refresh and the paints after it

  QLineSeries* NewPiece(int value, const QColor& colour) {
    const ChartValues::Value& v = ChartValues::All()[static_cast<std::size_t>(value)];
    auto* s = new QLineSeries;
    s->setName(v.Caption);
    QPen pen(colour);
    pen.setWidthF(1.0);
    s->setPen(pen);
    Plot->addSeries(s);
    s->attachAxis(TimeAxis);
    s->attachAxis(v.IsFlag() ? static_cast<QAbstractAxis*>(FlagAxis) : ByteAxis);
    return s;
  }

  void HideFromLegend(QAbstractSeries* s) {
    for (QLegendMarker* m : Plot->legend()->markers(s)) m->setVisible(false);
  }
};

ValueChart::ValueChart(Home home, QWidget* parent) : QWidget(parent), d(std::make_unique<Private>()) {
  setObjectName(QStringLiteral("ValueChart"));
  d->HomeMode = home;

  d->Plot = new QChart;
  d->Plot->setObjectName(QStringLiteral("Chart"));
  d->Plot->setMargins(QMargins(4, 4, 4, 4));
  d->Plot->setBackgroundRoundness(0);
  d->Plot->legend()->setAlignment(Qt::AlignBottom);
  d->Plot->legend()->setShowToolTips(true);

  d->TimeAxis = new QDateTimeAxis;
  d->TimeAxis->setObjectName(QStringLiteral("TimeAxis"));
  d->Plot->addAxis(d->TimeAxis, Qt::AlignBottom);
  d->ByteAxis = new QValueAxis;
  d->ByteAxis->setObjectName(QStringLiteral("ByteAxis"));
  d->ByteAxis->setRange(ByteLow, ByteHigh);
  d->ByteAxis->setTickType(QValueAxis::TicksDynamic);
  d->ByteAxis->setTickAnchor(0);
  d->ByteAxis->setTickInterval(64);
  d->ByteAxis->setLabelFormat(QStringLiteral("%d"));
  d->Plot->addAxis(d->ByteAxis, Qt::AlignLeft);
  d->FlagAxis = new QCategoryAxis;
  d->FlagAxis->setObjectName(QStringLiteral("FlagAxis"));
  d->FlagAxis->setRange(ByteLow / 255, ByteHigh / 255);
  d->FlagAxis->setStartValue(ByteLow / 255);
  d->FlagAxis->append(QStringLiteral("off"), 0);
  d->FlagAxis->append(QStringLiteral("on"), 1);
  d->FlagAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  d->FlagAxis->setGridLineVisible(false);
  d->FlagAxis->setVisible(false);
  d->Plot->addAxis(d->FlagAxis, Qt::AlignRight);

  d->Cursor = new QLineSeries;
  d->Cursor->setName(QStringLiteral("Cursor"));
  QPen cursorPen(Qt::darkGray);
  cursorPen.setStyle(Qt::DashLine);
  d->Cursor->setPen(cursorPen);
  d->Plot->addSeries(d->Cursor);
  d->Cursor->attachAxis(d->TimeAxis);
  d->Cursor->attachAxis(d->ByteAxis);
  d->HideFromLegend(d->Cursor);

  d->Canvas = new ChartCanvas(d->Plot, this);
  d->Canvas->setObjectName(QStringLiteral("ChartView"));
  d->Canvas->Painted = [this](qint64 ns) { d->DrawNs += ns; };

  d->Tools = new QToolBar(this);
  d->Tools->setObjectName(QStringLiteral("ChartTools"));
  d->Tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  HomeAction = d->Tools->addAction(home == Home::Latest ? QStringLiteral("Back to Live") : QStringLiteral("Show All"));
  HomeAction->setObjectName(QStringLiteral("HomeAction"));
  HomeAction->setToolTip(home == Home::Latest ? QStringLiteral("Follow the latest values again (Home)")
                                              : QStringLiteral("Show the whole time range (Home)"));
  ZoomInAction = d->Tools->addAction(QStringLiteral("Zoom In"));
  ZoomInAction->setObjectName(QStringLiteral("ZoomInAction"));
  ZoomInAction->setToolTip(QStringLiteral("Zoom in on the time axis (+, mouse wheel, or drag with the right button)"));
  ZoomOutAction = d->Tools->addAction(QStringLiteral("Zoom Out"));
  ZoomOutAction->setObjectName(QStringLiteral("ZoomOutAction"));
  ZoomOutAction->setToolTip(QStringLiteral("Zoom out on the time axis (-, mouse wheel, or right click)"));
  d->Tools->addSeparator();
  SaveImageAction = d->Tools->addAction(QStringLiteral("Save Image..."));
  SaveImageAction->setObjectName(QStringLiteral("SaveImageAction"));
  SaveImageAction->setToolTip(QStringLiteral("Save the visible plot as a PNG or SVG image"));
  SaveDataAction = d->Tools->addAction(QStringLiteral("Save Data..."));
  SaveDataAction->setObjectName(QStringLiteral("SaveDataAction"));
  SaveDataAction->setToolTip(QStringLiteral("Save the records of the visible time range as CSV"));
  connect(HomeAction, &QAction::triggered, this, &ValueChart::GoHome);
  connect(ZoomInAction, &QAction::triggered, this, [this] { Zoom(0.5, (From() + To()) / 2); });
  connect(ZoomOutAction, &QAction::triggered, this, [this] { Zoom(2.0, (From() + To()) / 2); });
  connect(SaveImageAction, &QAction::triggered, this, [this] { ChooseFile(true); });
  connect(SaveDataAction, &QAction::triggered, this, [this] { ChooseFile(false); });

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName(QStringLiteral("ChartSplitter"));
  split->setChildrenCollapsible(false);
  auto* left = new QWidget(split);
  Chooser(left);
  split->addWidget(left);
  split->addWidget(d->Canvas);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({FormLayout::S(210), FormLayout::S(600)});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(d->Tools);
  layout->addWidget(split, 1);

  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  d->From = now - d->Span;
  d->To = now;
  Refresh();
}

ValueChart::~ValueChart() = default;

// The list of values: three groups, a check box per value, a filter above.
void ValueChart::Chooser(QWidget* parent) {
  d->Filter = new QLineEdit(parent);
  d->Filter->setObjectName(QStringLiteral("ValueFilter"));
  d->Filter->setPlaceholderText(QStringLiteral("Filter values"));
  d->Filter->setClearButtonEnabled(true);
  d->Tree = new QTreeWidget(parent);
  d->Tree->setObjectName(QStringLiteral("ValueList"));
  d->Tree->setHeaderHidden(true);
  d->Tree->setRootIsDecorated(true);
  d->Tree->setUniformRowHeights(true);

  const QString groups[] = {QStringLiteral("Values"), QStringLiteral("Status flags"),
                            QStringLiteral("Additional bytes")};
  QTreeWidgetItem* group[3];
  for (int g = 0; g < 3; ++g) {
    group[g] = new QTreeWidgetItem(d->Tree, QStringList(groups[g]));
    group[g]->setFlags(Qt::ItemIsEnabled);
  }
  const std::vector<ChartValues::Value>& all = ChartValues::All();
  d->Items.reserve(all.size());
  for (const ChartValues::Value& v : all) {
    auto* item = new QTreeWidgetItem(group[v.Kind], QStringList(v.Caption));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(0, Qt::Unchecked);
    int bit = 0;
    while (v.IsFlag() && (1 << bit) != v.Mask) ++bit;
    item->setToolTip(0, v.IsFlag() ? QStringLiteral("%1: byte %2, bit %3").arg(v.Name).arg(v.Byte).arg(bit)
                                   : QStringLiteral("%1: byte %2").arg(v.Name).arg(v.Byte));
    d->Items.push_back(item);
  }
  group[0]->setExpanded(true);
  group[1]->setExpanded(true);

  connect(d->Tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int) {
    if (!d->Building) Choose();
  });
  connect(d->Filter, &QLineEdit::textChanged, this, [this](const QString& text) {
    const std::vector<ChartValues::Value>& all = ChartValues::All();
    for (std::size_t i = 0; i < all.size(); ++i)
      d->Items[i]->setHidden(!text.isEmpty() && !all[i].Caption.contains(text, Qt::CaseInsensitive) &&
                             !all[i].Name.contains(text, Qt::CaseInsensitive));
    if (!text.isEmpty()) d->Tree->expandAll();
  });

  auto* layout = new QVBoxLayout(parent);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addWidget(d->Filter);
  layout->addWidget(d->Tree, 1);
}

void ValueChart::SetSource(const ChartSource* source) {
  d->Source = source;
  Refresh();
}

std::vector<int> ValueChart::Chosen() const {
  std::vector<int> chosen;
  for (std::size_t i = 0; i < d->Items.size(); ++i)
    if (d->Items[i]->checkState(0) == Qt::Checked) chosen.push_back(static_cast<int>(i));
  return chosen;
}

void ValueChart::SetChosen(const std::vector<int>& values) {
  d->Building = true;
  for (QTreeWidgetItem* item : d->Items) item->setCheckState(0, Qt::Unchecked);
  for (int v : values)
    if (v >= 0 && v < static_cast<int>(d->Items.size()))
      d->Items[static_cast<std::size_t>(v)]->setCheckState(0, Qt::Checked);
  d->Building = false;
  Choose();
}

// Makes the lines match the check boxes.
void ValueChart::Choose() {
  const std::vector<int> chosen = Chosen();
  for (auto it = d->Lines.begin(); it != d->Lines.end();) {
    if (std::find(chosen.begin(), chosen.end(), it->first) != chosen.end()) {
      ++it;
      continue;
    }
    for (QLineSeries* s : it->second.Pieces) {
      d->Plot->removeSeries(s);
      delete s;
    }
    it = d->Lines.erase(it);
  }
  bool flags = false;
  for (int v : chosen) {
    flags = flags || ChartValues::All()[static_cast<std::size_t>(v)].IsFlag();
    if (d->Lines.count(v)) continue;
    // The first colour no line has yet, so colours stay with their values.
    QColor colour = Palette[static_cast<std::size_t>(v) % std::size(Palette)];
    for (const QColor& c : Palette) {
      if (std::none_of(d->Lines.begin(), d->Lines.end(), [&c](const auto& l) { return l.second.Colour == c; })) {
        colour = c;
        break;
      }
    }
    Private::Line& line = d->Lines[v];
    line.Colour = colour;
    line.Pieces.push_back(d->NewPiece(v, colour));
  }
  d->FlagAxis->setVisible(flags);
  Refresh();
  emit ChosenChanged();
}

void ValueChart::LoadChoice(const std::string& key, const std::vector<int>& defaults) {
  std::vector<int> chosen;
  bool stored = false;
  try {
    const std::unique_ptr<TRegistry> registry = CreateRegistry();
    if (registry->OpenKey(key, false)) {
      stored = true;
      const std::vector<ChartValues::Value>& all = ChartValues::All();
      for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string name = all[i].Name.toStdString();
        if (registry->ValueExists(name) && registry->ReadInteger(name) != 0) chosen.push_back(static_cast<int>(i));
      }
      registry->CloseKey();
    }
  } catch (const ERegistryException&) {
    // A damaged entry: start from the defaults rather than half a choice.
    stored = false;
  }
  SetChosen(stored ? chosen : defaults);
}

bool ValueChart::SaveChoice(const std::string& key) const {
  const std::unique_ptr<TRegistry> registry = CreateRegistry();
  if (!registry->OpenKey(key, true)) return false;
  const std::vector<ChartValues::Value>& all = ChartValues::All();
  for (std::size_t i = 0; i < all.size(); ++i)
    registry->WriteInteger(all[i].Name.toStdString(), d->Items[i]->checkState(0) == Qt::Checked ? 1 : 0);
  registry->CloseKey();
  return registry->Flush();
}

void ValueChart::SetSpan(qint64 ms) {
  d->Span = std::clamp(ms, MinSpan, MaxSpan);
  Refresh();
}

qint64 ValueChart::Span() const { return d->Span; }

bool ValueChart::Following() const { return d->Follow; }

void ValueChart::Freeze() {
  if (!d->Follow) return;
  d->Follow = false;
  emit FollowingChanged(false);
}

void ValueChart::GoHome() {
  const bool was = d->Follow;
  d->Follow = true;
  Refresh();
  if (!was) emit FollowingChanged(true);
}

void ValueChart::SetRange(qint64 from, qint64 to) {
  if (to < from) std::swap(from, to);
  if (to - from < MinSpan) {
    const qint64 centre = from + (to - from) / 2;
    from = centre - MinSpan / 2;
    to = from + MinSpan;
  }
  if (to - from > MaxSpan) to = from + MaxSpan;
  d->From = from;
  d->To = to;
  Freeze();
  Refresh();
}

qint64 ValueChart::From() const { return d->From; }

qint64 ValueChart::To() const { return d->To; }

void ValueChart::Zoom(double factor, qint64 centre) {
  const double from = static_cast<double>(centre) - static_cast<double>(centre - d->From) * factor;
  const double to = static_cast<double>(centre) + static_cast<double>(d->To - centre) * factor;
  SetRange(static_cast<qint64>(std::llround(from)), static_cast<qint64>(std::llround(to)));
}

void ValueChart::Pan(double fraction) {
  const qint64 shift = static_cast<qint64>(std::llround(static_cast<double>(d->To - d->From) * fraction));
  SetRange(d->From + shift, d->To + shift);
}

void ValueChart::Refresh() {
  const qint64 start = ThreadCpuNs();
  const qint64 oldFrom = d->From, oldTo = d->To;
  qint64 first = 0, last = 0;
  const bool any = d->Source && d->Source->Extent(first, last);
  if (d->Follow && any) {
    if (d->HomeMode == Home::Latest) {
      d->To = last;
      d->From = last - d->Span;
    } else {
      d->From = first;
      d->To = std::max(last, first + MinSpan);
    }
  }
  const int columns = std::max(16, static_cast<int>(d->Plot->plotArea().width()));

  // Everything is worked out first and handed to the series last: a series
  // maps all its points again whenever its points or the axis range change,
  // so the old points go before the range moves and the new come after.
  std::vector<std::pair<Private::Line*, std::vector<QList<QPointF>>>> lines;
  for (auto& [value, line] : d->Lines) {
    QList<QPointF> points;
    if (d->Source) d->Source->Points(value, d->From, d->To, columns, points);
    const bool flag = ChartValues::All()[static_cast<std::size_t>(value)].IsFlag();
    // Pieces between breaks; a flag holds its value until the next point.
    std::vector<QList<QPointF>> pieces(1);
    for (const QPointF& p : points) {
      if (std::isnan(p.y())) {
        if (!pieces.back().isEmpty()) pieces.emplace_back();
        continue;
      }
      QList<QPointF>& piece = pieces.back();
      if (flag && !piece.isEmpty() && piece.back().y() != p.y()) piece.append(QPointF(p.x(), piece.back().y()));
      piece.append(p);
    }
    if (pieces.size() > 1 && pieces.back().isEmpty()) pieces.pop_back();
    while (line.Pieces.size() < pieces.size()) {
      QLineSeries* s = d->NewPiece(value, line.Colour);
      d->HideFromLegend(s);
      line.Pieces.push_back(s);
    }
    lines.emplace_back(&line, std::move(pieces));
  }

  d->Events.clear();
  if (d->Source) d->Source->Events(d->From, d->To, columns, d->Events);
  std::map<int, QList<QPointF>> marks;
  for (const ChartEvent& e : d->Events) marks[e.Kind].append(QPointF(static_cast<double>(e.Time), MarkerY));
  for (const auto& [kind, points] : marks) {
    if (d->Markers.count(kind)) continue;
    auto* s = new QScatterSeries;
    s->setName(ChartValues::EventName(kind));
    s->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    s->setMarkerSize(10);
    s->setColor(EventColour(kind));
    s->setBorderColor(EventColour(kind));
    d->Plot->addSeries(s);
    s->attachAxis(d->TimeAxis);
    s->attachAxis(d->ByteAxis);
    connect(s, &QScatterSeries::hovered, this, [this, kind](const QPointF& point, bool state) {
      if (!state) {
        QToolTip::hideText();
        return;
      }
      // The nearest event of that kind names itself.
      const ChartEvent* best = nullptr;
      for (const ChartEvent& e : d->Events)
        if (e.Kind == kind && (!best || std::abs(static_cast<double>(e.Time) - point.x()) <
                                            std::abs(static_cast<double>(best->Time) - point.x())))
          best = &e;
      if (!best) return;
      QString text = ChartValues::EventName(kind) + QStringLiteral(" at ") + TimeText(best->Time);
      if (best->Line > 0) text += QStringLiteral(", line %1").arg(best->Line);
      QToolTip::showText(QCursor::pos(), text, d->Canvas);
    });
    d->Markers[kind] = s;
  }

  const auto empty = [](QXYSeries* s) {
    if (s->count() > 0) s->clear();
  };
  for (auto& [line, pieces] : lines)
    for (QLineSeries* s : line->Pieces) empty(s);
  for (auto& [kind, series] : d->Markers) empty(series);

  const qint64 span = d->To - d->From;
  const QString format = span <= 20000                ? QStringLiteral("HH:mm:ss.zzz")
                         : span <= 2LL * 86400 * 1000 ? QStringLiteral("HH:mm:ss")
                                                      : QStringLiteral("dd.MM. HH:mm");
  if (d->TimeAxis->format() != format) d->TimeAxis->setFormat(format);
  const int labelWidth = d->Canvas->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 24;
  const int ticks = std::clamp(columns / std::max(1, labelWidth) + 1, 2, 10);
  if (d->TimeAxis->tickCount() != ticks) d->TimeAxis->setTickCount(ticks);
  d->TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(d->From), QDateTime::fromMSecsSinceEpoch(d->To));

  for (auto& [line, pieces] : lines)
    for (std::size_t i = 0; i < pieces.size(); ++i)
      if (!pieces[i].isEmpty()) line->Pieces[i]->replace(pieces[i]);
  for (auto& [kind, series] : d->Markers) {
    const auto it = marks.find(kind);
    if (it != marks.end()) series->replace(it->second);
    for (QLegendMarker* m : d->Plot->legend()->markers(series))
      if (m->isVisible() != (it != marks.end())) m->setVisible(it != marks.end());
  }
  d->DrawNs = ThreadCpuNs() - start;
  if (d->From != oldFrom || d->To != oldTo) emit RangeChanged(d->From, d->To);
}

double ValueChart::DrawMs() const { return static_cast<double>(d->DrawNs) / 1e6; }

void ValueChart::SetCursorTime(qint64 time) {
  const double t = static_cast<double>(time);
  d->Cursor->replace(QList<QPointF>{QPointF(t, ByteLow), QPointF(t, ByteHigh)});
}

void ValueChart::ClearCursor() { d->Cursor->replace(QList<QPointF>()); }

bool ValueChart::SaveImage(const QString& fileName, QString& error) const {
  if (fileName.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
    // QSvgGenerator does not say why it failed; a file that can be written first is the common case.
    QSaveFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly)) {
      error = probe.errorString();
      return false;
    }
    probe.cancelWriting();
    QSvgGenerator svg;
    svg.setFileName(fileName);
    svg.setSize(d->Canvas->size());
    svg.setViewBox(QRect(QPoint(0, 0), d->Canvas->size()));
    svg.setTitle(window()->windowTitle());
    QPainter painter;
    if (!painter.begin(&svg)) {
      error = QStringLiteral("the SVG file could not be started");
      return false;
    }
    d->Canvas->render(&painter);
    painter.end();
    if (QFileInfo(fileName).size() == 0) {
      error = QStringLiteral("nothing could be written");
      return false;
    }
    return true;
  }
  QImageWriter writer(fileName, "png");
  if (!writer.write(d->Canvas->grab().toImage())) {
    error = writer.errorString();
    return false;
  }
  return true;
}

bool ValueChart::SaveData(const QString& fileName, QString& error) const {
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) {
    error = file.errorString();
    return false;
  }
  const std::vector<int> values = Chosen();
  const bool lines = d->Source && d->Source->HasLines();
  bool written = file.write(ChartValues::CsvHeader(values, lines)) >= 0;
  if (d->Source) {
    const bool read = d->Source->Records(
        d->From, d->To,
        [&](const ChartValues::Record& r) {
          written = file.write(ChartValues::CsvLine(r, values, lines)) >= 0;
          return written;
        },
        error);
    if (!read) {
      file.cancelWriting();
      return false;
    }
  }
  if (!written || !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

void ValueChart::ChooseFile(bool image) {
  QFileDialog dialog(this, image ? QStringLiteral("Save Image") : QStringLiteral("Save Data"));
  dialog.setObjectName(image ? QStringLiteral("SaveImageDialog") : QStringLiteral("SaveDataDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters =
      image ? QStringList{QStringLiteral("PNG image (*.png)"), QStringLiteral("SVG image (*.svg)")}
            : QStringList{QStringLiteral("CSV file (*.csv)")};
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(image ? QStringLiteral("png") : QStringLiteral("csv"));
  if (image)
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.svg")) ? QStringLiteral("svg") : QStringLiteral("png"));
    });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString file = dialog.selectedFiles().first();
  QString error;
  if (image ? SaveImage(file, error) : SaveData(file, error)) return;
  Messages::Show(this, QStringLiteral("Error"),
                 image ? QStringLiteral("The image was not saved.") : QStringLiteral("The data were not saved."),
                 QStringLiteral("%1: %2").arg(file, error));
}

QList<QPointF> ValueChart::Plotted(int value) const {
  QList<QPointF> out;
  const auto it = d->Lines.find(value);
  if (it == d->Lines.end()) return out;
  for (QLineSeries* s : it->second.Pieces) {
    const QList<QPointF> points = s->points();
    if (points.isEmpty()) continue;
    if (!out.isEmpty()) out.append(QPointF(points.front().x(), std::numeric_limits<double>::quiet_NaN()));
    out += points;
  }
  return out;
}

QList<ChartEvent> ValueChart::Marked() const { return d->Events; }

QToolBar* ValueChart::ToolBar() const { return d->Tools; }

QChartView* ValueChart::View() const { return d->Canvas; }

QChart* ValueChart::Chart() const { return d->Plot; }
