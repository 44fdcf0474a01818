#include "simulator/trend/TrendBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

TrendBuffer::TrendBuffer(std::function<qint64()> clock, std::size_t capacity)
    : Clock(std::move(clock)), Samples(std::max<std::size_t>(capacity, 1)) {}

void TrendBuffer::Add(qint64 time, int status, int length, const std::uint8_t* data) {
  Sample& s = Samples[Head];
  s.Time = Count > 0 ? std::max(time, At(Count - 1).Time) : time;
  s.Status = status;
  s.Length = length;
  if (data && length > 0)
    std::memcpy(s.Data, data, static_cast<std::size_t>(std::min(length, TruckDataMap::RecordSize)));
  Head = (Head + 1) % Samples.size();
  Count = std::min(Count + 1, Samples.size());
  ++Total;
}

// The pixel column of a time: 0 to columns - 1 from `from` to `to`, both
// ends included; -1 before, columns after.
qint64 TrendBuffer::Column(qint64 t, qint64 from, qint64 to, int columns) {
  if (t < from) return -1;
  if (t > to) return columns;
  const double c = static_cast<double>(t - from) * columns / static_cast<double>(std::max<qint64>(to - from, 1));
  return std::min<qint64>(static_cast<qint64>(c), columns - 1);
}

std::size_t TrendBuffer::Find(qint64 t, bool after) const {
  std::size_t lo = 0, hi = Count;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (after ? At(mid).Time <= t : At(mid).Time < t)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

bool TrendBuffer::Extent(qint64& first, qint64& last) const {
  const qint64 now = Clock();
  first = Count > 0 ? At(0).Time : now;
  last = Count > 0 ? std::max(now, At(Count - 1).Time) : now;
  return true;
}

void TrendBuffer::Points(int value, qint64 from, qint64 to, int columns, QList<QPointF>& out) const {
  if (Count == 0 || value < 0 || value >= static_cast<int>(ChartValues::All().size())) return;
  const ChartValues::Value& v = ChartValues::All()[static_cast<std::size_t>(value)];
  // Only good records carry values; the last before the range and the first
  // after it let the line reach the edges.
  std::size_t begin = Find(from, false);
  while (begin > 0) {
    --begin;
    if (At(begin).Status == 0) break;
  }
  std::size_t end = Find(to, true);
  while (end < Count && At(end).Status != 0) ++end;
  end = std::min(end + 1, Count);

  std::size_t good = 0;
  for (std::size_t i = begin; i < end; ++i) good += At(i).Status == 0 && At(i).Length > v.Byte;
  // Few enough points: every one. Otherwise each pixel column keeps its
  // minimum and its maximum, in the order they came.
  const bool thin = good > 2 * static_cast<std::size_t>(std::max(columns, 1));
  const double nan = std::numeric_limits<double>::quiet_NaN();

  bool open = false;
  qint64 column = 0;
  qint64 minT = 0, maxT = 0;
  int minY = 0, maxY = 0;
  const auto flush = [&] {
    if (!open) return;
    if (minY == maxY) {
      out.append(QPointF(static_cast<double>(minT), minY));
    } else if (minT <= maxT) {
      out.append(QPointF(static_cast<double>(minT), minY));
      out.append(QPointF(static_cast<double>(maxT), maxY));
    } else {
      out.append(QPointF(static_cast<double>(maxT), maxY));
      out.append(QPointF(static_cast<double>(minT), minY));
    }
    open = false;
  };
  bool havePrevious = false;
  qint64 previous = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const Sample& s = At(i);
    if (s.Status != 0 || s.Length <= v.Byte) continue;
    if (havePrevious && s.Time - previous > GapMs) {
      flush();
      out.append(QPointF(static_cast<double>(previous), nan));
    }
    havePrevious = true;
    previous = s.Time;
    const int y = v.Of(s.Data);
    if (!thin) {
      out.append(QPointF(static_cast<double>(s.Time), y));
      continue;
    }
    const qint64 c = Column(s.Time, from, to, columns);
    if (open && c != column) flush();
    if (!open) {
      open = true;
      column = c;
      minT = maxT = s.Time;
      minY = maxY = y;
    } else if (y < minY) {
      minY = y;
      minT = s.Time;
    } else if (y > maxY) {
      maxY = y;
      maxT = s.Time;
    }
  }
  flush();
}

void TrendBuffer::Events(qint64 from, qint64 to, int columns, QList<ChartEvent>& out) const {
  std::vector<std::pair<int, qint64>> lastColumn;  // kind, column of its last event
  for (std::size_t i = Find(from, false), end = Find(to, true); i < end; ++i) {
    const Sample& s = At(i);
    if (s.Status == 0) continue;
    const qint64 c = Column(s.Time, from, to, columns);
    auto it = std::find_if(lastColumn.begin(), lastColumn.end(), [&s](const auto& k) { return k.first == s.Status; });
    if (it != lastColumn.end() && it->second == c) continue;
    if (it == lastColumn.end())
      lastColumn.emplace_back(s.Status, c);
    else
      it->second = c;
    out.append(ChartEvent{s.Time, s.Status, 0});
  }
}

bool TrendBuffer::Records(qint64 from, qint64 to, const std::function<bool(const ChartValues::Record&)>& each,
                          QString&) const {
  for (std::size_t i = Find(from, false), end = Find(to, true); i < end; ++i) {
    const Sample& s = At(i);
    if (s.Status == ChartValues::PortLost) continue;  // no line of quorlink decode's
    ChartValues::Record r;
    r.Time = s.Time;
    r.Status = s.Status;
    r.Length = s.Length;
    r.Data = s.Data;
    if (!each(r)) break;
  }
  return true;
}
