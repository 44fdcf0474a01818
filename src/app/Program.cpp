#include "app/Program.h"

#include "app/AboutBox.h"
#include "app/MainForm.h"
#include "app/ModeSelect.h"

#include <QApplication>
#include <memory>

namespace {

// Names a window in its global for as long as the guard lives, on every way out.
template <class T>
class TNamedWindow {
public:
  TNamedWindow(T*& global, T* window) : Global(global) { Global = window; }
  ~TNamedWindow() { Global = nullptr; }
  TNamedWindow(const TNamedWindow&) = delete;
  TNamedWindow& operator=(const TNamedWindow&) = delete;

private:
  T*& Global;
};

}  // namespace

int RunProgram() {
  int mode = 0;
  {
    TForm_ModeSelect select(nullptr);
    const TNamedWindow named(Form_ModeSelect, &select);
    if (select.exec() != QDialog::Accepted) return 0;  // Cancel or the close box: nothing else happens
    mode = select.GetMode();
  }

  // Destroyed in reverse: the about box, then the main window, which stops the
  // worker and closes the capture file and the port.
  const auto main = std::make_unique<TMainForm>();
  const TNamedWindow mainNamed(MainForm, main.get());
  const auto about = std::make_unique<TAboutBox>(main.get());
  const TNamedWindow aboutNamed(AboutBox, about.get());
  main->SetMode(mode);

  // The program ends with its main window, whatever other windows are up.
  const bool quitOnLast = qApp->quitOnLastWindowClosed();
  qApp->setQuitOnLastWindowClosed(false);
  QObject::connect(main.get(), &TMainForm::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  main->show();
  qApp->exec();
  qApp->setQuitOnLastWindowClosed(quitOnLast);
  return 0;
}
