#pragma once
// CaptureIndex lets a viewer plot a capture file of any size and step through
// its lines without holding the file. One pass (Build, on a thread of the
// caller's) cuts the record lines into blocks of a few lines and keeps, per
// block, where it starts in the file, its times, its receive errors and the
// minimum and maximum of every byte over its good frames (status 0). A plot
// comes from those block summaries while each pixel column holds whole
// blocks, and from the lines themselves, read again, once few enough are in
// view; either way each column keeps its minimum and its maximum, so a spike
// stays visible at any zoom.
//
// Times: a capture line holds only a time of day. The index counts days on
// from the header's date: a step back of at most an hour past midnight is the
// next day; any other step back starts a new segment (a clock set back, two
// captures in one file), and each segment is plotted on its own. A Stamp is a
// time of that local clock in milliseconds since 1970-01-01 00:00, without a
// time zone. Without a readable header date the capture is dated so that it
// ends at the file's last change.
//
// Damaged lines are listed (line number and why) and skipped. Queries run on
// one thread at a time; they read the file again and fail, with Error set,
// when it no longer holds what was indexed.

#include "capture/CaptureFormat.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CaptureIndex {
public:
  using Stamp = long long;

  // The kinds of receive error: status 1, 2, 3 and any other status but 0.
  static constexpr int ErrorKinds = 4;
  static int KindOf(int status) { return status >= 1 && status <= 3 ? status - 1 : 3; }
  // Good frames further apart than this are not joined by a line.
  static constexpr Stamp GapMs = 5000;

  // What to plot of a record: a byte (0 to 99), or one bit of it as 0 or 1.
  struct Value {
    int Byte = 0;
    std::uint8_t Mask = 0xFF;
    bool Flag = false;
  };

  struct Options {
    // Record lines per block; 0 chooses by the file's size (16 up to 1 GiB).
    int BlockLines = 0;
    // Stretches of the file indexed side by side; 0: one per processor, at most 4.
    int Parts = 0;
    const std::atomic<bool>* Cancel = nullptr;
    std::atomic<long long>* BytesDone = nullptr;  // for a progress bar; Size() is the whole
  };
  enum class Result { Built, Cancelled, Failed };

  // A run of record lines whose times never step back.
  struct Segment {
    Stamp First = 0, Last = 0;
    long long FirstLine = 0, LastLine = 0;
    long long Records = 0;
    bool Dated = false;  // the date comes from a header, not from the file's time
  };

  // One record line, read again.
  struct Line {
    long long Number = 0;  // line number in the file, from 1
    long long Offset = 0;
    Stamp Time = 0;
    int Segment = 0;
    CaptureFormat::Record Record;
    std::string Text;
  };

  struct Damaged {
    long long Line = 0;
    std::string Reason;  // CaptureFormat::Describe
    Stamp Time = 0;      // of the record line before it (or after, at the start)
    int Segment = 0;
  };

  // A point of a plotted value; Break: the line does not join it to the one before.
  struct Point {
    Stamp Time = 0;
    int Y = 0;
    bool Break = false;
  };

  // A receive error: its status and line.
  struct Event {
    Stamp Time = 0;
    int Status = 0;
    long long Line = 0;
  };

  struct Summary {
    long long Bytes = 0;  // indexed, from the start of the file
    long long Lines = 0;
    long long Records = 0;
    long long Good = 0;
    long long Errors[ErrorKinds] = {};
    long long Damaged = 0;  // Damaged() lists at most DamagedListMax of them
    long long Headers = 0;
    // The longest time between two good frames of one segment.
    Stamp LongestGap = 0;
    Stamp GapFrom = 0;
    long long GapFromLine = 0, GapToLine = 0;
    Stamp Span = 0;  // the segments' times added up
  };
  static constexpr std::size_t DamagedListMax = 10000;

  CaptureIndex();
  ~CaptureIndex();
  CaptureIndex(const CaptureIndex&) = delete;
  CaptureIndex& operator=(const CaptureIndex&) = delete;

  // Reads the file from its start to its present end. Any other call waits
  // until it has returned.
  Result Build(const std::string& path, const Options& options);
  // "cannot read PATH: reason" after a failed Build or query; empty otherwise.
  std::string Error() const;
  long long Size() const;  // of the file when Build began
  int BlockLines() const;

  const Summary& Totals() const;
  const std::vector<Segment>& Segments() const;
  const std::vector<Damaged>& DamagedLines() const;

  // The points of a value in one segment from `from` to `to` (with the good
  // frame before and the one after, so that lines reach the edges), in time
  // order: every good frame when there are at most two per column, else each
  // column's minimum and maximum.
  bool Points(const Value& value, int segment, Stamp from, Stamp to, int columns, std::vector<Point>& out) const;
  // The receive errors in one segment from `from` to `to`, at most one of each kind per column.
  bool Events(int segment, Stamp from, Stamp to, int columns, std::vector<Event>& out) const;
  // The record line nearest to a time in a segment (the earlier of two as near).
  bool Nearest(int segment, Stamp time, Line& out) const;
  // The first record line of the file.
  bool First(Line& out) const;
  // The record line after (forward) or before `from`; with errorsOnly the next
  // one whose status is not 0. False when there is none (Error() empty) or the
  // file can't be read.
  bool Step(const Line& from, bool forward, bool errorsOnly, Line& out) const;
  // Every record line of a segment from `from` to `to`, in order, until each returns false.
  template <class Each>
  bool Records(int segment, Stamp from, Stamp to, Each each) const;

private:
  struct Private;
  struct Reading;
  // Reads the record lines of one segment from `from` to `to` and calls each
  // (a pointer to Line, with Text empty unless withText) until it returns false.
  bool Read(int segment, Stamp from, Stamp to, bool withText, bool (*each)(void*, const Line&), void* context) const;
  std::unique_ptr<Private> const d;
};

template <class Each>
bool CaptureIndex::Records(int segment, Stamp from, Stamp to, Each each) const {
  return Read(
      segment, from, to, false, [](void* c, const Line& line) { return (*static_cast<Each*>(c))(line); }, &each);
}
