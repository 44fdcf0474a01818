#pragma once
// TThread_Quorlink is the one worker thread. On a 10 ms beat it transmits the
// link's record on every seventh pass (source mode) or drains the port through
// the receiver on every pass (display mode), handing each receive event to the
// GUI thread with a blocking call that Terminate always releases. In source
// mode it sleeps through the six passes that only count, in one wait.

#include "link/Quorlink.h"

#include <atomic>
#include <cstdint>
#include <memory>

class TThread_Quorlink {
public:
  enum TThreadPriority { tpNormal, tpHigher, tpHighest };
  using TReceiveHook = void (*)(void* context, int status);

  explicit TThread_Quorlink(bool createSuspended);
  // Terminates and joins; never deadlocks, also while a hand-over waits.
  ~TThread_Quorlink();
  TThread_Quorlink(const TThread_Quorlink&) = delete;
  TThread_Quorlink& operator=(const TThread_Quorlink&) = delete;

  TQUORLINK* Link = nullptr;   // set before Resume; not owned
  std::atomic<int> Status{0};  // status of the last receive event

  // Called in the GUI thread by NotifyReceive with Status; set before Resume.
  void SetReceiveHook(TReceiveHook hook, void* context);
  // When set (before Resume), receive events go to this hook on the worker
  // thread itself, in place of the hand-over: for a user with no GUI thread to
  // keep in step, such as the command-line monitor. Like the rest of the
  // worker's pass it must not allocate, and it holds up reception while it runs.
  void SetDirectReceiveHook(TReceiveHook hook, void* context);

  // When set (before Resume), called on the worker thread in place of the
  // link's Transmit on every seventh pass in source mode. The command-line
  // tool sends its faulty frames and stops after a frame count through it.
  using TTransmitHook = void (*)(void* context, TQUORLINK* link);
  void SetTransmitHook(TTransmitHook hook, void* context);

  // When set (before Resume), display mode skips the passes that would find
  // the port empty: the worker sleeps until bytes arrive (or Terminate), and
  // while the port is closed or its device lost, until it is open again; then
  // it goes on with its beat, passes still at least 10 ms apart. What is
  // received and handed over is the same; a quiet line costs next to no CPU.
  // A change of the link's Mode is seen within a second. The windows and the
  // command-line monitor use it.
  void SetWaitForBytes(bool wait);

  void SetPriority(TThreadPriority priority);  // a refusal by the system is not an error
  void Resume();
  void Terminate();  // also releases a waiting hand-over
  void WaitFor();    // joins; harmless when repeated
  bool Terminated() const;
  std::uint64_t PassCount() const;  // passes completed so far

  // The hand-over into the GUI thread: this descriptor is readable while the
  // worker waits; the GUI thread then calls RunPendingHandOff, which runs
  // NotifyReceive and releases the worker. TQtHandOff wires it to Qt.
  int HandOffDescriptor() const;
  void RunPendingHandOff();

private:
  void Execute();
  bool WaitForBytes(TQUORLINK* link);
  void NotifyReceive();
  bool Synchronize();  // false when terminated before the GUI thread ran it

  struct TPrivate;
  const std::unique_ptr<TPrivate> d;
};
