#include "app/Program.h"

#include "app/AboutBox.h"
#include "app/MainForm.h"
#include "app/ModeSelect.h"

#include <QApplication>
#include <memory>

int RunProgram() {
  Form_ModeSelect = new TForm_ModeSelect(nullptr);
  const int result = Form_ModeSelect->exec();
  const int mode = Form_ModeSelect->GetMode();
  delete Form_ModeSelect;
  Form_ModeSelect = nullptr;
  if (result != QDialog::Accepted) return 0;  // Cancel or the close box: nothing else happens

  auto main = std::make_unique<TMainForm>();
  MainForm = main.get();
  auto about = std::make_unique<TAboutBox>(main.get());
  AboutBox = about.get();
  main->SetMode(mode);

  // The program ends with its main window, whatever other windows are up.
  const bool quitOnLast = qApp->quitOnLastWindowClosed();
  qApp->setQuitOnLastWindowClosed(false);
  QObject::connect(main.get(), &TMainForm::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  main->show();
  qApp->exec();
  qApp->setQuitOnLastWindowClosed(quitOnLast);

  AboutBox = nullptr;
  about.reset();
  main.reset();  // stops the worker, closes the capture file and the port
  return 0;
}
