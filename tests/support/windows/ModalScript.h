#pragma once
// Answers the modal windows the code under test opens, in the order given, the
// way an operator would: a timer looks at QApplication::activeModalWidget()
// and runs the next step on it. Each step's action is posted, so an action
// that itself opens a modal window (a button that shows a message box) doesn't
// block the script: the next step answers that window.
//
// Only the newest script answers while several exist.
// A window that no step expects is recorded in Unexpected and rejected, so a
// wrong flow fails the test instead of hanging it.

#include <QHash>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

class QAbstractButton;
class QFileDialog;

// What a message box showed.
struct SeenMessage {
  QString Caption;
  QString Text;
  QString Detail;  // informative text
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  int ButtonCount = 0;
  bool Seen = false;
};

class ModalScript : public QObject {
  Q_OBJECT
public:
  ModalScript();
  ~ModalScript() override;

  // A step for a modal window of class T (and, when given, this object name).
  template <class T>
  ModalScript& On(std::function<void(T*)> act, const QString& objectName = QString()) {
    Steps.push_back(Step{[objectName](QWidget* w) -> bool {
                           return qobject_cast<T*>(w) && (objectName.isEmpty() || w->objectName() == objectName);
                         },
                         [act](QWidget* w) { act(qobject_cast<T*>(w)); }, T::staticMetaObject.className()});
    return *this;
  }
  // Records a message box and presses the given button.
  ModalScript& Message(SeenMessage* seen, QMessageBox::StandardButton press = QMessageBox::Ok);
  // Types name into a file dialog and accepts it, as Enter would.
  ModalScript& ChooseFile(const QString& name, QStringList* filters = nullptr, QString* offered = nullptr);
  // Cancels a file or other dialog of class T.
  ModalScript& Cancel(const char* className);

  bool Done() const { return Steps.empty() && Running == 0; }
  QStringList Unexpected;

private:
  struct Step {
    std::function<bool(QWidget*)> Matches;
    std::function<void(QWidget*)> Act;
    const char* Expected;
  };
  void Poll();

  QTimer Timer;
  std::deque<Step> Steps;
  QHash<QWidget*, int> Busy;  // windows whose posted action hasn't returned
  int Running = 0;
  ModalScript* Previous;
};

// Clicks a button like the mouse does.
void Click(QAbstractButton* button);
