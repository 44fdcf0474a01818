#pragma once
// The records of a live trend: a ring of the latest records with their times,
// allocated once, so that adding one is a copy and memory stays flat however
// long the trend runs. It is the trend chart's ChartSource.

#include "simulator/TruckDataMap.h"
#include "simulator/chart/ValueChart.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class TrendBuffer : public ChartSource {
public:
  // Over ten minutes of a link's most frequent events (one per 10 ms pass).
  static constexpr std::size_t DefaultCapacity = 65536;
  // Good records further apart than this are not joined by a line.
  static constexpr qint64 GapMs = 5000;

  // clock gives the time now (ms since the epoch); the live view ends there.
  explicit TrendBuffer(std::function<qint64()> clock, std::size_t capacity = DefaultCapacity);

  // Keeps a record; the oldest goes when the ring is full. Times must not
  // go backwards. Bytes past TruckDataMap::RecordSize are not kept. A status
  // other than 0 is an event (ChartValues::EventName); data may then be null.
  void Add(qint64 time, int status, int length, const std::uint8_t* data);
  std::size_t Size() const { return Count; }
  std::size_t Capacity() const { return Samples.size(); }
  // How many records were ever added; tells the window when to redraw.
  std::uint64_t Added() const { return Total; }

  bool Extent(qint64& first, qint64& last) const override;
  void Points(int value, qint64 from, qint64 to, int columns, QList<QPointF>& out) const override;
  void Events(qint64 from, qint64 to, int columns, QList<ChartEvent>& out) const override;
  bool Records(qint64 from, qint64 to, const std::function<bool(const ChartValues::Record&)>& each,
               QString& error) const override;

private:
  struct Sample {
    qint64 Time = 0;
    int Status = 0;
    int Length = 0;
    std::uint8_t Data[TruckDataMap::RecordSize] = {};
  };
  // Logical index 0 is the oldest record.
  const Sample& At(std::size_t i) const { return Samples[(Head + Samples.size() - Count + i) % Samples.size()]; }
  // The first logical index whose time is not before t (after, with `after`).
  std::size_t Find(qint64 t, bool after) const;
  static qint64 Column(qint64 t, qint64 from, qint64 to, int columns);

  std::function<qint64()> Clock;
  std::vector<Sample> Samples;
  std::size_t Head = 0;  // where the next record goes
  std::size_t Count = 0;
  std::uint64_t Total = 0;
};
