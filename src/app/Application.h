#pragma once
// The application object. An error thrown by an event handler (for example a
// stored setting of the wrong type) is shown to the operator in a message box
// and the program carries on, instead of ending the process.

#include <QApplication>
#include <exception>

// The box for an error that reached a command, the event loop or the program entry.
void ShowError(const char* what);

// Runs a command of the operator; an error it throws is shown in the same box
// and goes no further. Catching here, next to the command, keeps the error from
// unwinding through the toolkit's own frames on its way to notify.
template <class F>
void RunCommand(F&& command) {
  try {
    command();
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError(nullptr);
  }
}

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
