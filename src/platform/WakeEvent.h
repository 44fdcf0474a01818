#pragma once
// TWakeEvent is an eventfd that one thread makes readable to end another's
// poll() or to tell a Qt socket notifier that something is waiting: the
// "write one to wake" idiom in one place. Signal never blocks and never
// allocates, so the worker thread may call it.

#include <cstdint>

class TWakeEvent {
public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  // The descriptor to poll or watch; -1 when no eventfd could be made (then
  // Signal and Clear do nothing and a poll simply skips it).
  int Descriptor() const { return Fd; }
  // Makes the descriptor readable until Clear.
  void Signal() const;
  // Makes it quiet again; returns how many signals it held.
  std::uint64_t Clear() const;

private:
  const int Fd;
};
