#include "capture/CaptureIndex.h"

#include "capture/CaptureReader.h"
#include "simulator/TruckDataMap.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using Stamp = CaptureIndex::Stamp;
using CaptureFormat::LineKind;

namespace {

constexpr Stamp DayMs = CaptureFormat::DayMs;
// A step back of the clock is midnight passed when the capture goes on
// within this much after it (the rule `quorlink replay` keeps too).
constexpr Stamp MidnightGapMax = 60 * 60 * 1000;
constexpr int ValueBytes = TruckDataMap::RecordSize;  // bytes a value can be plotted of
constexpr int FlagBytes = TruckDataMap::StatusBytes;
constexpr int FirstFlagByte = TruckDataMap::FirstStatusByte;
constexpr std::size_t ChunkBlocks = 4096;
constexpr Stamp NoTime = std::numeric_limits<Stamp>::min();
constexpr int Kinds = CaptureIndex::ErrorKinds;

Stamp FloorDiv(Stamp a, Stamp b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
Stamp DayStart(Stamp s) { return FloorDiv(s, DayMs) * DayMs; }

// The time of a line at timeOfDay after one at previous: later that day, or
// the next day when midnight has just passed; false for any other step back.
bool Advance(Stamp previous, int timeOfDay, Stamp& next) {
  const Stamp step = timeOfDay - (previous - DayStart(previous));
  if (step >= 0) {
    next = previous + step;
    return true;
  }
  if (step + DayMs <= MidnightGapMax) {
    next = previous + step + DayMs;
    return true;
  }
  return false;
}

Stamp Naive(const QDateTime& t) {
  return (t.date().toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * DayMs + t.time().msecsSinceStartOfDay();
}

struct BlockInfo {
  long long Offset = 0;     // of its first record line
  long long FirstLine = 0;  // that line's number
  Stamp First = 0, Last = 0;
  Stamp FirstGood = 0, LastGood = 0;
  Stamp Gap = 0, GapFrom = 0;  // the longest time between two of its good frames
  int Records = 0, Good = 0;
  std::uint8_t Errors = 0;  // bit k: a line of error kind k
  int OtherStatus = 0;      // the status of the first of kind 3
  Stamp ErrorTime[Kinds] = {};
  long long ErrorLine[Kinds] = {};

  void Shift(Stamp by) {
    First += by;
    Last += by;
    FirstGood += by;
    LastGood += by;
    GapFrom += by;
    for (int k = 0; k < Kinds; ++k) ErrorTime[k] += by;
  }
};

// Each block's minimum and maximum of every byte over its good frames, and the
// AND and OR of the status bytes for the flags; stored by byte so that a plot
// of one value reads one run of memory, in chunks so that growing never
// copies. A byte no good frame of a block had reads as min 255 > max 0.
class ByteStore {
public:
  struct Summary {
    std::uint8_t Min[ValueBytes], Max[ValueBytes], And[FlagBytes], Or[FlagBytes];
    int Length = 0;  // bytes 0 to Length-1 were seen
    void Clear() {
      std::memset(Min, 0xFF, sizeof Min);
      std::memset(Max, 0, sizeof Max);
      std::memset(And, 0xFF, sizeof And);
      std::memset(Or, 0, sizeof Or);
      Length = 0;
    }
  };

  void Put(std::size_t block, const Summary& s) {
    Chunk& c = ChunkOf(block);
    const std::size_t i = block % ChunkBlocks;
    for (int b = 0; b < s.Length; ++b) {
      Array(c.Min[b], 0xFF)[i] = s.Min[b];
      Array(c.Max[b], 0)[i] = s.Max[b];
    }
    for (int f = 0; f < FlagBytes && FirstFlagByte + f < s.Length; ++f) {
      Array(c.And[f], 0xFF)[i] = s.And[f];
      Array(c.Or[f], 0)[i] = s.Or[f];
    }
  }

  // The value's lowest and highest over a block's good frames; false when none had it.
  bool Range(std::size_t block, const CaptureIndex::Value& v, int& lo, int& hi) const {
    const std::size_t n = block / ChunkBlocks, i = block % ChunkBlocks;
    if (n >= Chunks.size()) return false;
    const Chunk& c = *Chunks[n];
    if (v.Flag) {
      const int f = v.Byte - FirstFlagByte;
      if (f < 0 || f >= FlagBytes || !c.And[f]) return false;
      lo = (c.And[f][i] & v.Mask) ? 1 : 0;
      hi = (c.Or[f][i] & v.Mask) ? 1 : 0;
    } else {
      if (v.Byte < 0 || v.Byte >= ValueBytes || !c.Min[v.Byte]) return false;
      lo = c.Min[v.Byte][i];
      hi = c.Max[v.Byte][i];
    }
    return lo <= hi;
  }

  void Copy(std::size_t to, const ByteStore& from, std::size_t block) {
    Summary s;
    s.Clear();
    const std::size_t n = block / ChunkBlocks, i = block % ChunkBlocks;
    if (n < from.Chunks.size()) {
      const Chunk& c = *from.Chunks[n];
      for (int b = 0; b < ValueBytes; ++b) {
        if (!c.Min[b]) continue;
        s.Min[b] = c.Min[b][i];
        s.Max[b] = c.Max[b][i];
        s.Length = b + 1;
      }
      for (int f = 0; f < FlagBytes; ++f) {
        if (!c.And[f]) continue;
        s.And[f] = c.And[f][i];
        s.Or[f] = c.Or[f][i];
      }
    }
    Put(to, s);
  }

  void Release(std::size_t blocks) {  // the chunks wholly below this block
    for (std::size_t n = 0; n < Chunks.size() && (n + 1) * ChunkBlocks <= blocks; ++n) Chunks[n].reset();
  }

  void Clear() { Chunks.clear(); }

private:
  using Bytes = std::unique_ptr<std::uint8_t[]>;
  struct Chunk {
    Bytes Min[ValueBytes], Max[ValueBytes], And[FlagBytes], Or[FlagBytes];
  };

  Chunk& ChunkOf(std::size_t block) {
    const std::size_t n = block / ChunkBlocks;
    while (Chunks.size() <= n) Chunks.push_back(std::make_unique<Chunk>());
    return *Chunks[n];
  }

  static std::uint8_t* Array(Bytes& a, std::uint8_t empty) {
    if (!a) {
      a.reset(new std::uint8_t[ChunkBlocks]);
      std::memset(a.get(), empty, ChunkBlocks);
    }
    return a.get();
  }

  std::vector<std::unique_ptr<Chunk>> Chunks;
};

struct SegmentInfo {
  CaptureIndex::Segment S;
  std::size_t FirstBlock = 0, EndBlock = 0;
  // Begun at a header or at the start of a stretch: joined to the segment
  // before when its times go on from there.
  bool Joinable = false;
};

// What one stretch of the file gives; stretches are indexed side by side and
// then appended. Its first blocks, segments and damaged lines, up to the
// first dated header, have times counted from day 0 (loose): they are dated
// when the stretch is appended to the one before it, or from the file.
struct Part {
  long long Begin = 0, End = 0;
  std::vector<BlockInfo> Blocks;
  ByteStore Bytes;
  std::vector<SegmentInfo> Segments;
  std::vector<CaptureIndex::Damaged> Damaged;
  CaptureIndex::Summary Totals;
  long long Lines = 0;
  std::size_t LooseBlocks = 0, LooseSegments = 0, LooseDamaged = 0;
  bool Dated = false;  // a dated header came
  bool AnyRecord = false;
  bool EndAnchored = false;  // a dated header with no record line after it yet
  Stamp EndAnchor = 0;
  int FirstTimeOfDay = 0;
  Stamp LastTime = 0;
  std::string Error;

  void ShiftLoose(Stamp by) {
    for (std::size_t i = 0; i < LooseBlocks; ++i) Blocks[i].Shift(by);
    for (std::size_t i = 0; i < LooseSegments; ++i) {
      Segments[i].S.First += by;
      Segments[i].S.Last += by;
    }
    for (std::size_t i = 0; i < LooseDamaged; ++i)
      if (Damaged[i].Time != NoTime) Damaged[i].Time += by;
    if (AnyRecord && !Dated) LastTime += by;
  }
};

class PartIndexer {
public:
  PartIndexer(Part& part, int blockLines) : P(part), BlockLines(blockLines) { Current.Clear(); }

  void Line(CaptureReader& reader) {
    ++P.Lines;
    switch (reader.Kind()) {
    case LineKind::Header: {
      ++P.Totals.Headers;
      QDateTime started;
      const std::string_view text = reader.Text();
      if (CaptureFormat::ParseHeader(text.data(), text.data() + text.size(), started)) {
        Anchored = true;
        Anchor = Naive(started);
        Close();
      }
      break;
    }
    case LineKind::Damaged: {
      ++P.Totals.Damaged;
      if (P.Damaged.size() >= CaptureIndex::DamagedListMax) break;
      CaptureIndex::Damaged d;
      d.Line = reader.LineNumber();
      d.Reason = CaptureFormat::Describe(reader.Damage());
      d.Time = Have ? Previous : NoTime;
      d.Segment = Have ? static_cast<int>(P.Segments.size()) - 1 : 0;
      P.Damaged.push_back(std::move(d));
      break;
    }
    case LineKind::Record: Record(reader); break;
    default: break;
    }
  }

  void Finish() {
    Close();
    if (!P.Dated) {
      P.LooseBlocks = P.Blocks.size();
      P.LooseSegments = P.Segments.size();
      P.LooseDamaged = P.Damaged.size();
    }
    P.LastTime = Previous;
    P.EndAnchored = Anchored;
    P.EndAnchor = Anchor;
  }

private:
  void Record(CaptureReader& reader) {
    const CaptureFormat::Record& r = reader.Record();
    Stamp t = 0;
    bool segment = false, joinable = false;
    if (Anchored) {
      if (!Advance(Anchor, r.TimeOfDayMs, t)) t = DayStart(Anchor) + r.TimeOfDayMs;
      Anchored = false;
      segment = joinable = true;
      if (!P.Dated) {
        P.Dated = true;
        P.LooseBlocks = P.Blocks.size();
        P.LooseSegments = P.Segments.size();
        P.LooseDamaged = Have ? P.Damaged.size() : 0;
      }
    } else if (!Have) {
      t = r.TimeOfDayMs;
      segment = joinable = true;
    } else if (!Advance(Previous, r.TimeOfDayMs, t)) {
      t = DayStart(Previous) + r.TimeOfDayMs;
      segment = true;
    }
    if (!Have) {
      P.AnyRecord = true;
      P.FirstTimeOfDay = r.TimeOfDayMs;
      for (CaptureIndex::Damaged& d : P.Damaged) d.Time = t;
    }
    if (segment) {
      Close();
      SegmentInfo s;
      s.S.First = t;
      s.S.FirstLine = reader.LineNumber();
      s.S.Dated = P.Dated;
      s.FirstBlock = s.EndBlock = P.Blocks.size();
      s.Joinable = joinable;
      P.Segments.push_back(s);
    }
    if (Open && Block.Records == BlockLines) Close();
    if (!Open) {
      Open = true;
      Block = BlockInfo();
      Block.Offset = reader.Offset();
      Block.FirstLine = reader.LineNumber();
      Block.First = t;
      Current.Clear();
    }
    Block.Last = t;
    ++Block.Records;
    ++P.Totals.Records;
    if (r.Status == 0) {
      ++P.Totals.Good;
      if (Block.Good == 0) {
        Block.FirstGood = t;
      } else if (t - Block.LastGood > Block.Gap) {
        Block.Gap = t - Block.LastGood;
        Block.GapFrom = Block.LastGood;
      }
      Block.LastGood = t;
      ++Block.Good;
      const int n = std::min(r.Length, ValueBytes);
      for (int b = 0; b < n; ++b) {
        const std::uint8_t v = r.Data[b];
        if (v < Current.Min[b]) Current.Min[b] = v;
        if (v > Current.Max[b]) Current.Max[b] = v;
      }
      for (int f = 0; f < FlagBytes && FirstFlagByte + f < n; ++f) {
        Current.And[f] &= r.Data[FirstFlagByte + f];
        Current.Or[f] |= r.Data[FirstFlagByte + f];
      }
      Current.Length = std::max(Current.Length, n);
    } else {
      const int k = CaptureIndex::KindOf(r.Status);
      ++P.Totals.Errors[k];
      if (!(Block.Errors & (1 << k))) {
        Block.Errors = static_cast<std::uint8_t>(Block.Errors | (1 << k));
        Block.ErrorTime[k] = t;
        Block.ErrorLine[k] = reader.LineNumber();
        if (k == Kinds - 1) Block.OtherStatus = r.Status;
      }
    }
    SegmentInfo& s = P.Segments.back();
    s.S.Last = t;
    s.S.LastLine = reader.LineNumber();
    ++s.S.Records;
    Previous = t;
    Have = true;
  }

  void Close() {
    if (!Open) return;
    Open = false;
    P.Bytes.Put(P.Blocks.size(), Current);
    P.Blocks.push_back(Block);
    P.Segments.back().EndBlock = P.Blocks.size();
  }

  Part& P;
  const int BlockLines;
  bool Have = false;  // a record line came before
  Stamp Previous = 0;
  bool Anchored = false;  // a dated header waits for its first record line
  Stamp Anchor = 0;
  bool Open = false;
  BlockInfo Block;
  ByteStore::Summary Current;
};

// The offset of the first line that starts at or after `at`.
long long LineStartFrom(int fd, long long at, long long size) {
  if (at <= 0) return 0;
  char buffer[4096];
  long long pos = at - 1;
  bool afterCr = false;
  while (pos < size) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, pos);
    if (n <= 0) return size;
    for (ssize_t i = 0; i < n; ++i) {
      if (afterCr) return buffer[i] == '\n' ? pos + i + 1 : pos + i;
      if (buffer[i] == '\n') return pos + i + 1;
      if (buffer[i] == '\r') afterCr = true;
    }
    pos += n;
  }
  return size;
}

}  // namespace

struct CaptureIndex::Private {
  std::string Path;
  long long Size = 0;
  int BlockLines = 16;
  std::vector<BlockInfo> Blocks;
  ByteStore Bytes;
  std::vector<SegmentInfo> SegmentInfos;
  std::vector<Segment> Segments;
  std::vector<Damaged> DamagedList;
  Summary Totals;
  mutable CaptureReader Reader;
  mutable std::string Error;
  // The lines of the last stretch of blocks read for a plot: a chart asks
  // for one value after another over the same range.
  struct Cache {
    std::size_t B0 = 0, B1 = 0;
    std::vector<Line> Lines;
    std::vector<std::size_t> Block;
  };
  static constexpr long long CacheLines = 40000;
  mutable Cache Cached;

  void Clear() {
    Blocks.clear();
    Blocks.shrink_to_fit();
    Bytes.Clear();
    SegmentInfos.clear();
    Segments.clear();
    DamagedList.clear();
    Totals = Summary();
    Cached = Cache();
  }

  bool Changed() const {
    Error = Path + " has changed since it was read; open it again";
    return false;
  }

  bool ReadFailed() const {
    Error = Reader.Error().empty() ? "cannot read " + Path : Reader.Error();
    return false;
  }

  // Reads the record lines of blocks [b0, b1) in file order: f(line, block)
  // for each until it returns false. The text only when withText.
  template <class F>
  bool ReadBlocks(std::size_t b0, std::size_t b1, bool withText, F f) const {
    if (b0 >= b1) return true;
    if (!Reader.Seek(Blocks[b0].Offset, Blocks[b0].FirstLine)) return ReadFailed();
    Reader.SetEnd(b1 < Blocks.size() ? Blocks[b1].Offset : Totals.Bytes);
    std::size_t block = b0;
    int inBlock = 0;
    Line line;
    while (Reader.Next()) {
      if (Reader.Kind() != LineKind::Record) continue;
      const CaptureFormat::Record& r = Reader.Record();
      if (inBlock == Blocks[block].Records) {
        if (++block >= b1) return Changed();
        inBlock = 0;
      }
      if (inBlock == 0) {
        line.Time = Blocks[block].First;
        line.Segment = SegmentOfBlock(block);
        if (Reader.Offset() != Blocks[block].Offset || line.Time - DayStart(line.Time) != r.TimeOfDayMs)
          return Changed();
      } else if (!Advance(line.Time, r.TimeOfDayMs, line.Time)) {
        return Changed();
      }
      ++inBlock;
      line.Number = Reader.LineNumber();
      line.Offset = Reader.Offset();
      line.Record.TimeOfDayMs = r.TimeOfDayMs;
      line.Record.Status = r.Status;
      line.Record.Length = r.Length;
      std::memcpy(line.Record.Data, r.Data, static_cast<std::size_t>(r.Length));
      if (withText) line.Text.assign(Reader.Text());
      if (!f(static_cast<const Line&>(line), block)) return true;
    }
    if (!Reader.Error().empty()) return ReadFailed();
    if (block + 1 != b1 || inBlock != Blocks[block].Records) return Changed();
    return true;
  }

  // ReadBlocks through the cache, when the stretch is small enough to keep.
  template <class F>
  bool CachedBlocks(std::size_t b0, std::size_t b1, F f) const {
    if (b0 >= b1) return true;
    if (b0 < Cached.B0 || b1 > Cached.B1) {
      long long lines = 0;
      for (std::size_t k = b0; k < b1; ++k) lines += Blocks[k].Records;
      if (lines > CacheLines) return ReadBlocks(b0, b1, false, f);
      Cached = Cache();
      const bool read = ReadBlocks(b0, b1, false, [this](const Line& l, std::size_t k) {
        Cached.Lines.push_back(l);
        Cached.Block.push_back(k);
        return true;
      });
      if (!read) {
        Cached = Cache();
        return false;
      }
      Cached.B0 = b0;
      Cached.B1 = b1;
    }
    for (std::size_t i = static_cast<std::size_t>(std::lower_bound(Cached.Block.begin(), Cached.Block.end(), b0) -
                                                  Cached.Block.begin());
         i < Cached.Block.size() && Cached.Block[i] < b1; ++i)
      if (!f(static_cast<const Line&>(Cached.Lines[i]), Cached.Block[i])) break;
    return true;
  }

  int SegmentOfBlock(std::size_t block) const {
    const auto it = std::upper_bound(SegmentInfos.begin(), SegmentInfos.end(), block,
                                     [](std::size_t b, const SegmentInfo& s) { return b < s.FirstBlock; });
    return static_cast<int>(it - SegmentInfos.begin()) - 1;
  }

  // The blocks of a segment that hold times from `from` to `to`.
  void Overlapping(int segment, Stamp from, Stamp to, std::size_t& b0, std::size_t& b1) const {
    const SegmentInfo& s = SegmentInfos[static_cast<std::size_t>(segment)];
    const auto first = Blocks.begin() + static_cast<std::ptrdiff_t>(s.FirstBlock);
    const auto end = Blocks.begin() + static_cast<std::ptrdiff_t>(s.EndBlock);
    b0 = static_cast<std::size_t>(
        std::partition_point(first, end, [from](const BlockInfo& b) { return b.Last < from; }) - Blocks.begin());
    b1 = static_cast<std::size_t>(std::partition_point(first, end, [to](const BlockInfo& b) { return b.First <= to; }) -
                                  Blocks.begin());
    b1 = std::max(b0, b1);
  }

  void Finish(Part& all, const struct stat& st);
  void FindGap();
};

CaptureIndex::CaptureIndex() : d(std::make_unique<Private>()) {}
CaptureIndex::~CaptureIndex() = default;

namespace {

// Appends stretch p, indexed after c: its line numbers go on from c's, and
// its loose times from c's last record line.
void Append(Part& c, Part& p) {
  const long long lines = c.Lines;
  for (BlockInfo& b : p.Blocks) {
    b.FirstLine += lines;
    for (int k = 0; k < Kinds; ++k) b.ErrorLine[k] += lines;
  }
  for (SegmentInfo& s : p.Segments) {
    s.S.FirstLine += lines;
    s.S.LastLine += lines;
  }
  for (CaptureIndex::Damaged& d : p.Damaged) d.Line += lines;

  if (p.AnyRecord && p.LooseSegments > 0 && c.EndAnchored) {
    // c ended in a dated header: it dates p's first lines.
    Stamp t = 0;
    if (!Advance(c.EndAnchor, p.FirstTimeOfDay, t)) t = DayStart(c.EndAnchor) + p.FirstTimeOfDay;
    p.ShiftLoose(t - p.FirstTimeOfDay);
    for (std::size_t i = 0; i < p.LooseSegments; ++i) p.Segments[i].S.Dated = true;
    p.LooseBlocks = p.LooseSegments = p.LooseDamaged = 0;
    p.Dated = true;
  } else if (c.AnyRecord && p.AnyRecord && p.LooseSegments > 0) {
    Stamp t = 0, shift = 0;
    if (Advance(c.LastTime, p.FirstTimeOfDay, t)) {
      shift = t - p.FirstTimeOfDay;
    } else {
      shift = DayStart(c.LastTime);
      p.Segments.front().Joinable = false;
    }
    p.ShiftLoose(shift);
    for (std::size_t i = 0; i < p.LooseSegments; ++i) p.Segments[i].S.Dated = c.Dated;
  }
  const int segments = static_cast<int>(c.Segments.size());
  if (!p.AnyRecord && c.AnyRecord) {
    for (CaptureIndex::Damaged& d : p.Damaged) {
      d.Time = c.LastTime;
      d.Segment = -1;  // c's last segment once the segments are counted on below
    }
  }
  if (!c.AnyRecord && p.AnyRecord)
    for (CaptureIndex::Damaged& d : c.Damaged) d.Time = p.Segments.front().S.First;

  const std::size_t blockBase = c.Blocks.size();
  for (std::size_t i = 0; i < p.Blocks.size(); ++i) {
    c.Bytes.Copy(blockBase + i, p.Bytes, i);
    if ((i + 1) % ChunkBlocks == 0) p.Bytes.Release(i + 1);
    c.Blocks.push_back(p.Blocks[i]);
  }
  for (SegmentInfo& s : p.Segments) {
    s.FirstBlock += blockBase;
    s.EndBlock += blockBase;
    c.Segments.push_back(s);
  }
  const std::size_t damagedBase = c.Damaged.size();
  const std::size_t taken = std::min(p.Damaged.size(), CaptureIndex::DamagedListMax - damagedBase);
  for (std::size_t i = 0; i < taken; ++i) {
    p.Damaged[i].Segment += segments;
    c.Damaged.push_back(std::move(p.Damaged[i]));
  }

  c.Totals.Records += p.Totals.Records;
  c.Totals.Good += p.Totals.Good;
  for (int k = 0; k < Kinds; ++k) c.Totals.Errors[k] += p.Totals.Errors[k];
  c.Totals.Damaged += p.Totals.Damaged;
  c.Totals.Headers += p.Totals.Headers;
  c.Lines += p.Lines;
  c.End = p.End;
  if (!c.Dated) {
    c.LooseBlocks = blockBase + p.LooseBlocks;
    c.LooseSegments = static_cast<std::size_t>(segments) + p.LooseSegments;
    c.LooseDamaged = damagedBase + std::min(p.LooseDamaged, taken);
    c.Dated = p.Dated;
  }
  if (p.AnyRecord || p.EndAnchored) {
    c.EndAnchored = p.EndAnchored;
    c.EndAnchor = p.EndAnchor;
  }
  if (p.AnyRecord) {
    if (!c.AnyRecord) c.FirstTimeOfDay = p.FirstTimeOfDay;
    c.AnyRecord = true;
    c.LastTime = p.LastTime;
  }
}

int ValueOf(const CaptureIndex::Value& v, const std::uint8_t* data) {
  return v.Flag ? ((data[v.Byte] & v.Mask) ? 1 : 0) : static_cast<int>(data[v.Byte]);
}

// Keeps each column's minimum and maximum, in the order they came, and
// breaks the line where good frames are more than GapMs apart.
class Decimator {
public:
  explicit Decimator(std::vector<CaptureIndex::Point>& out) : Out(out) {}

  // Good frames from first to last whose values lie from lo to hi: one
  // frame, or a block's summary.
  void Add(Stamp first, Stamp last, int lo, int hi, long long column) {
    if (Any && first - LastTime > CaptureIndex::GapMs) {
      Flush();
      Break = true;
    }
    if (Open && column != Column) Flush();
    if (!Open) {
      Open = true;
      Column = column;
      MinT = first;
      MinY = lo;
      MaxT = last;
      MaxY = hi;
    } else {
      if (lo < MinY) {
        MinY = lo;
        MinT = first;
      }
      if (hi > MaxY) {
        MaxY = hi;
        MaxT = last;
      }
    }
    LastTime = std::max(LastTime, last);
    Any = true;
  }

  void Flush() {
    if (!Open) return;
    Open = false;
    if (MinT == MaxT && MinY == MaxY) {
      Put(MinT, MinY);
    } else if (MinT <= MaxT) {
      Put(MinT, MinY);
      Put(MaxT, MaxY);
    } else {
      Put(MaxT, MaxY);
      Put(MinT, MinY);
    }
  }

private:
  void Put(Stamp t, int y) {
    Out.push_back({t, y, Break});
    Break = false;
  }

  std::vector<CaptureIndex::Point>& Out;
  bool Any = false, Open = false, Break = false;
  Stamp LastTime = 0;
  long long Column = 0;
  Stamp MinT = 0, MaxT = 0;
  int MinY = 0, MaxY = 0;
};

}  // namespace

void CaptureIndex::Private::Finish(Part& c, const struct stat& st) {
  // A capture without a dated header ends at the file's last change; lines
  // before the first dated header end before it.
  if (c.LooseSegments > 0) {
    const Stamp last = c.Segments[c.LooseSegments - 1].S.Last;  // the line written last
    // (a header's time has whole seconds: a line of the same second may come before it)
    const Stamp reference = c.LooseSegments < c.Segments.size()
                                ? c.Segments[c.LooseSegments].S.First + 1000
                                : Naive(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(st.st_mtime)));
    c.ShiftLoose(FloorDiv(reference - last, DayMs) * DayMs);
  }
  for (CaptureIndex::Damaged& dm : c.Damaged)
    if (dm.Time == NoTime) dm.Time = 0;

  std::vector<int> joinedAs(c.Segments.size());
  for (std::size_t i = 0; i < c.Segments.size(); ++i) {
    const SegmentInfo& s = c.Segments[i];
    if (s.Joinable && !SegmentInfos.empty() && SegmentInfos.back().S.Last <= s.S.First) {
      SegmentInfo& j = SegmentInfos.back();
      j.S.Last = s.S.Last;
      j.S.LastLine = s.S.LastLine;
      j.S.Records += s.S.Records;
      j.EndBlock = s.EndBlock;
    } else {
      SegmentInfos.push_back(s);
    }
    joinedAs[i] = static_cast<int>(SegmentInfos.size()) - 1;
  }
  for (CaptureIndex::Damaged& dm : c.Damaged)
    dm.Segment =
        joinedAs.empty()
            ? 0
            : joinedAs[static_cast<std::size_t>(std::clamp<int>(dm.Segment, 0, static_cast<int>(joinedAs.size()) - 1))];

  Blocks = std::move(c.Blocks);
  Bytes = std::move(c.Bytes);
  DamagedList = std::move(c.Damaged);
  Totals = c.Totals;
  Totals.Lines = c.Lines;
  Totals.Bytes = Size;
  for (const SegmentInfo& s : SegmentInfos) {
    Segments.push_back(s.S);
    Totals.Span += s.S.Last - s.S.First;
  }
  FindGap();
}

// The longest time without a good frame inside a segment, and its lines.
void CaptureIndex::Private::FindGap() {
  std::size_t fromBlock = 0, toBlock = 0;
  for (const SegmentInfo& s : SegmentInfos) {
    const BlockInfo* previous = nullptr;
    std::size_t previousIndex = 0;
    for (std::size_t k = s.FirstBlock; k < s.EndBlock; ++k) {
      const BlockInfo& b = Blocks[k];
      if (b.Good == 0) continue;
      if (b.Gap > Totals.LongestGap) {
        Totals.LongestGap = b.Gap;
        Totals.GapFrom = b.GapFrom;
        fromBlock = toBlock = k;
      }
      if (previous && b.FirstGood - previous->LastGood > Totals.LongestGap) {
        Totals.LongestGap = b.FirstGood - previous->LastGood;
        Totals.GapFrom = previous->LastGood;
        fromBlock = previousIndex;
        toBlock = k;
      }
      previous = &b;
      previousIndex = k;
    }
  }
  if (Totals.LongestGap == 0) return;
  bool before = false;
  Stamp last = 0;
  long long lastLine = 0;
  ReadBlocks(fromBlock, toBlock + 1, false, [&](const Line& l, std::size_t) {
    if (l.Record.Status != 0) return true;
    if (before && last == Totals.GapFrom && l.Time - last == Totals.LongestGap) {
      Totals.GapFromLine = lastLine;
      Totals.GapToLine = l.Number;
      return false;
    }
    before = true;
    last = l.Time;
    lastLine = l.Number;
    return true;
  });
  Error.clear();
}

CaptureIndex::Result CaptureIndex::Build(const std::string& path, const Options& options) {
  d->Clear();
  d->Error.clear();
  d->Path = path;
  d->Size = 0;
  if (!d->Reader.Open(path)) {
    d->Error = d->Reader.Error();
    return Result::Failed;
  }
  struct stat st {};
  if (fstat(d->Reader.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) {
    d->Error = "cannot read " + path + ": not a regular file";
    d->Reader.Close();
    return Result::Failed;
  }
  d->Size = st.st_size;
  long long scale = 1;
  while (scale * (1LL << 30) < d->Size) scale *= 2;
  d->BlockLines = options.BlockLines > 0 ? options.BlockLines : static_cast<int>(16 * std::min(scale, 256LL));

  int parts = options.Parts;
  if (parts <= 0) {
    parts = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
    if (d->Size < 8LL << 20) parts = 1;
  }
  std::vector<Part> stretches(static_cast<std::size_t>(parts));
  for (int i = 0; i < parts; ++i) {
    Part& p = stretches[static_cast<std::size_t>(i)];
    p.Begin = i == 0 ? 0 : stretches[static_cast<std::size_t>(i) - 1].End;
    p.End = i + 1 == parts
                ? d->Size
                : std::max(p.Begin, LineStartFrom(d->Reader.Descriptor(), d->Size * (i + 1) / parts, d->Size));
  }

  const auto index = [&](Part& p) {
    CaptureReader reader;
    if (!reader.Open(path) || !reader.Seek(p.Begin, 1)) {
      p.Error = reader.Error().empty() ? "cannot read " + path : reader.Error();
      return;
    }
    reader.SetEnd(p.End);
    PartIndexer indexer(p, d->BlockLines);
    long long reported = p.Begin;
    int count = 0;
    while (reader.Next()) {
      indexer.Line(reader);
      if (++count < 4096) continue;
      count = 0;
      if (options.Cancel && options.Cancel->load(std::memory_order_relaxed)) return;
      if (options.BytesDone) {
        options.BytesDone->fetch_add(reader.Offset() - reported, std::memory_order_relaxed);
        reported = reader.Offset();
      }
    }
    if (!reader.Error().empty()) p.Error = reader.Error();
    indexer.Finish();
    p.Lines = reader.LineNumber();
    if (options.BytesDone) options.BytesDone->fetch_add(p.End - reported, std::memory_order_relaxed);
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < stretches.size(); ++i) threads.emplace_back(index, std::ref(stretches[i]));
  index(stretches[0]);
  for (std::thread& t : threads) t.join();

  if (options.Cancel && options.Cancel->load()) {
    d->Reader.Close();
    return Result::Cancelled;
  }
  for (const Part& p : stretches) {
    if (p.Error.empty()) continue;
    d->Error = p.Error;
    d->Reader.Close();
    return Result::Failed;
  }
  Part& all = stretches[0];
  for (std::size_t i = 1; i < stretches.size(); ++i) {
    Append(all, stretches[i]);
    stretches[i] = Part();
  }
  d->Finish(all, st);
  return Result::Built;
}

std::string CaptureIndex::Error() const { return d->Error; }
long long CaptureIndex::Size() const { return d->Size; }
int CaptureIndex::BlockLines() const { return d->BlockLines; }
const CaptureIndex::Summary& CaptureIndex::Totals() const { return d->Totals; }
const std::vector<CaptureIndex::Segment>& CaptureIndex::Segments() const { return d->Segments; }
const std::vector<CaptureIndex::Damaged>& CaptureIndex::DamagedLines() const { return d->DamagedList; }

bool CaptureIndex::Points(const Value& value, int segment, Stamp from, Stamp to, int columns,
                          std::vector<Point>& out) const {
  out.clear();
  d->Error.clear();
  if (segment < 0 || segment >= static_cast<int>(d->SegmentInfos.size())) return true;
  if (value.Byte < 0 || value.Byte >= ValueBytes) return true;
  if (to < from) std::swap(from, to);
  columns = std::max(columns, 1);
  const double width = static_cast<double>(std::max<Stamp>(to - from, 1)) / columns;
  const auto column = [&](Stamp t) {
    return static_cast<long long>(std::floor(static_cast<double>(t - from) / width));
  };
  const SegmentInfo& s = d->SegmentInfos[static_cast<std::size_t>(segment)];
  std::size_t b0 = 0, b1 = 0;
  d->Overlapping(segment, from, to, b0, b1);
  // The blocks of the good frames with the value just before and after the range.
  std::size_t lo = b0, hi = b1;
  int ylo = 0, yhi = 0;
  for (std::size_t k = b0; k > s.FirstBlock;)
    if (d->Bytes.Range(--k, value, ylo, yhi)) {
      lo = k;
      break;
    }
  for (std::size_t k = b1; k < s.EndBlock; ++k)
    if (d->Bytes.Range(k, value, ylo, yhi)) {
      hi = k + 1;
      break;
    }
  long long good = 0;
  for (std::size_t k = b0; k < b1; ++k) good += d->Blocks[k].Good;

  // Good frames one by one: of those before the range only the last goes
  // out, of those after it only the first.
  bool pending = false, done = false;
  Point before;
  const auto frames = [&](std::size_t k0, std::size_t k1, const auto& put) {
    return d->CachedBlocks(k0, k1, [&](const Line& l, std::size_t) {
      if (l.Record.Status != 0 || l.Record.Length <= value.Byte) return true;
      const Point p{l.Time, ValueOf(value, l.Record.Data), false};
      if (p.Time < from) {
        before = p;
        pending = true;
        return true;
      }
      if (pending) put(before);
      pending = false;
      put(p);
      done = p.Time > to;
      return !done;
    });
  };

  if (good <= static_cast<long long>(d->BlockLines) * columns) {
    std::vector<Point> points;
    if (!frames(lo, hi, [&](const Point& p) { points.push_back(p); })) return false;
    if (pending) points.push_back(before);
    const long long inside =
        std::count_if(points.begin(), points.end(), [&](const Point& p) { return p.Time >= from && p.Time <= to; });
    const bool every = inside <= 2LL * columns;
    Decimator decimator(out);
    for (std::size_t i = 0; i < points.size(); ++i)
      decimator.Add(points[i].Time, points[i].Time, points[i].Y, points[i].Y,
                    every ? static_cast<long long>(i) : column(points[i].Time));
    decimator.Flush();
    return true;
  }

  // Whole blocks inside the range and no wider than a column count by their
  // summaries; the others are read line by line.
  Decimator decimator(out);
  const auto put = [&](const Point& p) { decimator.Add(p.Time, p.Time, p.Y, p.Y, column(p.Time)); };
  for (std::size_t k = lo; k < hi && !done; ++k) {
    const BlockInfo& b = d->Blocks[k];
    if (b.Good == 0) continue;
    if (!d->Bytes.Range(k, value, ylo, yhi)) continue;
    if (b.First >= from && b.Last <= to && static_cast<double>(b.Last - b.First) <= width) {
      if (pending) put(before);
      pending = false;
      decimator.Add(b.FirstGood, b.LastGood, ylo, yhi, column(b.FirstGood));
    } else if (!frames(k, k + 1, put)) {
      return false;
    }
  }
  if (pending) put(before);
  decimator.Flush();
  return true;
}

bool CaptureIndex::Events(int segment, Stamp from, Stamp to, int columns, std::vector<Event>& out) const {
  out.clear();
  d->Error.clear();
  if (segment < 0 || segment >= static_cast<int>(d->SegmentInfos.size())) return true;
  if (to < from) std::swap(from, to);
  columns = std::max(columns, 1);
  const double width = static_cast<double>(std::max<Stamp>(to - from, 1)) / columns;
  std::size_t b0 = 0, b1 = 0;
  d->Overlapping(segment, from, to, b0, b1);
  long long records = 0;
  for (std::size_t k = b0; k < b1; ++k) records += d->Blocks[k].Records;
  const bool exact = records <= static_cast<long long>(d->BlockLines) * columns;

  long long lastColumn[Kinds];
  std::fill(std::begin(lastColumn), std::end(lastColumn), std::numeric_limits<long long>::min());
  const auto put = [&](Stamp t, int status, long long line) {
    const int k = KindOf(status);
    const long long c = static_cast<long long>(std::floor(static_cast<double>(t - from) / width));
    if (lastColumn[k] == c) return;
    lastColumn[k] = c;
    out.push_back({t, status, line});
  };
  for (std::size_t k = b0; k < b1; ++k) {
    const BlockInfo& b = d->Blocks[k];
    if (!b.Errors) continue;
    if (!exact && b.First >= from && b.Last <= to && static_cast<double>(b.Last - b.First) <= width) {
      Event first[Kinds];
      int n = 0;
      for (int kind = 0; kind < Kinds; ++kind)
        if (b.Errors & (1 << kind))
          first[n++] = {b.ErrorTime[kind], kind == Kinds - 1 ? b.OtherStatus : kind + 1, b.ErrorLine[kind]};
      for (int i = 1; i < n; ++i)  // in line order
        for (int j = i; j > 0 && first[j].Line < first[j - 1].Line; --j) std::swap(first[j], first[j - 1]);
      for (int i = 0; i < n; ++i) put(first[i].Time, first[i].Status, first[i].Line);
      continue;
    }
    const bool read = d->ReadBlocks(k, k + 1, false, [&](const Line& l, std::size_t) {
      if (l.Record.Status != 0 && l.Time >= from && l.Time <= to) put(l.Time, l.Record.Status, l.Number);
      return l.Time <= to;
    });
    if (!read) return false;
  }
  return true;
}

bool CaptureIndex::Nearest(int segment, Stamp time, Line& out) const {
  d->Error.clear();
  if (segment < 0 || segment >= static_cast<int>(d->SegmentInfos.size())) return false;
  const SegmentInfo& s = d->SegmentInfos[static_cast<std::size_t>(segment)];
  if (s.FirstBlock == s.EndBlock) return false;
  std::size_t b0 = 0, b1 = 0;
  d->Overlapping(segment, time, time, b0, b1);
  // The nearest line is the first at or after the time or the one before it.
  const std::size_t k0 = b0 > s.FirstBlock ? b0 - 1 : b0;
  const std::size_t k1 = std::min(b0 + 1, s.EndBlock);
  bool found = false;
  Stamp best = 0;
  const bool read = d->ReadBlocks(k0, k1, true, [&](const Line& l, std::size_t) {
    const Stamp distance = l.Time > time ? l.Time - time : time - l.Time;
    if (!found || distance < best) {
      out = l;
      best = distance;
      found = true;
    }
    return l.Time <= time;
  });
  return read && found;
}

bool CaptureIndex::First(Line& out) const {
  d->Error.clear();
  if (d->Blocks.empty()) return false;
  bool found = false;
  const bool read = d->ReadBlocks(0, 1, true, [&](const Line& l, std::size_t) {
    out = l;
    found = true;
    return false;
  });
  return read && found;
}

bool CaptureIndex::Step(const Line& from, bool forward, bool errorsOnly, Line& out) const {
  d->Error.clear();
  const long long number = from.Number;  // out may be from
  const auto& blocks = d->Blocks;
  const auto after = std::upper_bound(blocks.begin(), blocks.end(), number,
                                      [](long long n, const BlockInfo& b) { return n < b.FirstLine; });
  // The block that holds the line, or the one before where it would be.
  const std::size_t at = static_cast<std::size_t>(after - blocks.begin());
  const auto wanted = [&](const Line& l) { return !errorsOnly || l.Record.Status != 0; };
  bool found = false;
  if (forward) {
    for (std::size_t k = at > 0 ? at - 1 : 0; k < blocks.size() && !found; ++k) {
      if (errorsOnly && !blocks[k].Errors) continue;
      const bool read = d->ReadBlocks(k, k + 1, true, [&](const Line& l, std::size_t) {
        if (l.Number <= number || !wanted(l)) return true;
        out = l;
        found = true;
        return false;
      });
      if (!read) return false;
    }
    return found;
  }
  for (std::size_t k = at; k-- > 0 && !found;) {
    if (errorsOnly && !blocks[k].Errors) continue;
    const bool read = d->ReadBlocks(k, k + 1, true, [&](const Line& l, std::size_t) {
      if (l.Number >= number) return false;
      if (wanted(l)) {
        out = l;
        found = true;
      }
      return true;
    });
    if (!read) return false;
  }
  return found;
}

bool CaptureIndex::Read(int segment, Stamp from, Stamp to, bool withText, bool (*each)(void*, const Line&),
                        void* context) const {
  d->Error.clear();
  if (segment < 0 || segment >= static_cast<int>(d->SegmentInfos.size())) return true;
  std::size_t b0 = 0, b1 = 0;
  d->Overlapping(segment, from, to, b0, b1);
  return d->ReadBlocks(b0, b1, withText, [&](const Line& l, std::size_t) {
    if (l.Time < from) return true;
    return l.Time <= to && each(context, l);
  });
}
