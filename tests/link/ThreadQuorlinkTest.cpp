#include "LinkOnPty.h"
#include "link/QtHandOff.h"
#include "link/ThreadQuorlink.h"
#include "serial/DeviceMap.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <poll.h>
#include <thread>

using Bytes = std::vector<std::uint8_t>;

// Counts operator new calls made by threads other than the test's own.
namespace {
std::atomic<bool> CountAllocations{false};
std::atomic<std::thread::id> TestThread;
std::atomic<int> OtherThreadAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (CountAllocations && std::this_thread::get_id() != TestThread.load()) ++OtherThreadAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

bool HandOffWaiting(const TThread_Quorlink& thread) {
  pollfd p{thread.HandOffDescriptor(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

// What the GUI thread saw of each receive event.
struct Event {
  int Status;
  std::uint64_t Pass;
  Bytes Record;
  std::thread::id Thread;
};

struct Recorder {
  TThread_Quorlink* Thread = nullptr;
  TQUORLINK* Link = nullptr;
  std::mutex Lock;
  std::vector<Event> Events;

  static void Hook(void* context, int status) {
    auto* self = static_cast<Recorder*>(context);
    Event e{status, self->Thread->PassCount(), Record(*self->Link), std::this_thread::get_id()};
    std::lock_guard<std::mutex> lock(self->Lock);
    self->Events.push_back(std::move(e));
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(Lock);
    return Events.size();
  }
  // Makes the worker run on the link and hand its events here, through the
  // GUI-thread hand-over or (direct) on the worker itself.
  void Attach(TThread_Quorlink& thread, TQUORLINK& link, bool direct = false) {
    Thread = &thread;
    Link = &link;
    thread.Link = &link;
    if (direct)
      thread.SetDirectReceiveHook(&Hook, this);
    else
      thread.SetReceiveHook(&Hook, this);
  }
};

}  // namespace

TEST(ThreadQuorlink, WithoutALinkItOnlyBeats) {
  TThread_Quorlink thread(true);
  EXPECT_EQ(thread.PassCount(), 0u);  // suspended until resumed
  thread.SetPriority(TThread_Quorlink::tpHighest);
  const auto start = std::chrono::steady_clock::now();
  thread.Resume();
  EXPECT_TRUE(WaitUntil([&] { return thread.PassCount() >= 5; }));
  const std::uint64_t passes = thread.PassCount();
  // Not sooner than the beat allows: pass n ends n - 1 beats after the first at the earliest.
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(10 * static_cast<long long>(passes - 1)))
      << passes << " passes";
  EXPECT_FALSE(HandOffWaiting(thread));
  thread.Terminate();
  thread.WaitFor();
  thread.WaitFor();
  EXPECT_TRUE(thread.Terminated());
}

// The hook reads the passes completed so far as each frame goes out: six
// before the first (it goes on the seventh pass), then seven more each time.
// The worker sleeps through the six passes that only count, but no frame goes
// out before its pass is due, and a closed port's count still grows.
TEST(ThreadQuorlink, SourceModeTransmitsOnEverySeventhPass) {
  using Clock = std::chrono::steady_clock;
  struct Context {
    TThread_Quorlink* Thread;
    std::atomic<int> Frames{0};
    std::uint64_t Passes[4] = {};
    std::uint32_t Sent[4] = {};
    Clock::time_point Times[4] = {};
  };
  {
    TQUORLINK link;  // never opened
    link.Mode = 1;
    TThread_Quorlink thread(true);
    Context context{&thread};
    thread.Link = &link;
    thread.SetTransmitHook(
        [](void* c, TQUORLINK* l) {
          auto* ctx = static_cast<Context*>(c);
          const int frame = ctx->Frames.load();
          l->Transmit();
          if (frame < 4) {
            ctx->Passes[frame] = ctx->Thread->PassCount();
            ctx->Sent[frame] = l->SentFrameCount;
            ctx->Times[frame] = Clock::now();
          }
          ctx->Frames.store(frame + 1);
        },
        &context);
    const Clock::time_point start = Clock::now();
    thread.Resume();
    EXPECT_TRUE(WaitUntil([&] { return context.Frames.load() >= 4; }));
    thread.Terminate();
    thread.WaitFor();
    EXPECT_EQ(std::vector<std::uint64_t>(context.Passes, context.Passes + 4),
              (std::vector<std::uint64_t>{6, 13, 20, 27}));
    EXPECT_EQ(std::vector<std::uint32_t>(context.Sent, context.Sent + 4), (std::vector<std::uint32_t>{1, 2, 3, 4}));
    for (int i = 0; i < 4; ++i)
      EXPECT_GE(context.Times[i] - start, std::chrono::milliseconds(60 + 70 * i)) << "frame " << i;
  }

  LinkOnPty t(1);
  const Bytes record(24, 0x42);
  t.Link.SetRecord(record.data(), 24);
  TThread_Quorlink thread(true);
  thread.Link = &t.Link;
  thread.Resume();
  EXPECT_EQ(t.Pty.Read(52), Frame(record) + Frame(record));
}

// On the plain beat and waiting for bytes, as the windows do.
TEST(ThreadQuorlink, FramesArrivingTogetherAreHandedOverOnePerPass) {
  for (const bool waits : {false, true}) {
    SCOPED_TRACE(waits ? "waiting for bytes" : "plain beat");
    LinkOnPty t(2);  // neither mode: Receive reads nothing until we switch
    Recorder recorder;
    TThread_Quorlink thread(true);
    recorder.Attach(thread, t.Link);
    thread.SetWaitForBytes(waits);
    thread.Resume();

    const Bytes a(24, 0xA1), b(24, 0xB2), c(24, 0xC3);
    Bytes bad = Frame(Bytes(24, 0xEE));
    bad.back() ^= 0x80;
    t.Send(Frame(a) + Frame(b) + Frame(c) + bad + Bytes{0x2F});
    t.Link.Mode = 0;
    // This thread plays the GUI thread.
    std::vector<std::chrono::steady_clock::time_point> times;
    EXPECT_TRUE(WaitUntil([&] {
      if (HandOffWaiting(thread)) {
        times.push_back(std::chrono::steady_clock::now());
        thread.RunPendingHandOff();
      }
      return recorder.Count() == 4;
    }));
    thread.Terminate();
    thread.WaitFor();

    ASSERT_EQ(recorder.Events.size(), 4u);
    const std::vector<Bytes> records{a, b, c, c};
    const int statuses[] = {0, 0, 0, 2};  // the bad frame, then a start byte as the last byte read
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(recorder.Events[i].Status, statuses[i]);
      EXPECT_EQ(recorder.Events[i].Record, records[i]);
      EXPECT_EQ(recorder.Events[i].Pass, recorder.Events[0].Pass + i);
    }
    EXPECT_EQ(t.Link.GoodFrameCount, 3u);
    // Passes a beat apart: the second starts no sooner than the first
    // hand-over ran, the fourth two beats after the second.
    ASSERT_EQ(times.size(), 4u);
    EXPECT_GE(times[3] - times[0], std::chrono::milliseconds(20));
  }
}

TEST(ThreadQuorlink, StopsWhileAHandOffWaits) {
  for (const bool explicitStop : {true, false}) {
    LinkOnPty t(0);
    Recorder recorder;
    auto thread = std::make_unique<TThread_Quorlink>(true);
    recorder.Attach(*thread, t.Link);
    thread->Resume();
    t.Pty.Write(Frame(Bytes(24, 1)));
    // Nobody runs the hand-over: the worker waits in it.
    ASSERT_TRUE(WaitUntil([&] { return HandOffWaiting(*thread); }));
    if (explicitStop) {
      thread->Terminate();
      thread->WaitFor();
      thread->RunPendingHandOff();  // too late: the notification is skipped
    }
    thread.reset();
    EXPECT_EQ(recorder.Count(), 0u);
  }
}

TEST(ThreadQuorlink, QtHandOffRunsTheHookInTheOwningThread) {
  int argc = 1;
  char name[] = "ThreadQuorlinkTest";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  LinkOnPty t(0);
  Recorder recorder;
  TThread_Quorlink thread(true);
  recorder.Attach(thread, t.Link);
  auto handOff = std::make_unique<TQtHandOff>(&thread);
  thread.Resume();

  t.Pty.Write(Frame(Bytes(24, 7)) + Frame(Bytes(24, 8)));
  EXPECT_TRUE(WaitUntil([&] { return recorder.Count() == 2; }));  // pumps the event loop
  ASSERT_EQ(recorder.Count(), 2u);
  EXPECT_EQ(recorder.Events[1].Record, Bytes(24, 8));
  EXPECT_EQ(recorder.Events[0].Thread, std::this_thread::get_id());
  handOff.reset();
}

// The monitor's way of receiving: the worker sleeps while the line is quiet
// and handles events itself. Everything else must stay as with the beat.
TEST(ThreadQuorlink, WaitingForBytesSkipsOnlyTheEmptyPasses) {
  LinkOnPty t(0);
  Recorder recorder;
  std::vector<std::chrono::steady_clock::time_point> times;
  times.reserve(8);
  struct Context {
    Recorder* R;
    std::vector<std::chrono::steady_clock::time_point>* Times;
  } context{&recorder, &times};
  TThread_Quorlink thread(true);
  recorder.Thread = &thread;
  recorder.Link = &t.Link;
  thread.Link = &t.Link;
  thread.SetDirectReceiveHook(
      [](void* c, int status) {
        auto* ctx = static_cast<Context*>(c);
        {
          std::lock_guard<std::mutex> lock(ctx->R->Lock);
          ctx->Times->push_back(std::chrono::steady_clock::now());
        }
        Recorder::Hook(ctx->R, status);
      },
      &context);
  thread.SetWaitForBytes(true);
  thread.Resume();
  ASSERT_TRUE(WaitUntil([&] { return thread.PassCount() >= 1; }));

  // A quiet line: a thread on the plain beat runs ten passes meanwhile, the
  // waiting worker at most the one it was in.
  const std::uint64_t quiet = thread.PassCount();
  {
    TThread_Quorlink beat(true);
    beat.Resume();
    ASSERT_TRUE(WaitUntil([&] { return beat.PassCount() >= 10; }));
  }
  EXPECT_LE(thread.PassCount(), quiet + 1);

  const Bytes a(24, 0xA1), b(24, 0xB2), c(24, 0xC3);
  Bytes bad = Frame(Bytes(24, 0xEE));
  bad.back() ^= 0x80;
  t.Pty.Write(Frame(a) + Frame(b) + Frame(c) + bad + Bytes{0x2F});
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 4; }));
  EXPECT_FALSE(HandOffWaiting(thread));

  // Closing the port while the worker waits on it neither hangs nor spins:
  // the worker sleeps until the port is open again.
  t.Link.Close();
  const std::uint64_t closed = thread.PassCount();
  {
    TThread_Quorlink beat(true);
    beat.Resume();
    ASSERT_TRUE(WaitUntil([&] { return beat.PassCount() >= 10; }));
  }
  EXPECT_LE(thread.PassCount(), closed + 1) << "the worker beats on a closed port";
  ASSERT_EQ(t.Link.Open(), 1) << t.Link.LastError();
  // The start byte collected before the close belongs to the old connection:
  // the receiver starts afresh and the first frame is good.
  t.Pty.Write(Frame(a) + Frame(b));
  EXPECT_TRUE(WaitUntil([&] { return recorder.Count() == 5; }));
  thread.Terminate();  // also ends the wait for bytes
  thread.WaitFor();

  ASSERT_EQ(recorder.Events.size(), 5u);
  const std::vector<Bytes> records{a, b, c, c, a};
  const int statuses[] = {0, 0, 0, 2, 0};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(recorder.Events[i].Status, statuses[i]) << i;
    EXPECT_EQ(recorder.Events[i].Record, records[i]) << i;
    EXPECT_NE(recorder.Events[i].Thread, std::this_thread::get_id());
  }
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(recorder.Events[i].Pass, recorder.Events[0].Pass + i);
  // One frame per pass and passes a beat apart: three beats between the first
  // and the fourth event, less the little the first pass took before its event.
  EXPECT_GE(times[3] - times[0], std::chrono::milliseconds(25));
}

// The device unplugged halfway through a frame and plugged in again: the
// waiting worker sleeps meanwhile and receives again on the new connection,
// where the half frame counts for nothing.
TEST(ThreadQuorlink, WaitingForBytesSleepsWhileTheDeviceIsLostAndGoesOnWhenItIsBack) {
  LinkOnPty t(0);
  PluggedPty device(t.Settings.Folder().toStdString() + "/ttyUSB0");
  t.Link.Close();
  ASSERT_TRUE(SetComDevicePath(1, device.Path()));
  ASSERT_EQ(t.Link.Open(), 1) << t.Link.LastError();
  Recorder recorder;
  TThread_Quorlink thread(true);
  recorder.Attach(thread, t.Link, true);
  thread.SetWaitForBytes(true);
  thread.Resume();

  const Bytes a(24, 0xA1), b(24, 0xB2), frameB = Frame(b);
  device.Pty().Write(Frame(a) + Bytes(frameB.begin(), frameB.begin() + 10));
  // The pass after the event's takes the half frame in.
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(recorder.Lock);
    return recorder.Events.size() == 1 && thread.PassCount() >= recorder.Events[0].Pass + 2;
  }));
  device.Unplug();
  ASSERT_TRUE(WaitUntil([&] { return t.Link.State() == TPortState::Lost; }));
  const std::uint64_t lost = thread.PassCount();
  {
    TThread_Quorlink beat(true);
    beat.Resume();
    ASSERT_TRUE(WaitUntil([&] { return beat.PassCount() >= 10; }));
  }
  EXPECT_LE(thread.PassCount(), lost + 1) << "the worker beats on a lost device";

  device.Replug();
  ASSERT_TRUE(WaitUntil([&] { return t.Link.State() == TPortState::Open; }));
  device.Pty().Write(frameB);
  ASSERT_TRUE(WaitUntil([&] { return recorder.Count() == 2; }));
  thread.Terminate();
  thread.WaitFor();
  EXPECT_EQ(recorder.Events[1].Status, 0);
  EXPECT_EQ(recorder.Events[1].Record, b);
  EXPECT_EQ(t.Link.GoodFrameCount, 2u);
}

void CheckTheWorkerAllocatesNothing(bool direct) {
  OtherThreadAllocations = 0;
  LinkOnPty t(0);
  TThread_Quorlink thread(true);
  thread.Link = &t.Link;
  int events = 0;
  if (direct) {
    thread.SetDirectReceiveHook([](void* c, int) { ++*static_cast<int*>(c); }, &events);
    thread.SetWaitForBytes(true);
  }
  thread.Resume();
  ASSERT_TRUE(WaitUntil([&] { return thread.PassCount() > 0; }));
  TestThread = std::this_thread::get_id();
  CountAllocations = true;

  Bytes bad = Frame(Bytes(24, 3));
  bad.back() ^= 1;
  t.Pty.Write(Frame(Bytes(24, 1)) + bad + Frame(Bytes(24, 2)));
  EXPECT_TRUE(WaitUntil([&] {
    if (HandOffWaiting(thread)) thread.RunPendingHandOff();
    return t.Link.GoodFrameCount == 2;
  }));
  t.Link.Mode = 1;
  EXPECT_TRUE(WaitUntil([&] { return t.Link.SentFrameCount >= 2; }));
  EXPECT_EQ(t.Pty.Read(52).size(), 52u);

  CountAllocations = false;
  thread.Terminate();
  thread.WaitFor();
  EXPECT_EQ(OtherThreadAllocations, 0);
  if (direct) {
    EXPECT_EQ(events, 2);  // the bad frame and the second good one come in one pass
  }
}

TEST(ThreadQuorlink, TheWorkerAllocatesNothing) { CheckTheWorkerAllocatesNothing(false); }

TEST(ThreadQuorlink, TheWorkerAllocatesNothingAlsoWaitingForBytesWithADirectHook) {
  CheckTheWorkerAllocatesNothing(true);
}
