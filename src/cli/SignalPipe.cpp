#include "cli/SignalPipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int Pipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe already holds enough wake-ups; the byte may be dropped.
  [[maybe_unused]] const ssize_t n = write(Pipe[1], &byte, 1);
  errno = saved;
}
}  // namespace

int SignalPipe::Install(std::initializer_list<int> signalNumbers) {
  if (Pipe[0] < 0 && pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  for (int signal : signalNumbers) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
  return Pipe[0];
}

int SignalPipe::Take() {
  unsigned char byte = 0;
  for (;;) {
    const ssize_t n = read(Pipe[0], &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

SignalNotifier::SignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent), Notifier(new QSocketNotifier(SignalPipe::Install(signalNumbers), QSocketNotifier::Read, this)) {
  connect(Notifier, &QSocketNotifier::activated, this, [this] {
    while (const int signal = SignalPipe::Take()) emit Received(signal);
  });
}
