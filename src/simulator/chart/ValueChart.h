#pragma once
// ValueChart plots values of the truck data record against time: the live
// trend window and the capture viewer both show one. It holds no data of its
// own; it asks a ChartSource for what the visible range needs, so a source may
// hold a bounded buffer or index a capture file of any size.
//
// What it gives its window:
// - a list of every value with check boxes (ChartValues::All(): the named
//   bytes, the 24 status flags, the additional bytes); each chosen value is a
//   line with its caption in the legend, flags as steps on an off/on axis;
// - events (receive errors, a lost port) as markers along the time axis that
//   name themselves when the pointer rests on them;
// - zoom and pan: mouse wheel, drag with the left button, a range dragged with
//   the right button, right click to zoom out; keys Left/Right, +/-, Home;
//   a click without a drag reports the time clicked (TimeClicked);
// - Home: back to the latest span, following new data (live), or to all of it;
// - the visible plot as PNG or SVG and the visible records as CSV with the
//   column names of quorlink decode;
// - a tool bar with those actions, to which the window adds its own.
//
// Times are milliseconds since the epoch throughout.

#include "simulator/chart/ChartValues.h"

#include <QList>
#include <QPointF>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QChart;
class QChartView;
class QToolBar;

// One marked event: a receive status other than good, or ChartValues::PortLost.
struct ChartEvent {
  qint64 Time = 0;
  int Kind = 0;
  int Line = 0;  // capture line number; 0 for none
};

// Where a chart's data come from. Called on the GUI thread only.
class ChartSource {
public:
  virtual ~ChartSource() = default;
  // The time range the data cover; false while there is nothing.
  virtual bool Extent(qint64& first, qint64& last) const = 0;
  // The points of one value (an index into ChartValues::All()) from `from` to
  // `to`, in time order, with the last point before `from` and the first after
  // `to` so that lines reach the edges. columns is the plot's width in pixels:
  // a source with more than about two points per column keeps each column's
  // minimum and maximum. A point whose y is NaN breaks the line there.
  virtual void Points(int value, qint64 from, qint64 to, int columns, QList<QPointF>& out) const = 0;
  // The events from `from` to `to` in time order, at most one of each kind per column.
  virtual void Events(qint64 from, qint64 to, int columns, QList<ChartEvent>& out) const = 0;
  // Calls each for every record from `from` to `to` in time order until it
  // returns false. False when the records could not be read; error says why.
  virtual bool Records(qint64 from, qint64 to, const std::function<bool(const ChartValues::Record&)>& each,
                       QString& error) const = 0;
  // Whether the records carry capture line numbers (the CSV then starts with "line").
  virtual bool HasLines() const { return false; }
};

class ValueChart : public QWidget {
  Q_OBJECT
public:
  // Where Home goes: the latest Span() milliseconds up to the end of the
  // data, following it as it grows (live), or all of the data.
  enum class Home { Latest, All };

  explicit ValueChart(Home home, QWidget* parent = nullptr);
  ~ValueChart() override;

  // The source is not owned; null shows an empty chart.
  void SetSource(const ChartSource* source);

  // The chosen values, as indexes into ChartValues::All() in that order.
  std::vector<int> Chosen() const;
  void SetChosen(const std::vector<int>& values);
  // The choice in the program's settings store: under the key (a path such
  // as SettingsBasePath(mode) + "Trend Values"), one integer per value named
  // after its column, 1 when chosen. Nothing stored chooses the defaults.
  void LoadChoice(const std::string& key, const std::vector<int>& defaults);
  bool SaveChoice(const std::string& key) const;

  // The width of the Latest view; 60 s at first.
  void SetSpan(qint64 ms);
  qint64 Span() const;
  // Whether the view is at Home and follows the data.
  bool Following() const;
  // Keeps the view where it is; the data still change under it.
  void Freeze();
  void GoHome();
  // Shows from..to and stops following.
  void SetRange(qint64 from, qint64 to);
  qint64 From() const;
  qint64 To() const;
  // Zooms by factor (below 1 zooms in) around a time; pans by a fraction of the visible span.
  void Zoom(double factor, qint64 centre);
  void Pan(double fraction);

  // Asks the source again for the visible range (and, when following, for
  // where Home is now). The window calls it when its data have changed.
  void Refresh();
  // The GUI thread's CPU time, in milliseconds, that the last Refresh and
  // the paints since took: a window that redraws on a timer paces itself by it.
  double DrawMs() const;

  // A vertical line at a time, such as a viewer's selected line.
  void SetCursorTime(qint64 time);
  void ClearCursor();

  // The visible plot as an image: PNG, or SVG when the name ends in ".svg".
  bool SaveImage(const QString& fileName, QString& error) const;
  // The visible records as CSV (ChartValues::CsvHeader, CsvLine).
  bool SaveData(const QString& fileName, QString& error) const;

  // What is drawn now, for tests and tools: the points of a value's line as
  // drawn (flags with their steps, pieces of a broken line joined by a NaN
  // point), and the marked events.
  QList<QPointF> Plotted(int value) const;
  QList<ChartEvent> Marked() const;

  QToolBar* ToolBar() const;
  QChartView* View() const;
  QChart* Chart() const;
  QAction* HomeAction;       // "Back to Live" or "Show All"
  QAction* ZoomInAction;     // "Zoom In"
  QAction* ZoomOutAction;    // "Zoom Out"
  QAction* SaveImageAction;  // "Save Image...": PNG or SVG, through a file dialog
  QAction* SaveDataAction;   // "Save Data...": CSV, through a file dialog

signals:
  void ChosenChanged();
  void RangeChanged(qint64 from, qint64 to);
  void FollowingChanged(bool following);
  void TimeClicked(qint64 time);

private:
  void Chooser(QWidget* parent);
  void Choose();
  void ChooseFile(bool image);

  struct Private;
  const std::unique_ptr<Private> d;
};
