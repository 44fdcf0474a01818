#pragma once
// Turns asynchronous signals into bytes on a pipe, so that a poll loop or a Qt
// event loop can handle Ctrl-C, SIGTERM and SIGUSR1 in ordinary code.

#include <QObject>
#include <initializer_list>

class QSocketNotifier;

namespace SignalPipe {
// Installs the handler for the given signals (once per process; later calls add
// signals) and returns the read end of the pipe. Each delivered signal puts its
// number on the pipe as one byte.
int Install(std::initializer_list<int> signalNumbers);
// The next pending signal number, or 0 when none is waiting.
int Take();
}  // namespace SignalPipe

// Emits Received(signal) in the thread that owns it for every signal installed
// through SignalPipe::Install.
class SignalNotifier : public QObject {
  Q_OBJECT
public:
  explicit SignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);

signals:
  void Received(int signal);

private:
  QSocketNotifier* Notifier;
};
