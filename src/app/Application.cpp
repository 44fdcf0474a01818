#include "app/Application.h"

#include "widgets/Messages.h"

#include "QuorlinkVersion.h"

void ShowError(const char* what) { Messages::ShowException(what ? QString::fromLocal8Bit(what) : QString()); }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Quorlink Simulator"));
  setApplicationVersion(QStringLiteral(QUORLINK_VERSION));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError(nullptr);
  }
  return false;
}
