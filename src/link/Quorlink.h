#pragma once
// TQUORLINK is the Quorlink link: a serial port with one data record, the frame
// format (0x2F, data bytes, checksum), the transmitter, the byte-wise receiver
// with its status codes, the frame counters and the stored data length.
//
// The worker thread calls Transmit or Receive; the GUI thread calls SetRecord,
// GetRecord, the configuration and the port operations. Every copy of the
// record, in or out, is of one whole record.

#include "link/RxByteRing.h"
#include "serial/ComPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

// The settings key every load and save of the given mode works under:
// "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\" for mode 0, the
// "Source Mode" key for any other value.
const char* SettingsBasePath(int mode);

class TQUORLINK : public TComPort {
public:
  static constexpr std::uint8_t StartByte = 0x2F;

  TQUORLINK();

  int SendFrame(const std::uint8_t* data, std::uint8_t length);
  int SetRecord(const std::uint8_t* data, std::uint32_t length);
  int Transmit();
  int Receive(int& status);
  // Copies DataLength bytes of the record (at most capacity) as one whole
  // record; when length is given it receives the DataLength of that copy.
  int GetRecord(std::uint8_t* dest, unsigned capacity = 256, std::uint8_t* length = nullptr);
  int LoadConfiguration(const char* basePath);
  int SaveConfiguration(const char* basePath);

  // The receiver's step for one byte, exactly what Receive does with each byte
  // it reads. RxEvent: a frame ended bad (status 1) or too long (status 3);
  // RxGoodFrame: a good frame was stored (status 0) and the caller stops.
  enum TRxEvent { RxNone, RxEvent, RxGoodFrame };
  TRxEvent ReceiveByte(std::uint8_t byte, int& status);
  // Receive's loop over any byte source: next(byte) returns false when no byte
  // is waiting. Stops after one good frame; returns 1 when an event occurred.
  // Receive runs it on the port; replay tools and the fuzzer on memory.
  template <class NextByte>
  int ReceiveFrom(NextByte&& next, int& status);
  // Frame bytes collected so far (0 while waiting for a start byte). Only
  // meaningful in the thread that feeds the receiver.
  std::uint8_t GetRxCount() const { return RxCount; }

  std::atomic<std::uint8_t> DataLength{24};
  std::atomic<std::int32_t> Mode{0};
  std::atomic<std::int32_t> RxStatus{0};
  std::atomic<std::uint32_t> GoodFrameCount{0};
  std::atomic<std::uint32_t> SentFrameCount{0};
  // The receiver's events as they happen. One call of Receive may meet several
  // (a checksum error, then the start of the next frame), while RxStatus
  // tells only where the receiver was left.
  std::atomic<std::uint32_t> ChecksumErrorCount{0};
  std::atomic<std::uint32_t> LengthErrorCount{0};
  std::atomic<std::uint32_t> FrameStartCount{0};
  // When the last good frame was read (steady clock, nanoseconds); 0 before the first.
  std::atomic<std::int64_t> LastGoodFrameTime{0};
  // The last bytes the receiver read, while switched on (ByteRing.SetEnabled).
  TRxByteRing ByteRing;

private:
  std::mutex RecordLock;  // guards DataRecord
  std::uint8_t DataRecord[256] = {};
  std::uint8_t RxBuffer[256] = {};
  std::uint8_t RxCount = 0;        // worker thread only
  std::uint32_t RxConnection = 0;  // the port's connection RxBuffer belongs to; worker only

  int WriteFrame(std::uint8_t* frame, std::uint8_t length);
};

template <class NextByte>
int TQUORLINK::ReceiveFrom(NextByte&& next, int& status) {
  if (Mode.load(std::memory_order_relaxed) != 0) return 0;
  TRxByteRing* const ring = ByteRing.Enabled() ? &ByteRing : nullptr;
  std::int64_t readAt = 0;  // one clock reading for all the bytes of a call
  int result = 0;
  std::uint8_t byte = 0;
  while (next(byte)) {
    if (readAt == 0) readAt = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    const bool idle = RxCount == 0;
    const TRxEvent event = ReceiveByte(byte, status);
    if (ring) {
      TRxByteRing::TMark mark = TRxByteRing::Data;
      if (idle)
        mark = RxCount != 0 ? TRxByteRing::FrameStart : TRxByteRing::Stray;
      else if (event == RxGoodFrame)
        mark = TRxByteRing::GoodEnd;
      else if (event == RxEvent)
        mark = status == 1 ? TRxByteRing::ChecksumEnd : TRxByteRing::LengthEnd;
      ring->Push(byte, mark, readAt / 1000);
    }
    switch (event) {
    case RxGoodFrame: LastGoodFrameTime.store(readAt, std::memory_order_relaxed); return 1;
    case RxEvent: result = 1; break;
    case RxNone: break;
    }
  }
  return result;
}
