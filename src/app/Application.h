#pragma once
// The application object. An error thrown by an event handler (for example a
// stored setting of the wrong type) is shown to the operator in a message box
// and the program carries on, instead of ending the process.

#include <QApplication>

class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
