#include "link/RxByteRing.h"

#include <algorithm>

std::size_t TRxByteRing::Copy(std::uint64_t from, TEntry* out, std::size_t max) const {
  const std::uint64_t end = Written.load(std::memory_order_acquire);
  const std::uint64_t oldest = end > Capacity ? end - Capacity : 0;
  const std::uint64_t first = std::max(from, oldest);
  if (first >= end || max == 0) return 0;
  const std::uint64_t last = std::min<std::uint64_t>(end, first + max);
  std::size_t n = 0;
  for (std::uint64_t i = first; i < last; ++i, ++n) {
    const std::uint64_t word = Slots[i & (Capacity - 1)].load(std::memory_order_relaxed);
    out[n].Index = i;
    out[n].TimeUs = static_cast<std::int64_t>(word >> 16);
    out[n].Mark = static_cast<TMark>((word >> 8) & 0xFF);
    out[n].Byte = static_cast<std::uint8_t>(word & 0xFF);
  }
  // Slots the writer took while we copied may hold newer bytes than their
  // index says: drop those from the front.
  std::atomic_thread_fence(std::memory_order_acquire);
  const std::uint64_t taken = Taken.load(std::memory_order_relaxed);
  const std::uint64_t valid = taken > Capacity ? taken - Capacity : 0;
  if (valid <= first) return n;
  const std::size_t lost = static_cast<std::size_t>(std::min<std::uint64_t>(valid - first, n));
  std::copy(out + lost, out + n, out);
  return n - lost;
}

void ClassifyFrames(const TRxByteRing::TEntry* entries, std::size_t count, TRxFrameKind* kinds) {
  // From the newest byte back: an end says what its frame was, a start that
  // the frame begins there, and before a start the receiver was waiting.
  TRxFrameKind kind = TRxFrameKind::Collecting;
  for (std::size_t i = count; i-- > 0;) {
    switch (entries[i].Mark) {
    case TRxByteRing::Stray: kind = TRxFrameKind::Stray; break;
    case TRxByteRing::GoodEnd: kind = TRxFrameKind::Good; break;
    case TRxByteRing::ChecksumEnd: kind = TRxFrameKind::ChecksumError; break;
    case TRxByteRing::LengthEnd: kind = TRxFrameKind::LengthError; break;
    case TRxByteRing::Data:
    case TRxByteRing::FrameStart: break;
    }
    kinds[i] = kind;
    if (entries[i].Mark == TRxByteRing::FrameStart) kind = TRxFrameKind::Stray;
  }
}

std::size_t FormatRxBytes(const TRxByteRing::TEntry* entries, std::size_t count, char* out, std::size_t capacity) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool start = entries[i].Mark == TRxByteRing::FrameStart;
    const std::size_t need = (i > 0 || start ? 1 : 0) + 2;
    if (n + need > capacity) break;
    if (start)
      out[n++] = '|';
    else if (i > 0)
      out[n++] = ' ';
    out[n++] = Digits[entries[i].Byte >> 4];
    out[n++] = Digits[entries[i].Byte & 0x0F];
  }
  return n;
}
