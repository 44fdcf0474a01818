#include "app/Application.h"

#include "serial/SettingsRegistry.h"
#include "widgets/Messages.h"

#include "QuorlinkVersion.h"

#include <QThread>

namespace {

// Why the settings could not be read (the defaults are used) or saved (nothing
// was written), in a message over the window the operator is in.
void ShowSettingsProblem(SettingsFile::Problem problem, const std::string& text) {
  const bool reading = problem == SettingsFile::Problem::CannotRead;
  const QString detail =
      QString::fromLocal8Bit(text.c_str()) + (reading ? QStringLiteral(". The defaults are used.") : QString());
  const auto show = [reading, detail] {
    QWidget* parent = QApplication::activeModalWidget();
    Messages::Show(parent ? parent : QApplication::activeWindow(), QStringLiteral("Error"),
                   reading ? QStringLiteral("The settings could not be read.")
                           : QStringLiteral("The settings could not be saved."),
                   detail);
  };
  if (QThread::currentThread() == qApp->thread())
    show();
  else
    QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
}

}  // namespace

void ShowError(const char* what) { Messages::ShowException(what ? QString::fromLocal8Bit(what) : QString()); }

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Quorlink Simulator"));
  setApplicationVersion(QStringLiteral(QUORLINK_VERSION));
  SettingsFile::SetProblemHandler(&ShowSettingsProblem);
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
