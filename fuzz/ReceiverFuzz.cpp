// Feeds arbitrary bytes through the link's receiver, exactly the loop and the
// byte step that Receive runs on the port, and checks after every byte what
// the frame format promises.
//
// Input: the first byte is the starting DataLength. Then commands:
//   0xF8..0xFF, L  DataLength = L (also in the middle of a frame)
//   0xF7           one call in source mode: must read nothing
//   c < 0xF7       the next c + 1 bytes arrive; Receive is called until all
//                  are taken (each good frame ends a call)

#include "FuzzCheck.h"
#include "link/Quorlink.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Observer {
  TQUORLINK& Link;
  std::vector<std::uint8_t> Collected;  // the frame bytes since the last start byte
  std::vector<std::uint8_t> Record;     // what GetRecord must give (last good frame)
  std::uint32_t Good = 0;
  int Status = -1;  // the caller's status variable
  bool EventInCall = false;
  bool GoodInCall = false;

  std::vector<std::uint8_t> CurrentRecord() {
    std::uint8_t buffer[256];
    std::uint8_t length = 0;
    Link.GetRecord(buffer, sizeof buffer, &length);
    return {buffer, buffer + length};
  }

  // Checks the effect of byte b, fed with the receiver in the state saved before it.
  void AfterByte(std::uint8_t b, std::uint8_t countBefore, int statusBefore, int rxStatusBefore) {
    const std::uint8_t count = Link.GetRxCount();
    const unsigned length = Link.DataLength;
    const std::uint32_t good = Link.GoodFrameCount;
    CHECK(good == Good || good == Good + 1);
    CHECK(Link.SentFrameCount == 0);

    if (countBefore == 0) {
      CHECK(good == Good);
      if (b == TQUORLINK::StartByte) {
        CHECK(count == 1 && Status == 2 && Link.RxStatus == 2);
        Collected.assign(1, b);
      } else {  // dropped without a trace
        CHECK(count == 0 && Status == statusBefore && Link.RxStatus == rxStatusBefore);
      }
      return;
    }

    Collected.push_back(b);
    CHECK(Collected.size() == static_cast<std::size_t>(countBefore) + 1);
    std::uint8_t sum = 0;
    for (std::uint8_t x : Collected) sum = static_cast<std::uint8_t>(sum + x);

    if (good == Good + 1) {
      CHECK(Collected.size() == length + 2 && sum == 0);
      CHECK(count == 0 && Status == 0 && Link.RxStatus == 0);
      Record.assign(Collected.begin() + 1, Collected.end() - 1);
      CHECK(CurrentRecord() == Record);
      Good = good;
      GoodInCall = EventInCall = true;
    } else if (count == 0) {
      if (Collected.size() == 256) {  // the 8-bit count wrapped: idle again, no event
        CHECK(Status == 0 && Link.RxStatus == 0);
      } else if (Collected.size() == length + 2) {
        CHECK(sum != 0 && Status == 1 && Link.RxStatus == 1);
        EventInCall = true;
      } else if (Collected.size() > length + 4) {
        CHECK(Status == 3 && Link.RxStatus == 3);
        EventInCall = true;
      } else {
        CHECK(false);  // ended without a reason
      }
      // The last good record stays (DataLength may have changed since: compare what both hold).
      const std::vector<std::uint8_t> now = CurrentRecord();
      CHECK(std::equal(now.begin(), now.begin() + std::min(now.size(), Record.size()), Record.begin()));
    } else {
      CHECK(count == countBefore + 1 && Status == 0 && Link.RxStatus == 0);
      CHECK(Collected.size() != length + 2 && Collected.size() <= length + 4);
    }
  }

  // One Receive call on chunk[from, end); returns where it stopped.
  std::size_t Call(const std::uint8_t* chunk, std::size_t from, std::size_t end) {
    EventInCall = GoodInCall = false;
    std::size_t i = from;
    bool pending = false;
    std::uint8_t last = 0, countBefore = 0;
    int statusBefore = 0, rxStatusBefore = 0;
    auto settle = [&] {
      if (pending) AfterByte(last, countBefore, statusBefore, rxStatusBefore);
      pending = false;
    };
    const int result = Link.ReceiveFrom(
        [&](std::uint8_t& byte) {
          settle();
          CHECK(!GoodInCall);  // a good frame ends the call
          if (i == end) return false;
          byte = last = chunk[i++];
          countBefore = Link.GetRxCount();
          statusBefore = Status;
          rxStatusBefore = Link.RxStatus;
          pending = true;
          return true;
        },
        Status);
    settle();
    CHECK(result == (EventInCall ? 1 : 0));
    return i;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TQUORLINK link;
  link.Mode = 0;
  link.DataLength = data[0];
  Observer observer{link, {}, {}, 0, -1, false, false};

  std::size_t pos = 1;
  while (pos < size) {
    const std::uint8_t command = data[pos++];
    if (command >= 0xF8) {
      if (pos < size) link.DataLength = data[pos++];
    } else if (command == 0xF7) {
      link.Mode = 1;
      const std::uint8_t countBefore = link.GetRxCount();
      int status = 77;
      bool asked = false;
      CHECK(link.ReceiveFrom([&](std::uint8_t&) { return asked = true, false; }, status) == 0);
      CHECK(!asked && status == 77 && link.GetRxCount() == countBefore);
      link.Mode = 0;
    } else {
      const std::size_t end = std::min(size, pos + command + 1);
      while (pos < end) {
        const std::size_t stopped = observer.Call(data, pos, end);
        CHECK(stopped > pos || pos == end);
        pos = stopped;
      }
      observer.Call(data, pos, pos);  // nothing more waiting: no event, nothing read
    }
  }
  return 0;
}
