#include "link/window/QuorlinkBytes.h"

#include "link/Quorlink.h"
#include "link/window/RxBytesView.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int ReadIntervalMs = 200;

// A swatch and a word, for the legend: a square of the shade, or the bar
// that marks a frame start.
QWidget* LegendItem(const QString& word, const QColor& colour, bool bar, QWidget* parent) {
  auto* item = new QWidget(parent);
  auto* row = new QHBoxLayout(item);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  auto* swatch = new QLabel(item);
  auto* label = new QLabel(word, item);
  const int size = label->fontMetrics().height() - 2;
  QPixmap image(size, size);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.fillRect(bar ? QRect(size / 2 - 1, 0, 2, size) : QRect(0, 0, size, size), colour);
  p.end();
  swatch->setPixmap(image);
  row->addWidget(swatch);
  row->addWidget(label);
  return item;
}
}  // namespace

TForm_QuorlinkBytes::TForm_QuorlinkBytes(QWidget* parent)
    : QWidget(parent, Qt::Window), Buffer(std::make_unique<TRxByteRing::TEntry[]>(TRxByteRing::Capacity)) {
  setObjectName(QStringLiteral("Form_QuorlinkBytes"));
  setWindowTitle(QStringLiteral("Quorlink Bytes"));
  setAttribute(Qt::WA_QuitOnClose, false);

  View = new TRxBytesView(this);
  Button_Pause = new QPushButton(QStringLiteral("&Pause"), this);
  Button_Pause->setObjectName(QStringLiteral("Button_Pause"));
  Button_Pause->setCheckable(true);
  Button_Pause->setToolTip(QStringLiteral("Stop following the line, to read or copy what is shown"));
  Button_Copy = new QPushButton(QStringLiteral("&Copy"), this);
  Button_Copy->setObjectName(QStringLiteral("Button_Copy"));
  Button_Copy->setToolTip(QStringLiteral("Copy the selected rows, or all rows, as text"));
  Button_Close = new QPushButton(QStringLiteral("Close"), this);
  Button_Close->setObjectName(QStringLiteral("Button_Close"));
  Label_Count = new QLabel(this);
  Label_Count->setObjectName(QStringLiteral("Label_Count"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button_Pause);
  buttons->addWidget(Button_Copy);
  buttons->addSpacing(12);
  buttons->addWidget(Label_Count, 1);
  buttons->addWidget(Button_Close);

  auto* legend = new QHBoxLayout;
  legend->addWidget(LegendItem(QStringLiteral("frame start"), palette().color(QPalette::Highlight), true, this));
  legend->addWidget(
      LegendItem(FrameKindName(TRxFrameKind::ChecksumError), FrameKindShade(TRxFrameKind::ChecksumError), false, this));
  legend->addWidget(
      LegendItem(FrameKindName(TRxFrameKind::LengthError), FrameKindShade(TRxFrameKind::LengthError), false, this));
  legend->addWidget(new QLabel(QStringLiteral("grey: dropped while waiting for a start byte"), this));
  legend->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(View, 1);
  layout->addLayout(legend);

  Timer_Bytes = new QTimer(this);
  Timer_Bytes->setObjectName(QStringLiteral("Timer_Bytes"));
  Timer_Bytes->setInterval(ReadIntervalMs);
  connect(Timer_Bytes, &QTimer::timeout, this, &TForm_QuorlinkBytes::Timer_BytesTimer);
  connect(Button_Pause, &QPushButton::toggled, this, &TForm_QuorlinkBytes::Button_PauseClick);
  connect(Button_Copy, &QPushButton::clicked, this, &TForm_QuorlinkBytes::Button_CopyClick);
  connect(Button_Close, &QPushButton::clicked, this, &QWidget::close);
  auto* copy = new QShortcut(QKeySequence::Copy, this);
  connect(copy, &QShortcut::activated, this, &TForm_QuorlinkBytes::Button_CopyClick);
  Timer_BytesTimer();
}

TForm_QuorlinkBytes::~TForm_QuorlinkBytes() = default;

bool TForm_QuorlinkBytes::Paused() const { return Button_Pause->isChecked(); }

void TForm_QuorlinkBytes::Timer_BytesTimer() {
  if (Link && !Paused()) {
    const TRxByteRing& ring = Link->ByteRing;
    // From the oldest kept byte when what is shown no longer follows on.
    std::uint64_t from = View->NextIndex();
    const std::uint64_t count = ring.Count();
    if (View->ByteCount() == 0 || count < from || count - from > TRxByteRing::Capacity)
      from = count > TRxByteRing::Capacity ? count - TRxByteRing::Capacity : 0;
    View->Append(Buffer.get(), ring.Copy(from, Buffer.get(), TRxByteRing::Capacity));
  }
  Label_Count->setText(
      QStringLiteral("%1 bytes%2").arg(View->ByteCount()).arg(Paused() ? QStringLiteral(", paused") : QString()));
}

void TForm_QuorlinkBytes::Button_PauseClick() {
  Button_Pause->setText(Paused() ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
  UpdateTimer();
  Timer_BytesTimer();
}

void TForm_QuorlinkBytes::Button_CopyClick() { QApplication::clipboard()->setText(View->SelectedText()); }

void TForm_QuorlinkBytes::UpdateTimer() {
  if (isVisible() && !Paused())
    Timer_Bytes->start();
  else
    Timer_Bytes->stop();
}

void TForm_QuorlinkBytes::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Timer_BytesTimer();
  UpdateTimer();
}

void TForm_QuorlinkBytes::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  UpdateTimer();
}
