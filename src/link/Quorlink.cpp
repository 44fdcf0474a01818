#include "link/Quorlink.h"

#include "serial/Registry.h"

#include <cstring>
#include <string>

namespace {
constexpr auto Relaxed = std::memory_order_relaxed;
constexpr const char* ConfigurationKey = "Quorlink Configuration";
constexpr const char* DataLengthValue = "Quorlink_DataLength";
constexpr std::uint8_t DefaultStoredDataLength = 36;
}  // namespace

const char* SettingsBasePath(int mode) {
  return mode == 0 ? "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\"
                   : "\\Software\\Parvelco\\Quorlink Simulator\\Source Mode\\";
}

TQUORLINK::TQUORLINK() = default;

// frame holds 0x2F and length data bytes; appends the checksum and writes it.
int TQUORLINK::WriteFrame(std::uint8_t* frame, std::uint8_t length) {
  std::uint8_t sum = 0;
  for (unsigned i = 0; i <= length; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
  frame[length + 1] = static_cast<std::uint8_t>(0u - sum);
  return Write(frame, length + 2);
}

int TQUORLINK::SendFrame(const std::uint8_t* data, std::uint8_t length) {
  std::uint8_t frame[300];
  frame[0] = StartByte;
  std::memcpy(frame + 1, data, length);
  return WriteFrame(frame, length);
}

int TQUORLINK::SetRecord(const std::uint8_t* data, std::uint32_t length) {
  if (length > 255) return 0;
  std::lock_guard<std::mutex> lock(RecordLock);
  DataLength.store(static_cast<std::uint8_t>(length), Relaxed);
  std::memcpy(DataRecord, data, length);
  return 1;
}

int TQUORLINK::Transmit() {
  if (Mode.load(Relaxed) != 1) return 1;
  // Copy under the lock, frame and write outside it: a slow write never holds
  // up the GUI thread's SetRecord.
  std::uint8_t frame[300];
  std::uint8_t length;
  {
    std::lock_guard<std::mutex> lock(RecordLock);
    length = DataLength.load(Relaxed);
    std::memcpy(frame + 1, DataRecord, length);
  }
  frame[0] = StartByte;
  const int result = WriteFrame(frame, length);
  SentFrameCount.fetch_add(1, Relaxed);
  return result;
}

int TQUORLINK::GetRecord(std::uint8_t* dest, unsigned capacity, std::uint8_t* length) {
  std::lock_guard<std::mutex> lock(RecordLock);
  const std::uint8_t n = DataLength.load(Relaxed);
  std::memcpy(dest, DataRecord, n < capacity ? n : capacity);
  if (length) *length = n;
  return 1;
}

TQUORLINK::TRxEvent TQUORLINK::ReceiveByte(std::uint8_t byte, int& status) {
  if (RxCount == 0) {
    if (byte == StartByte) {
      RxBuffer[0] = byte;
      RxCount = 1;
      FrameStartCount.fetch_add(1, Relaxed);
      RxStatus.store(2, Relaxed);
      status = 2;
    }
    return RxNone;
  }

  RxBuffer[RxCount] = byte;
  ++RxCount;  // wraps to 0 after 256 bytes: the receiver is idle again
  const unsigned count = RxCount;
  const unsigned length = DataLength.load(Relaxed);
  if (count == length + 2) {
    std::uint8_t sum = 0;
    for (unsigned i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + RxBuffer[i]);
    RxCount = 0;
    if (sum == 0) {
      {
        std::lock_guard<std::mutex> lock(RecordLock);
        std::memcpy(DataRecord, RxBuffer + 1, count - 2);
      }
      GoodFrameCount.fetch_add(1, Relaxed);
      RxStatus.store(0, Relaxed);
      status = 0;
      return RxGoodFrame;
    }
    ChecksumErrorCount.fetch_add(1, Relaxed);
    RxStatus.store(1, Relaxed);
    status = 1;
    return RxEvent;
  }
  // A frame completes at length + 2 bytes, so the count only gets past that
  // when DataLength was lowered below what was already collected: that frame
  // can never complete. The two bytes of slack before the length error are
  // part of the link's receive rule; capture files and their replays rely on
  // a byte stream always giving the same sequence of receive events.
  if (count > length + 4) {
    RxCount = 0;
    LengthErrorCount.fetch_add(1, Relaxed);
    RxStatus.store(3, Relaxed);
    status = 3;
    return RxEvent;
  }
  RxStatus.store(0, Relaxed);
  status = 0;
  return RxNone;
}

int TQUORLINK::Receive(int& status) {
  // Bytes of a frame begun before the device was lost or reopened never
  // complete it: the receiver starts afresh with the new connection.
  const std::uint32_t connection = Connection();
  if (connection != RxConnection) {
    RxConnection = connection;
    RxCount = 0;
  }
  return ReceiveFrom([this](std::uint8_t& byte) { return ReadByte(&byte) != 0; }, status);
}

int TQUORLINK::LoadConfiguration(const char* basePath) {
  {
    std::unique_ptr<TRegistry> registry = CreateRegistry();
    if (!registry->OpenKey(std::string(basePath) + ConfigurationKey, false)) return 0;
    if (registry->ValueExists(DataLengthValue))
      DataLength.store(static_cast<std::uint8_t>(registry->ReadInteger(DataLengthValue) & 0xFF), Relaxed);
    else
      DataLength.store(DefaultStoredDataLength, Relaxed);
    registry->CloseKey();
  }
  return LoadSettings(basePath);
}

int TQUORLINK::SaveConfiguration(const char* basePath) {
  {
    std::unique_ptr<TRegistry> registry = CreateRegistry();
    if (!registry->OpenKey(std::string(basePath) + ConfigurationKey, true)) return 0;
    registry->WriteInteger(DataLengthValue, static_cast<std::int32_t>(DataLength.load(Relaxed)));
    registry->CloseKey();
  }
  return SaveSettings(basePath);
}
