#pragma once
// The capture viewer: a capture file of any size plotted against its own
// times. The file is indexed in the background (progress and Cancel) and
// never held whole; then the chosen values are plotted with the receive errors
// and damaged lines marked, each pixel column keeping its minimum and maximum.
// Clicking a time selects the nearest line: its record shows in the truck
// simulator's five tabs (disabled, as in display mode) with the line's text
// and status, and keys step to the line or the error before or after. A
// summary gives the frames, the errors by kind, the longest gap and the frame
// rate. Several viewers may be open at once.

#include "capture/CaptureIndex.h"

#include <QWidget>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class TForm_QUORLINK;
class ValueChart;

class CaptureViewer : public QWidget {
  Q_OBJECT
public:
  // mode: whose settings keep the chosen values.
  explicit CaptureViewer(int mode, QWidget* parent = nullptr);
  ~CaptureViewer() override;

  // Starts indexing the file; the plot follows when it is done.
  void Open(const QString& path);
  QString FileName() const;
  // The index is built and the plot shown.
  bool Ready() const;
  const CaptureIndex& Index() const;
  ValueChart* Chart() const;

  // The segment shown (CaptureIndex: a run of lines whose times never step back).
  int Segment() const;
  void ShowSegment(int segment);
  // The line selected, and the line nearest to a time (ms since the epoch) of
  // the segment shown; false when there is none.
  bool HasLine() const;
  const CaptureIndex::Line& Line() const;
  bool SelectNearest(qint64 time);
  // Moves the selection a line, or to an error, forward or back.
  bool Step(bool forward, bool errorsOnly);
  // A time of the capture in ms since the epoch, and back.
  qint64 EpochOf(CaptureIndex::Stamp stamp) const;
  CaptureIndex::Stamp StampOf(qint64 epoch) const;

  TForm_QUORLINK* Record() const;  // the five tabs
  QLabel* LineLabel;               // "Line 1234 · 14:03:07.123 · Checksum error (status 1) · 24 data bytes"
  QLineEdit* LineText;             // the line as it stands in the file
  QTreeWidget* SummaryView;
  QComboBox* SegmentBox;  // shown when the capture has more than one segment
  QAction* PreviousLineAction;
  QAction* NextLineAction;
  QAction* PreviousErrorAction;
  QAction* NextErrorAction;
  QProgressBar* Progress;
  QPushButton* CancelButton;

signals:
  // The index is built (true) or failed; a cancelled one closes the window.
  void Indexed(bool built);

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void Poll();
  void Show();
  void FillSummary();
  void Select(const CaptureIndex::Line& line);
  void ReportReadError();

  struct Private;
  const std::unique_ptr<Private> d;
};
