#include "link/window/RxBytesView.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>

namespace {

// Columns, in characters: offset, time, then one cell per byte (a separator
// that shows a frame start, two hex digits), then the notes.
constexpr int TimeColumn = 10;
constexpr int CellsColumn = 23;
constexpr int CellWidth = 3;
constexpr int NotesColumn = CellsColumn + TRxBytesView::BytesPerRow * CellWidth + 2;
constexpr int RowChars = NotesColumn + 34;

std::int64_t MicrosecondsOf(std::chrono::nanoseconds t) { return t.count() / 1000; }

QString Hex(std::uint64_t value, int digits) {
  return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

bool IsBad(TRxFrameKind kind) { return kind == TRxFrameKind::ChecksumError || kind == TRxFrameKind::LengthError; }

}  // namespace

QString FrameKindName(TRxFrameKind kind) {
  switch (kind) {
  case TRxFrameKind::ChecksumError: return QStringLiteral("checksum error");
  case TRxFrameKind::LengthError: return QStringLiteral("length error");
  case TRxFrameKind::Good: return QStringLiteral("good frame");
  case TRxFrameKind::Stray: return QStringLiteral("stray byte");
  case TRxFrameKind::Collecting: return QStringLiteral("frame being received");
  }
  return QString();
}

QColor FrameKindShade(TRxFrameKind kind) {
  switch (kind) {
  case TRxFrameKind::ChecksumError: return QColor(255, 189, 189);
  case TRxFrameKind::LengthError: return QColor(255, 214, 153);
  default: return QColor();
  }
}

TRxBytesView::TRxBytesView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("RxBytesView"));
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  verticalScrollBar()->setSingleStep(1);
  UpdateMetrics();
}

QSize TRxBytesView::sizeHint() const {
  return QSize(CharWidth * (RowChars + 1) + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
               RowHeight * 24 + 2 * frameWidth());
}

void TRxBytesView::UpdateMetrics() {
  const QFontMetrics m(font());
  RowHeight = m.height() + 2;
  CharWidth = std::max(1, m.horizontalAdvance(QLatin1Char('0')));
}

void TRxBytesView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    UpdateMetrics();
    UpdateScrollRange(false, 0);
  }
  QAbstractScrollArea::changeEvent(event);
}

void TRxBytesView::Clear() {
  Entries.clear();
  Kinds.clear();
  SelFirst = SelLast = -1;
  UpdateScrollRange(true, 0);
  viewport()->update();
}

void TRxBytesView::Append(const TRxByteRing::TEntry* entries, std::size_t count) {
  if (count == 0) return;
  QScrollBar* bar = verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  const std::uint64_t topRow =
      Entries.empty() ? 0 : Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(bar->value());
  if (!Entries.empty() && entries[0].Index != NextIndex()) Entries.clear();
  Entries.insert(Entries.end(), entries, entries + count);
  if (Entries.size() > TRxByteRing::Capacity)
    Entries.erase(Entries.begin(), Entries.end() - static_cast<std::ptrdiff_t>(TRxByteRing::Capacity));
  Kinds.resize(Entries.size());
  ClassifyFrames(Entries.data(), Entries.size(), Kinds.data());

  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto steady = std::chrono::steady_clock::now().time_since_epoch();
  WallOffsetUs = MicrosecondsOf(now) - MicrosecondsOf(steady);

  // The selection keeps to its bytes: rows move up as old ones go.
  if (SelFirst >= 0) SelFirst = SelLast = -1;
  UpdateScrollRange(atEnd, topRow);
  viewport()->update();
}

int TRxBytesView::RowCount() const {
  if (Entries.empty()) return 0;
  return static_cast<int>(Entries.back().Index / BytesPerRow - Entries.front().Index / BytesPerRow + 1);
}

std::size_t TRxBytesView::RowBegin(int row) const {
  const std::uint64_t first = (Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(row)) * BytesPerRow;
  return first <= Entries.front().Index ? 0 : static_cast<std::size_t>(first - Entries.front().Index);
}

std::size_t TRxBytesView::RowEnd(int row) const {
  const std::uint64_t end = (Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(row) + 1) * BytesPerRow;
  return std::min(Entries.size(), static_cast<std::size_t>(end - Entries.front().Index));
}

std::vector<TRxBytesView::TRowNote> TRxBytesView::NotesOfRow(int row) const {
  std::vector<TRowNote> notes;
  for (std::size_t i = RowBegin(row), end = RowEnd(row); i < end; ++i) {
    const TRxByteRing::TMark mark = Entries[i].Mark;
    if (mark != TRxByteRing::ChecksumEnd && mark != TRxByteRing::LengthEnd) continue;
    std::size_t start = i;
    while (start > 0 && Entries[start].Mark != TRxByteRing::FrameStart) --start;
    notes.push_back({Kinds[i], Entries[start].Index, Entries[i].Index});
  }
  return notes;
}

QString TRxBytesView::TimeText(std::int64_t timeUs) const {
  return QDateTime::fromMSecsSinceEpoch((timeUs + WallOffsetUs) / 1000).toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString TRxBytesView::RowText(int row) const {
  if (row < 0 || row >= RowCount()) return QString();
  const std::size_t begin = RowBegin(row), end = RowEnd(row);
  const std::uint64_t rowStart = (Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(row)) * BytesPerRow;
  QString text = Hex(rowStart, 8) + QStringLiteral("  ") + TimeText(Entries[begin].TimeUs) + QLatin1Char(' ');
  for (std::uint64_t index = rowStart; index < rowStart + BytesPerRow; ++index) {
    if (index < Entries[begin].Index || index > Entries[end - 1].Index) {
      text += QStringLiteral("   ");
      continue;
    }
    const TRxByteRing::TEntry& e = Entries[begin + static_cast<std::size_t>(index - Entries[begin].Index)];
    text += e.Mark == TRxByteRing::FrameStart ? QLatin1Char('|') : QLatin1Char(' ');
    text += Hex(e.Byte, 2);
  }
  const std::vector<TRowNote> notes = NotesOfRow(row);
  for (std::size_t n = 0; n < notes.size(); ++n) {
    text += n == 0 ? QStringLiteral("  ") : QStringLiteral(", ");
    text += QStringLiteral("%1 (frame %2-%3)")
                .arg(FrameKindName(notes[n].Kind), Hex(notes[n].First, 8), Hex(notes[n].Last, 8));
  }
  while (text.endsWith(QLatin1Char(' '))) text.chop(1);
  return text;
}

QString TRxBytesView::SelectedText() const {
  int first = 0, last = RowCount() - 1;
  if (SelFirst >= 0) {
    first = std::min(SelFirst, SelLast);
    last = std::max(SelFirst, SelLast);
  }
  QString text;
  for (int row = first; row <= last && row < RowCount(); ++row) text += RowText(row) + QLatin1Char('\n');
  return text;
}

void TRxBytesView::SelectRows(int first, int last) {
  SelFirst = first;
  SelLast = last;
  viewport()->update();
}

void TRxBytesView::UpdateScrollRange(bool followEnd, std::uint64_t topRowBefore) {
  const int visible = std::max(1, viewport()->height() / RowHeight);
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, std::max(0, RowCount() - visible));
  bar->setPageStep(visible);
  if (followEnd || Entries.empty()) {
    bar->setValue(bar->maximum());
    return;
  }
  // Keep the same bytes at the top while older rows drop off.
  const std::uint64_t firstRow = Entries.front().Index / BytesPerRow;
  bar->setValue(topRowBefore > firstRow ? static_cast<int>(topRowBefore - firstRow) : 0);
}

void TRxBytesView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  QScrollBar* bar = verticalScrollBar();
  UpdateScrollRange(
      bar->value() >= bar->maximum(),
      Entries.empty() ? 0 : Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(bar->value()));
}

int TRxBytesView::RowAt(int y) const {
  const int row = verticalScrollBar()->value() + y / RowHeight;
  return std::clamp(row, 0, std::max(0, RowCount() - 1));
}

void TRxBytesView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || Entries.empty()) return;
  const int row = RowAt(event->position().toPoint().y());
  if ((event->modifiers() & Qt::ShiftModifier) && SelFirst >= 0)
    SelectRows(SelFirst, row);
  else
    SelectRows(row, row);
}

void TRxBytesView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || SelFirst < 0) return;
  SelectRows(SelFirst, RowAt(event->position().toPoint().y()));
}

void TRxBytesView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QPalette& pal = palette();
  p.fillRect(viewport()->rect(), pal.color(QPalette::Base));
  if (Entries.empty()) return;

  const QFontMetrics m(font());
  const int ascent = m.ascent() + 1;
  const int top = verticalScrollBar()->value();
  const int rows = std::min(RowCount() - top, viewport()->height() / RowHeight + 1);
  const int selFirst = std::min(SelFirst, SelLast), selLast = std::max(SelFirst, SelLast);
  const auto x = [this](int column) { return 4 + column * CharWidth; };

  for (int r = 0; r < rows; ++r) {
    const int row = top + r;
    const int y = r * RowHeight;
    const bool selected = SelFirst >= 0 && row >= selFirst && row <= selLast;
    const QColor text = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (selected) p.fillRect(QRect(0, y, viewport()->width(), RowHeight), pal.color(QPalette::Highlight));

    const std::size_t begin = RowBegin(row), end = RowEnd(row);
    const std::uint64_t rowStart =
        (Entries.front().Index / BytesPerRow + static_cast<std::uint64_t>(row)) * BytesPerRow;
    p.setPen(selected ? text : pal.color(QPalette::Disabled, QPalette::Text));
    p.drawText(x(0), y + ascent, Hex(rowStart, 8));
    p.drawText(x(TimeColumn), y + ascent, TimeText(Entries[begin].TimeUs));

    for (std::size_t i = begin; i < end; ++i) {
      const int cell = static_cast<int>(Entries[i].Index - rowStart);
      const int cx = x(CellsColumn + cell * CellWidth);
      const TRxFrameKind kind = Kinds[i];
      if (IsBad(kind)) {
        // One band over a bad frame's bytes, the gaps between them included.
        const bool joins = i + 1 < end && Kinds[i + 1] == kind && Entries[i + 1].Mark != TRxByteRing::FrameStart;
        p.fillRect(QRect(cx + CharWidth, y + 1, CharWidth * (joins ? 3 : 2), RowHeight - 2), FrameKindShade(kind));
      }
      if (Entries[i].Mark == TRxByteRing::FrameStart)
        p.fillRect(QRect(cx + CharWidth / 2 - 1, y + 1, 2, RowHeight - 2),
                   selected ? text : pal.color(QPalette::Highlight));
      QColor pen = text;
      if (IsBad(kind))
        pen = Qt::black;  // on the light shade, whatever the theme
      else if (kind == TRxFrameKind::Stray && !selected)
        pen = pal.color(QPalette::Disabled, QPalette::Text);
      p.setPen(pen);
      p.drawText(cx + CharWidth, y + ascent, Hex(Entries[i].Byte, 2));
    }

    int nx = x(NotesColumn);
    for (const TRowNote& note : NotesOfRow(row)) {
      const QString name = FrameKindName(note.Kind);
      const int w = m.horizontalAdvance(name) + CharWidth;
      p.fillRect(QRect(nx - CharWidth / 2, y + 1, w, RowHeight - 2), FrameKindShade(note.Kind));
      p.setPen(Qt::black);
      p.drawText(nx, y + ascent, name);
      nx += w + CharWidth;
    }
  }
}
