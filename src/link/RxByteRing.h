#pragma once
// TRxByteRing keeps the last bytes the receiver read, each with the time it was
// read and what the receiver made of it, so that a person can look at the bytes
// behind a bad frame. The worker thread writes it without locking or
// allocating; any other thread copies whole entries out without stopping it.

#include <atomic>
#include <cstddef>
#include <cstdint>

class TRxByteRing {
public:
  static constexpr unsigned Capacity = 8192;  // a power of two

  // What the receiver did with a byte.
  enum TMark : std::uint8_t {
    Data,         // stored in the frame being collected
    Stray,        // dropped while waiting for a start byte
    FrameStart,   // the start byte of a frame
    GoodEnd,      // the last byte of a good frame
    ChecksumEnd,  // the last byte of a frame whose sum is not 0
    LengthEnd,    // the byte that made the frame too long
  };

  struct TEntry {
    std::uint64_t Index = 0;  // bytes read before this one since the ring was made
    std::int64_t TimeUs = 0;  // when it was read, steady clock, microseconds
    std::uint8_t Byte = 0;
    TMark Mark = Data;
  };

  // Whether the receiver fills the ring; off until switched on.
  void SetEnabled(bool enabled) { On.store(enabled, std::memory_order_relaxed); }
  bool Enabled() const { return On.load(std::memory_order_relaxed); }

  // The one writer's call, for every byte the receiver reads.
  void Push(std::uint8_t byte, TMark mark, std::int64_t timeUs) {
    const std::uint64_t index = Written.load(std::memory_order_relaxed);
    // Readers that may see the slot's new value also see that it is taken.
    Taken.store(index + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Slots[index & (Capacity - 1)].store(Pack(byte, mark, timeUs), std::memory_order_relaxed);
    Written.store(index + 1, std::memory_order_release);
  }

  // Bytes pushed so far; the next byte gets this index.
  std::uint64_t Count() const { return Written.load(std::memory_order_acquire); }

  // Copies the entries with an index of at least from that the ring still
  // holds, oldest first, at most max of them; returns how many. An entry that
  // the writer overwrote during the copy is left out, never torn.
  std::size_t Copy(std::uint64_t from, TEntry* out, std::size_t max) const;

private:
  static std::uint64_t Pack(std::uint8_t byte, TMark mark, std::int64_t timeUs) {
    return static_cast<std::uint64_t>(timeUs) << 16 | static_cast<std::uint64_t>(mark) << 8 | byte;
  }

  std::atomic<bool> On{false};
  std::atomic<std::uint64_t> Written{0};  // entries complete
  std::atomic<std::uint64_t> Taken{0};    // slots being written or complete
  std::atomic<std::uint64_t> Slots[Capacity] = {};
};

// Which frame each byte of a run of consecutive entries belongs to, as far as
// the run shows it: a frame's bytes take the kind of its end, bytes after the
// last end belong to the frame still being collected.
enum class TRxFrameKind : std::uint8_t { Stray, Good, ChecksumError, LengthError, Collecting };
void ClassifyFrames(const TRxByteRing::TEntry* entries, std::size_t count, TRxFrameKind* kinds);

// The entries' bytes in hex for a line of text, "55 |2F 00 12": a space
// between bytes, a bar in its place before a frame start. Writes at most
// capacity characters (three per byte always do) and returns how many.
std::size_t FormatRxBytes(const TRxByteRing::TEntry* entries, std::size_t count, char* out, std::size_t capacity);
