#pragma once
// TRxBytesView shows bytes the receiver read as a hex dump: 16 to a row, each
// row with the offset of its first byte in the received stream and the time
// it was read. A bar marks every frame start; the bytes of a bad frame are
// shaded and the row where it ended names the event. Rows can be selected
// with the mouse and copied as text.

#include "link/RxByteRing.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>
#include <vector>

class TRxBytesView : public QAbstractScrollArea {
  Q_OBJECT
public:
  static constexpr int BytesPerRow = 16;

  explicit TRxBytesView(QWidget* parent = nullptr);

  // Adds bytes that follow those shown; bytes that don't follow (some were
  // missed) start the view afresh. Keeps the newest TRxByteRing::Capacity.
  void Append(const TRxByteRing::TEntry* entries, std::size_t count);
  void Clear();
  std::size_t ByteCount() const { return Entries.size(); }
  std::uint64_t NextIndex() const { return Entries.empty() ? 0 : Entries.back().Index + 1; }

  int RowCount() const;
  // A row as text: offset, time, the bytes ("|" before a frame start) and
  // the events that ended in it.
  QString RowText(int row) const;
  // The selected rows as text, or every row when none is selected.
  QString SelectedText() const;
  void SelectRows(int first, int last);  // -1, -1 selects nothing

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  struct TRowNote {
    TRxFrameKind Kind;
    std::uint64_t First, Last;  // the frame's bytes, as far as they are shown
  };
  // The entries of a row: [begin, end) in Entries.
  std::size_t RowBegin(int row) const;
  std::size_t RowEnd(int row) const;
  std::vector<TRowNote> NotesOfRow(int row) const;
  QString TimeText(std::int64_t timeUs) const;
  int RowAt(int y) const;
  void UpdateScrollRange(bool followEnd, std::uint64_t topRowBefore);
  void UpdateMetrics();

  std::vector<TRxByteRing::TEntry> Entries;
  std::vector<TRxFrameKind> Kinds;
  std::int64_t WallOffsetUs = 0;  // wall clock minus steady clock, as of the last Append
  int SelFirst = -1, SelLast = -1;
  int RowHeight = 1, CharWidth = 1;
};

// The words for a frame's kind, and the shade of a bad one, as the dump and
// its legend show them.
QString FrameKindName(TRxFrameKind kind);
QColor FrameKindShade(TRxFrameKind kind);
