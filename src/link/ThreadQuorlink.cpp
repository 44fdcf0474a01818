#include "link/ThreadQuorlink.h"

#include "platform/WakeEvent.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr auto Relaxed = std::memory_order_relaxed;
constexpr auto Beat = std::chrono::milliseconds(10);
constexpr int PassesPerTransmission = 7;
constexpr int ModeCheckMs = 1000;  // nothing wakes a wait for bytes when Mode changes

int NiceValue(TThread_Quorlink::TThreadPriority priority) {
  switch (priority) {
  case TThread_Quorlink::tpHighest: return -10;
  case TThread_Quorlink::tpHigher: return -5;
  case TThread_Quorlink::tpNormal: break;
  }
  return 0;
}
}  // namespace

struct TThread_Quorlink::TPrivate {
  std::thread Worker;
  bool Started = false;  // owner's thread only

  std::mutex Lock;
  std::condition_variable Wake;  // beat sleep, hand-over release, terminate
  std::atomic<bool> TerminatedFlag{false};
  bool Pending = false;  // the worker waits for NotifyReceive
  bool Running = false;  // NotifyReceive is running for it
  bool Done = false;     // it has run; the worker may go on
  TReceiveHook Hook = nullptr;
  void* HookContext = nullptr;
  TReceiveHook DirectHook = nullptr;  // set before Resume, read by the worker only
  void* DirectContext = nullptr;
  TTransmitHook TransmitHook = nullptr;  // set before Resume, read by the worker only
  void* TransmitContext = nullptr;

  bool WaitsForBytes = false;  // set before Resume
  TWakeEvent HandOff;          // readable while the worker waits for the GUI thread
  TWakeEvent Stop;             // ends a wait for bytes at Terminate
  std::atomic<std::uint64_t> Passes{0};
  std::atomic<int> Priority{tpNormal};
  std::atomic<pid_t> Tid{0};
};

TThread_Quorlink::TThread_Quorlink(bool createSuspended) : d(std::make_unique<TPrivate>()) {
  if (!createSuspended) Resume();
}

TThread_Quorlink::~TThread_Quorlink() {
  Terminate();
  WaitFor();
}

void TThread_Quorlink::SetReceiveHook(TReceiveHook hook, void* context) {
  std::lock_guard<std::mutex> lock(d->Lock);
  d->Hook = hook;
  d->HookContext = context;
}

void TThread_Quorlink::SetDirectReceiveHook(TReceiveHook hook, void* context) {
  if (d->Started) return;
  d->DirectHook = hook;
  d->DirectContext = context;
}

void TThread_Quorlink::SetTransmitHook(TTransmitHook hook, void* context) {
  if (d->Started) return;
  d->TransmitHook = hook;
  d->TransmitContext = context;
}

void TThread_Quorlink::SetWaitForBytes(bool wait) {
  if (!d->Started) d->WaitsForBytes = wait;
}

void TThread_Quorlink::SetPriority(TThreadPriority priority) {
  d->Priority.store(priority, Relaxed);
  const pid_t tid = d->Tid.load();
  // A refusal (no right to raise the priority) leaves the thread at normal
  // priority, which only costs reaction time.
  if (tid != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValue(priority));
}

void TThread_Quorlink::Resume() {
  if (d->Started) return;
  d->Started = true;
  d->Worker = std::thread([this] { Execute(); });
}

void TThread_Quorlink::Terminate() {
  {
    std::lock_guard<std::mutex> lock(d->Lock);
    d->TerminatedFlag.store(true);
  }
  d->Wake.notify_all();
  d->Stop.Signal();
}

void TThread_Quorlink::WaitFor() {
  if (d->Worker.joinable()) d->Worker.join();
}

bool TThread_Quorlink::Terminated() const { return d->TerminatedFlag.load(); }

std::uint64_t TThread_Quorlink::PassCount() const { return d->Passes.load(); }

int TThread_Quorlink::HandOffDescriptor() const { return d->HandOff.Descriptor(); }

void TThread_Quorlink::Execute() {
  d->Tid.store(gettid());
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()),
              NiceValue(static_cast<TThreadPriority>(d->Priority.load(Relaxed))));

  // Link is set before Resume; the thread keeps the pointer it started with.
  TQUORLINK* const link = Link;
  int counter = 0;
  while (!d->TerminatedFlag.load()) {
    const auto passStart =
        d->WaitsForBytes ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    int beats = 1;  // until the next pass
    if (link) {
      if (link->Mode.load(Relaxed) == 1) {
        if (counter < PassesPerTransmission - 1) {
          // The passes that only count do nothing else: sleep through them
          // all at once and count them when they are over.
          ++counter;
          beats = PassesPerTransmission - counter;
        } else {
          if (d->TransmitHook)
            d->TransmitHook(d->TransmitContext, link);
          else
            link->Transmit();
          counter = 0;
        }
      } else {
        int status = Status.load(Relaxed);
        if (link->Receive(status) == 1) {
          Status.store(status, Relaxed);
          if (d->DirectHook)
            d->DirectHook(d->DirectContext, status);
          else
            Synchronize();
        }
      }
    }
    d->Passes.fetch_add(1);

    std::unique_lock<std::mutex> lock(d->Lock, std::defer_lock);
    if (beats > 1) {
      lock.lock();
      if (d->Wake.wait_for(lock, beats * Beat, [this] { return d->TerminatedFlag.load(); })) break;
      lock.unlock();
      // A change of Mode meanwhile is seen now; those passes would not have counted.
      if (link->Mode.load(Relaxed) == 1) {
        counter += beats - 1;
        d->Passes.fetch_add(static_cast<std::uint64_t>(beats - 1));
      }
    } else if (d->WaitsForBytes && link && WaitForBytes(link)) {
      // Bytes arriving end the wait at once, but passes stay a beat apart.
      if (std::chrono::steady_clock::now() >= passStart + Beat) continue;
      lock.lock();
      d->Wake.wait_until(lock, passStart + Beat, [this] { return d->TerminatedFlag.load(); });
    } else {
      lock.lock();
      d->Wake.wait_for(lock, Beat, [this] { return d->TerminatedFlag.load(); });
    }
  }
  d->Tid.store(0);  // the id may be reused by another thread from now on
}

// True when bytes came after a wait; false when the next pass is due by the
// beat (source mode, the port just opened, busy or hung up, terminated).
bool TThread_Quorlink::WaitForBytes(TQUORLINK* link) {
  for (;;) {
    if (d->TerminatedFlag.load() || link->Mode.load(Relaxed) != 0) return false;
    const int waited = link->WaitForInput(ModeCheckMs, d->Stop.Descriptor());
    if (waited != 0) return waited == 1;
  }
}

bool TThread_Quorlink::Synchronize() {
  std::unique_lock<std::mutex> lock(d->Lock);
  if (d->TerminatedFlag.load()) return false;
  d->Pending = true;
  d->Running = false;
  d->Done = false;
  d->HandOff.Signal();
  d->Wake.wait(lock, [this] { return d->Done || d->TerminatedFlag.load(); });
  const bool ran = d->Done;
  d->Pending = false;
  d->Done = false;
  return ran;
}

void TThread_Quorlink::RunPendingHandOff() {
  d->HandOff.Clear();

  {
    std::lock_guard<std::mutex> lock(d->Lock);
    // Running guards against a nested event loop inside the hook calling us again.
    if (!d->Pending || d->Running || d->Done || d->TerminatedFlag.load()) return;
    d->Running = true;
  }
  NotifyReceive();
  {
    std::lock_guard<std::mutex> lock(d->Lock);
    d->Running = false;
    if (d->Pending) d->Done = true;
  }
  d->Wake.notify_all();
}

void TThread_Quorlink::NotifyReceive() {
  TReceiveHook hook;
  void* context;
  {
    std::lock_guard<std::mutex> lock(d->Lock);
    hook = d->Hook;
    context = d->HookContext;
  }
  if (hook) hook(context, Status.load(Relaxed));
}
