#include "app/Application.h"

#include "app/Messages.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Quorlink Simulator"));
  setApplicationVersion(QStringLiteral("2.0.1"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Messages::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    Messages::ShowException(QString());
  }
  return false;
}
