#include "platform/WakeEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

TWakeEvent::TWakeEvent() : Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TWakeEvent::~TWakeEvent() {
  if (Fd >= 0) close(Fd);
}

void TWakeEvent::Signal() const {
  if (Fd < 0) return;
  const std::uint64_t one = 1;
  // Fails only when the counter would overflow, and then it is readable anyway.
  [[maybe_unused]] const ssize_t written = write(Fd, &one, sizeof one);
}

std::uint64_t TWakeEvent::Clear() const {
  std::uint64_t count = 0;
  if (Fd >= 0 && read(Fd, &count, sizeof count) != sizeof count) count = 0;
  return count;
}
