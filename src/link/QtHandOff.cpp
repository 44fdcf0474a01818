#include "link/QtHandOff.h"

#include "link/ThreadQuorlink.h"

#include <QSocketNotifier>

TQtHandOff::TQtHandOff(TThread_Quorlink* thread, QObject* parent)
    : QObject(parent),
      Notifier(new QSocketNotifier(static_cast<qintptr>(thread->HandOffDescriptor()), QSocketNotifier::Read, this)) {
  connect(Notifier, &QSocketNotifier::activated, this, [thread] { thread->RunPendingHandOff(); });
}
