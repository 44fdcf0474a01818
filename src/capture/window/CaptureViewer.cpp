#include "capture/window/CaptureViewer.h"

#include "link/Quorlink.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/window/FormQuorlink.h"
#include "widgets/FormLayout.h"
#include "widgets/Messages.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <unordered_map>

namespace {

using Stamp = CaptureIndex::Stamp;
constexpr Stamp DayMs = CaptureFormat::DayMs;
constexpr Stamp QuarterMs = 15 * 60 * 1000;
const char* const ChoiceKey = "Viewer Values";

Stamp FloorDiv(Stamp a, Stamp b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

QDateTime NaiveDateTime(Stamp s) {
  const Stamp day = FloorDiv(s, DayMs);
  return QDateTime(QDate(1970, 1, 1).addDays(day), QTime::fromMSecsSinceStartOfDay(static_cast<int>(s - day * DayMs)));
}

QString DateTimeText(Stamp s) { return NaiveDateTime(s).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")); }
QString TimeText(Stamp s) { return NaiveDateTime(s).toString(QStringLiteral("HH:mm:ss.zzz")); }

QString Duration(Stamp ms) {
  if (ms < 60000) return QStringLiteral("%1 s").arg(static_cast<double>(ms) / 1000, 0, 'f', 3);
  const Stamp s = ms / 1000;
  if (s < 3600) return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
  return QStringLiteral("%1 h %2 min %3 s").arg(s / 3600).arg(s / 60 % 60).arg(s % 60);
}

QString SizeText(long long bytes) {
  if (bytes < 1024 * 1024) return QStringLiteral("%1 bytes").arg(bytes);
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  return mib < 1024 ? QStringLiteral("%1 MiB (%2 bytes)").arg(mib, 0, 'f', 1).arg(bytes)
                    : QStringLiteral("%1 GiB (%2 bytes)").arg(mib / 1024, 0, 'f', 2).arg(bytes);
}

QString StatusText(int status) {
  return status == 0 ? QStringLiteral("status 0 (good frame)")
                     : QStringLiteral("%1 (status %2)").arg(ChartValues::EventName(status)).arg(status, 0, 16);
}

CaptureIndex::Value IndexValue(int value) {
  const ChartValues::Value& v = ChartValues::All()[static_cast<std::size_t>(value)];
  return {v.Byte, v.Mask, v.IsFlag()};
}

std::vector<int> DefaultChoice() {
  std::vector<int> chosen;
  for (const char* name : {"ground_speed", "engine_rpm", "dump_body_up"})
    chosen.push_back(ChartValues::Find(QLatin1String(name)));
  return chosen;
}

// The index of one segment as the chart's source. The capture's times are
// those of its local clock; the chart's are milliseconds since the epoch.
class CaptureSource final : public ChartSource {
public:
  const CaptureIndex* Index = nullptr;
  int Segment = 0;
  mutable std::string Failure;  // the last read error, until taken

  // Local clock to epoch: one conversion per quarter of an hour, so that a
  // change to or from summer time falls where the capture's clock made it.
  qint64 Epoch(Stamp s) const {
    const Stamp quarter = FloorDiv(s, QuarterMs);
    auto it = Offsets.find(quarter);
    if (it == Offsets.end()) {
      if (Offsets.size() > 100000) Offsets.clear();
      const Stamp start = quarter * QuarterMs;
      it = Offsets.emplace(quarter, NaiveDateTime(start).toMSecsSinceEpoch() - start).first;
    }
    return s + it->second;
  }
  Stamp Naive(qint64 epoch) const {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(epoch);
    return (t.date().toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * DayMs + t.time().msecsSinceStartOfDay();
  }

  bool Extent(qint64& first, qint64& last) const override {
    if (!Index || Segment >= static_cast<int>(Index->Segments().size())) return false;
    const CaptureIndex::Segment& s = Index->Segments()[static_cast<std::size_t>(Segment)];
    first = Epoch(s.First);
    last = Epoch(s.Last);
    return true;
  }

  void Points(int value, qint64 from, qint64 to, int columns, QList<QPointF>& out) const override {
    if (!Index) return;
    if (!Index->Points(IndexValue(value), Segment, Naive(from), Naive(to), columns, Scratch)) Failure = Index->Error();
    out.reserve(static_cast<qsizetype>(Scratch.size()));
    for (const CaptureIndex::Point& p : Scratch) {
      const double x = static_cast<double>(Epoch(p.Time));
      if (p.Break) out.append(QPointF(x, std::numeric_limits<double>::quiet_NaN()));
      out.append(QPointF(x, p.Y));
    }
  }

  void Events(qint64 from, qint64 to, int columns, QList<ChartEvent>& out) const override {
    if (!Index) return;
    const Stamp nfrom = Naive(from), nto = Naive(to);
    std::vector<CaptureIndex::Event> events;
    if (!Index->Events(Segment, nfrom, nto, columns, events)) Failure = Index->Error();
    for (const CaptureIndex::Event& e : events)
      out.append(ChartEvent{Epoch(e.Time), e.Status, static_cast<int>(e.Line)});
    // Damaged lines, one marker per column.
    const double width = static_cast<double>(std::max<Stamp>(nto - nfrom, 1)) / std::max(columns, 1);
    long long last = std::numeric_limits<long long>::min();
    for (const CaptureIndex::Damaged& d : Index->DamagedLines()) {
      if (d.Segment != Segment || d.Time < nfrom || d.Time > nto) continue;
      const auto column = static_cast<long long>(std::floor(static_cast<double>(d.Time - nfrom) / width));
      if (column == last) continue;
      last = column;
      out.append(ChartEvent{Epoch(d.Time), ChartValues::DamagedLine, static_cast<int>(d.Line)});
    }
    std::stable_sort(out.begin(), out.end(), [](const ChartEvent& a, const ChartEvent& b) { return a.Time < b.Time; });
  }

  bool Records(qint64 from, qint64 to, const std::function<bool(const ChartValues::Record&)>& each,
               QString& error) const override {
    if (!Index) return true;
    const bool read = Index->Records(Segment, Naive(from), Naive(to), [&](const CaptureIndex::Line& line) {
      ChartValues::Record r;
      r.Time = Epoch(line.Time);
      r.Line = static_cast<int>(line.Number);
      r.Status = line.Record.Status;
      r.Length = line.Record.Length;
      r.Data = line.Record.Data;
      return each(r);
    });
    if (!read) error = QString::fromStdString(Index->Error());
    return read;
  }

  bool HasLines() const override { return true; }

private:
  mutable std::unordered_map<Stamp, Stamp> Offsets;
  mutable std::vector<CaptureIndex::Point> Scratch;
};

}  // namespace

struct CaptureViewer::Private {
  explicit Private(int mode) : Mode(mode) {}
  ~Private() { Stop(); }

  int Mode;
  QString Path;
  CaptureIndex Index;
  CaptureSource Source;
  std::thread Worker;
  std::atomic<bool> Cancel{false};
  std::atomic<long long> BytesDone{0};
  std::atomic<bool> Finished{false};
  CaptureIndex::Result Result = CaptureIndex::Result::Failed;  // set by the worker before Finished
  qint64 FileSize = 0;
  QTimer Timer;
  bool Ready = false;
  bool HasLine = false;
  CaptureIndex::Line Line;
  bool ErrorShown = false;

  QStackedWidget* Pages = nullptr;
  QLabel* ProgressLabel = nullptr;
  ValueChart* Chart = nullptr;
  QAction* SegmentItem = nullptr;  // the segment box in the chart's tool bar
  TForm_QUORLINK* Record = nullptr;

  std::string Key() const { return std::string(SettingsBasePath(Mode)) + ChoiceKey; }
  void Stop() {
    Cancel = true;
    if (Worker.joinable()) Worker.join();
  }
};

CaptureViewer::CaptureViewer(int mode, QWidget* parent)
    : QWidget(parent, Qt::Window), d(std::make_unique<Private>(mode)) {
  setObjectName(QStringLiteral("CaptureViewer"));
  setWindowTitle(QStringLiteral("QUORLINK CAPTURE VIEWER"));
  d->Source.Index = &d->Index;

  d->Pages = new QStackedWidget(this);

  // While the file is read.
  auto* reading = new QWidget(d->Pages);
  d->ProgressLabel = new QLabel(reading);
  d->ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
  d->ProgressLabel->setWordWrap(true);
  Progress = new QProgressBar(reading);
  Progress->setObjectName(QStringLiteral("Progress"));
  Progress->setRange(0, 1000);
  Progress->setTextVisible(false);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), reading);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  connect(CancelButton, &QPushButton::clicked, this, [this] {
    d->Cancel = true;
    CancelButton->setEnabled(false);
    d->ProgressLabel->setText(QStringLiteral("Stopping..."));
  });
  auto* readingLayout = new QVBoxLayout(reading);
  readingLayout->setContentsMargins(FormLayout::S(60), 0, FormLayout::S(60), 0);
  readingLayout->addStretch(1);
  readingLayout->addWidget(d->ProgressLabel);
  readingLayout->addWidget(Progress);
  readingLayout->addWidget(CancelButton, 0, Qt::AlignHCenter);
  readingLayout->addStretch(1);
  d->Pages->addWidget(reading);

  // The capture: the chart above, the selected line and the summary below.
  auto* split = new QSplitter(Qt::Vertical, d->Pages);
  split->setObjectName(QStringLiteral("ViewerSplitter"));
  split->setChildrenCollapsible(false);
  d->Chart = new ValueChart(ValueChart::Home::All, split);
  d->Chart->LoadChoice(d->Key(), DefaultChoice());
  connect(d->Chart, &ValueChart::ChosenChanged, this, [this] { d->Chart->SaveChoice(d->Key()); });
  connect(d->Chart, &ValueChart::TimeClicked, this, [this](qint64 time) { SelectNearest(time); });
  connect(d->Chart, &ValueChart::RangeChanged, this, [this] {
    if (!d->Source.Failure.empty()) QTimer::singleShot(0, this, &CaptureViewer::ReportReadError);
  });
  SegmentBox = new QComboBox(this);
  SegmentBox->setObjectName(QStringLiteral("SegmentBox"));
  SegmentBox->setToolTip(
      QStringLiteral("The capture's clock stepped back: each stretch whose times go on is shown on "
                     "its own"));
  SegmentBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(SegmentBox, &QComboBox::activated, this, [this](int index) { ShowSegment(index); });
  d->Chart->ToolBar()->addSeparator();
  d->SegmentItem = d->Chart->ToolBar()->addWidget(SegmentBox);
  d->SegmentItem->setVisible(false);

  auto* lower = new QWidget(split);
  const auto action = [this](const char* name, const QString& text, const QKeySequence& key, const QString& tip) {
    auto* a = new QAction(text, this);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(key);
    a->setToolTip(QStringLiteral("%1 (%2)").arg(tip, key.toString(QKeySequence::NativeText)));
    addAction(a);
    return a;
  };
  PreviousLineAction = action("PreviousLineAction", QStringLiteral("< Line"), QKeySequence(Qt::CTRL | Qt::Key_Left),
                              QStringLiteral("Select the line before"));
  NextLineAction = action("NextLineAction", QStringLiteral("Line >"), QKeySequence(Qt::CTRL | Qt::Key_Right),
                          QStringLiteral("Select the line after"));
  PreviousErrorAction = action("PreviousErrorAction", QStringLiteral("< Error"), QKeySequence(Qt::Key_PageUp),
                               QStringLiteral("Select the receive error before"));
  NextErrorAction = action("NextErrorAction", QStringLiteral("Error >"), QKeySequence(Qt::Key_PageDown),
                           QStringLiteral("Select the receive error after"));
  connect(PreviousLineAction, &QAction::triggered, this, [this] { Step(false, false); });
  connect(NextLineAction, &QAction::triggered, this, [this] { Step(true, false); });
  connect(PreviousErrorAction, &QAction::triggered, this, [this] { Step(false, true); });
  connect(NextErrorAction, &QAction::triggered, this, [this] { Step(true, true); });

  LineLabel = new QLabel(QStringLiteral("No line selected: click a time in the plot"), lower);
  LineLabel->setObjectName(QStringLiteral("LineLabel"));
  LineLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* head = new QHBoxLayout;
  head->setSpacing(FormLayout::S(2));
  head->addWidget(LineLabel, 1);
  for (QAction* a : {PreviousLineAction, NextLineAction, PreviousErrorAction, NextErrorAction}) {
    auto* b = new QToolButton(lower);
    b->setDefaultAction(a);
    b->setFocusPolicy(Qt::NoFocus);
    head->addWidget(b);
  }
  LineText = new QLineEdit(lower);
  LineText->setObjectName(QStringLiteral("LineText"));
  LineText->setReadOnly(true);
  LineText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  LineText->setToolTip(QStringLiteral("The selected line as it stands in the file"));

  d->Record = new TForm_QUORLINK(lower);
  d->Record->setWindowFlags(Qt::Widget);
  d->Record->Timer_QuorlinkDataUpdate->stop();
  d->Record->Timer_Display->stop();
  d->Record->SetMode(0);
  d->Record->Panel1->hide();  // length and status are in the line's own label
  d->Record->setFixedSize(d->Record->PageControl1->size());
  d->Record->show();

  SummaryView = new QTreeWidget(lower);
  SummaryView->setObjectName(QStringLiteral("SummaryView"));
  SummaryView->setColumnCount(2);
  SummaryView->setHeaderLabels({QStringLiteral("Capture"), QString()});
  SummaryView->setRootIsDecorated(true);
  SummaryView->setUniformRowHeights(true);
  SummaryView->setMinimumWidth(FormLayout::S(260));
  connect(SummaryView, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    // Segments show themselves; a damaged line or the longest gap selects the record line at its time.
    const QVariant segment = item->data(0, Qt::UserRole), time = item->data(0, Qt::UserRole + 1);
    if (segment.isValid()) ShowSegment(segment.toInt());
    if (time.isValid()) SelectNearest(EpochOf(time.toLongLong()));
  });

  auto* left = new QVBoxLayout;
  left->setSpacing(FormLayout::S(3));
  left->addLayout(head);
  left->addWidget(LineText);
  left->addWidget(d->Record);
  left->addStretch(1);
  auto* lowerLayout = new QHBoxLayout(lower);
  lowerLayout->setContentsMargins(FormLayout::S(4), FormLayout::S(4), FormLayout::S(4), FormLayout::S(4));
  lowerLayout->addLayout(left, 0);
  lowerLayout->addWidget(SummaryView, 1);

  split->addWidget(d->Chart);
  split->addWidget(lower);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 0);
  d->Pages->addWidget(split);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(d->Pages);

  QSize size = FormLayout::Size(1040, 780);
  if (const QScreen* screen = this->screen()) size = size.boundedTo(screen->availableSize());
  resize(size);

  d->Timer.setInterval(100);
  connect(&d->Timer, &QTimer::timeout, this, &CaptureViewer::Poll);
}

CaptureViewer::~CaptureViewer() { d->Stop(); }

void CaptureViewer::Open(const QString& path) {
  d->Stop();
  d->Path = path;
  d->Cancel = false;
  d->BytesDone = 0;
  d->Finished = false;
  d->Ready = false;
  d->HasLine = false;
  d->Chart->SetSource(nullptr);
  d->FileSize = QFileInfo(path).size();
  setWindowTitle(QStringLiteral("QUORLINK CAPTURE VIEWER - %1").arg(QFileInfo(path).fileName()));
  d->ProgressLabel->setText(QStringLiteral("Reading %1...").arg(QFileInfo(path).fileName()));
  Progress->setValue(0);
  CancelButton->setEnabled(true);
  d->Pages->setCurrentIndex(0);
  const std::string file = QFile::encodeName(path).toStdString();
  d->Worker = std::thread([this, file] {
    CaptureIndex::Options options;
    options.Cancel = &d->Cancel;
    options.BytesDone = &d->BytesDone;
    d->Result = d->Index.Build(file, options);
    d->Finished.store(true, std::memory_order_release);
  });
  d->Timer.start();
}

void CaptureViewer::Poll() {
  if (!d->Finished.load(std::memory_order_acquire)) {
    if (d->FileSize > 0 && !d->Cancel) {
      const double done = static_cast<double>(d->BytesDone.load()) / static_cast<double>(d->FileSize);
      Progress->setValue(static_cast<int>(std::min(1.0, done) * 1000));
      d->ProgressLabel->setText(
          QStringLiteral("Reading %1: %2 of %3")
              .arg(QFileInfo(d->Path).fileName())
              .arg(SizeText(std::min<long long>(d->BytesDone.load(), d->FileSize)).section(' ', 0, 1),
                   SizeText(d->FileSize).section(' ', 0, 1)));
    }
    return;
  }
  d->Timer.stop();
  if (d->Worker.joinable()) d->Worker.join();
  switch (d->Result) {
  case CaptureIndex::Result::Built: Show(); break;
  case CaptureIndex::Result::Cancelled: close(); break;
  case CaptureIndex::Result::Failed:
    Messages::Show(this, QStringLiteral("Error"), QStringLiteral("The capture could not be read."),
                   QString::fromStdString(d->Index.Error()));
    emit Indexed(false);
    close();
    break;
  }
}

void CaptureViewer::Show() {
  const std::vector<CaptureIndex::Segment>& segments = d->Index.Segments();
  SegmentBox->clear();
  for (std::size_t i = 0; i < segments.size(); ++i)
    SegmentBox->addItem(QStringLiteral("Segment %1 of %2: %3 to %4")
                            .arg(i + 1)
                            .arg(segments.size())
                            .arg(DateTimeText(segments[i].First).left(19), TimeText(segments[i].Last).left(8)));
  d->SegmentItem->setVisible(segments.size() > 1);
  d->Pages->setCurrentIndex(1);  // first, so that the plot has its width
  d->Source.Segment = 0;
  d->Chart->SetSource(&d->Source);
  d->Chart->GoHome();
  FillSummary();
  d->Ready = true;
  CaptureIndex::Line first;
  if (d->Index.First(first))
    Select(first);
  else
    LineLabel->setText(QStringLiteral("The file holds no capture line that could be read."));
  emit Indexed(true);
}

void CaptureViewer::FillSummary() {
  SummaryView->clear();
  const auto add = [this](const QString& name, const QString& value, QTreeWidgetItem* parent = nullptr) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(SummaryView);
    item->setText(0, name);
    item->setText(1, value);
    item->setToolTip(1, value);
    return item;
  };
  const CaptureIndex::Summary& t = d->Index.Totals();
  const std::vector<CaptureIndex::Segment>& segments = d->Index.Segments();
  add(QStringLiteral("File"), QFileInfo(d->Path).fileName())->setToolTip(1, d->Path);
  add(QStringLiteral("Size"), SizeText(t.Bytes));
  add(QStringLiteral("Lines"), QString::number(t.Lines));
  add(QStringLiteral("Record lines"), QString::number(t.Records));
  add(QStringLiteral("Good frames"), QString::number(t.Good));
  const QString kinds[] = {QStringLiteral("Checksum errors"), QStringLiteral("Start byte errors"),
                           QStringLiteral("Length errors"), QStringLiteral("Other statuses")};
  for (int k = 0; k < CaptureIndex::ErrorKinds; ++k)
    if (k < 3 || t.Errors[k] > 0) add(kinds[k], QString::number(t.Errors[k]));

  QTreeWidgetItem* damaged = add(QStringLiteral("Damaged lines"), QString::number(t.Damaged));
  const std::vector<CaptureIndex::Damaged>& list = d->Index.DamagedLines();
  constexpr std::size_t Shown = 1000;
  for (std::size_t i = 0; i < list.size() && i < Shown; ++i) {
    QTreeWidgetItem* item =
        add(QStringLiteral("Line %1").arg(list[i].Line), QString::fromStdString(list[i].Reason), damaged);
    item->setData(0, Qt::UserRole, list[i].Segment);
    item->setData(0, Qt::UserRole + 1, list[i].Time);
  }
  if (t.Damaged > static_cast<long long>(std::min(list.size(), Shown)))
    add(QStringLiteral("..."),
        QStringLiteral("%1 more").arg(t.Damaged - static_cast<long long>(std::min(list.size(), Shown))), damaged);

  add(QStringLiteral("Header blocks"), QString::number(t.Headers));
  if (!segments.empty()) {
    QTreeWidgetItem* all = add(QStringLiteral("Segments"), QString::number(segments.size()));
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const CaptureIndex::Segment& s = segments[i];
      QTreeWidgetItem* item =
          add(QStringLiteral("Segment %1").arg(i + 1),
              QStringLiteral("lines %1 to %2, %3 to %4")
                  .arg(s.FirstLine)
                  .arg(s.LastLine)
                  .arg(DateTimeText(s.First), s.Last - s.First < DayMs ? TimeText(s.Last) : DateTimeText(s.Last)),
              all);
      item->setData(0, Qt::UserRole, static_cast<int>(i));
    }
    all->setExpanded(segments.size() > 1);
    add(QStringLiteral("From"), DateTimeText(segments.front().First));
    add(QStringLiteral("To"), DateTimeText(segments.back().Last));
    add(QStringLiteral("Time covered"), Duration(t.Span));
    add(QStringLiteral("Frame rate"),
        t.Span > 0 ? QStringLiteral("%1 frames/s")
                         .arg(static_cast<double>(t.Good) * 1000.0 / static_cast<double>(t.Span), 0, 'f', 1)
                   : QStringLiteral("-"));
    if (t.LongestGap > 0) {
      QTreeWidgetItem* gap = add(QStringLiteral("Longest gap"), Duration(t.LongestGap));
      gap->setData(0, Qt::UserRole + 1, t.GapFrom);
      add(QStringLiteral("After"), QStringLiteral("line %1, %2").arg(t.GapFromLine).arg(TimeText(t.GapFrom)), gap)
          ->setData(0, Qt::UserRole + 1, t.GapFrom);
      add(QStringLiteral("Before"),
          QStringLiteral("line %1, %2").arg(t.GapToLine).arg(TimeText(t.GapFrom + t.LongestGap)), gap)
          ->setData(0, Qt::UserRole + 1, t.GapFrom + t.LongestGap);
      gap->setExpanded(true);
    }
    if (!segments.front().Dated)
      add(QStringLiteral("Dates"), QStringLiteral("from the file's last change (no header date could be read)"));
  }
  SummaryView->resizeColumnToContents(0);
}

void CaptureViewer::Select(const CaptureIndex::Line& line) {
  d->Line = line;
  d->HasLine = true;
  if (line.Segment != d->Source.Segment) ShowSegment(line.Segment);
  const qint64 t = EpochOf(line.Time);
  d->Chart->SetCursorTime(t);
  if (t < d->Chart->From() || t > d->Chart->To()) {
    const qint64 span = d->Chart->To() - d->Chart->From();
    d->Chart->SetRange(t - span / 2, t - span / 2 + span);
  }

  TForm_QUORLINK* form = d->Record;
  std::memset(form->TruckData, 0, sizeof form->TruckData);
  std::memcpy(form->TruckData, line.Record.Data,
              static_cast<std::size_t>(std::clamp(line.Record.Length, 0, TruckDataMap::RecordSize)));
  form->SetNumberBytes(std::clamp(line.Record.Length, TruckDataMap::MinDataLength, TruckDataMap::MaxDataLength));
  form->UnpackTruckData();

  const int status = line.Record.Status;
  LineLabel->setText(QStringLiteral("Line %1 \u00B7 %2 \u00B7 %3 \u00B7 %4 data bytes")
                         .arg(line.Number)
                         .arg(DateTimeText(line.Time), StatusText(status))
                         .arg(line.Record.Length));
  LineLabel->setStyleSheet(status != 0 ? QStringLiteral("QLabel { color: #c00000; font-weight: bold; }")
                                       : QStringLiteral("QLabel { font-weight: bold; }"));
  LineText->setText(QString::fromLatin1(line.Text.data(), static_cast<qsizetype>(line.Text.size())));
  LineText->setCursorPosition(0);
}

void CaptureViewer::ReportReadError() {
  std::string error = d->Source.Failure.empty() ? d->Index.Error() : d->Source.Failure;
  d->Source.Failure.clear();
  if (error.empty() || d->ErrorShown) return;
  d->ErrorShown = true;  // once: every redraw would fail the same way
  Messages::Show(this, QStringLiteral("Error"), QStringLiteral("The capture could not be read again."),
                 QString::fromStdString(error));
}

bool CaptureViewer::SelectNearest(qint64 time) {
  if (!d->Ready) return false;
  CaptureIndex::Line line;
  if (!d->Index.Nearest(d->Source.Segment, d->Source.Naive(time), line)) {
    ReportReadError();
    return false;
  }
  Select(line);
  return true;
}

bool CaptureViewer::Step(bool forward, bool errorsOnly) {
  if (!d->Ready) return false;
  CaptureIndex::Line line;
  const bool found = d->HasLine ? d->Index.Step(d->Line, forward, errorsOnly, line) : d->Index.First(line);
  if (!found) {
    ReportReadError();
    return false;
  }
  Select(line);
  return true;
}

void CaptureViewer::ShowSegment(int segment) {
  if (!d->Ready || segment < 0 || segment >= static_cast<int>(d->Index.Segments().size())) return;
  SegmentBox->setCurrentIndex(segment);
  if (segment == d->Source.Segment) return;
  d->Source.Segment = segment;
  d->Chart->GoHome();
  if (d->HasLine && d->Line.Segment == segment)
    d->Chart->SetCursorTime(EpochOf(d->Line.Time));
  else
    d->Chart->ClearCursor();
}

void CaptureViewer::closeEvent(QCloseEvent* event) {
  d->Timer.stop();
  d->Stop();
  QWidget::closeEvent(event);
}

QString CaptureViewer::FileName() const { return d->Path; }
bool CaptureViewer::Ready() const { return d->Ready; }
const CaptureIndex& CaptureViewer::Index() const { return d->Index; }
ValueChart* CaptureViewer::Chart() const { return d->Chart; }
int CaptureViewer::Segment() const { return d->Source.Segment; }
bool CaptureViewer::HasLine() const { return d->HasLine; }
const CaptureIndex::Line& CaptureViewer::Line() const { return d->Line; }
qint64 CaptureViewer::EpochOf(CaptureIndex::Stamp stamp) const { return d->Source.Epoch(stamp); }
CaptureIndex::Stamp CaptureViewer::StampOf(qint64 epoch) const { return d->Source.Naive(epoch); }
TForm_QUORLINK* CaptureViewer::Record() const { return d->Record; }
