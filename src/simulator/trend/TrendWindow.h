#pragma once
// The live trend window: the chosen values of every frame received (display
// mode) or of every record handed to the link for sending (source mode),
// plotted against time, the last minute scrolling by, with the receive errors
// marked. The main window hands the records over on the GUI thread, where it
// already has them; the window keeps them in a bounded buffer and redraws on
// a timer of its own, never inside a hand-over. Closing the window only hides
// it: the buffer keeps filling.

#include <QWidget>
#include <cstdint>
#include <memory>

class QAction;
class QComboBox;
class TrendBuffer;
class ValueChart;

class TrendWindow : public QWidget {
  Q_OBJECT
public:
  explicit TrendWindow(int mode, QWidget* parent = nullptr);
  ~TrendWindow() override;

  // A record now: a receive event with its status and the link's record
  // (display mode), or a record set for sending with status 0 (source mode).
  void AddRecord(int status, int length, const std::uint8_t* data);
  // The same at a given time, not before the last record's (screenshots and
  // tools that fill the window with a past). Now() is the window's clock.
  void AddRecordAt(qint64 time, int status, int length, const std::uint8_t* data);
  // An event without a record, such as ChartValues::PortLost, marked now.
  void AddEvent(int kind);
  qint64 Now() const;

  ValueChart* Chart() const;
  const TrendBuffer& Buffer() const;
  // Redraws now if anything changed. The window's timer calls it up to 5
  // times a second, less often where drawing is slow (about 3 % of the GUI
  // thread's time at most).
  void Update();
  int RedrawInterval() const;  // ms, as paced now

  QAction* PauseAction;  // "Pause", checked while the view stands still ("Resume")
  QComboBox* SpanBox;    // how much of the recent past the live view shows

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  struct Private;
  const std::unique_ptr<Private> d;
};
