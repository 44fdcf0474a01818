#pragma once
// TQtHandOff runs the worker thread's hand-overs in the Qt thread that owns it:
// a socket notifier on the thread's hand-over descriptor calls
// RunPendingHandOff whenever the worker waits. Destroy it before the thread.

#include <QObject>

class QSocketNotifier;
class TThread_Quorlink;

class TQtHandOff : public QObject {
  Q_OBJECT
public:
  explicit TQtHandOff(TThread_Quorlink* thread, QObject* parent = nullptr);

private:
  QSocketNotifier* Notifier;
};
