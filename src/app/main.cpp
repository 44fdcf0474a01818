#include "app/Application.h"
#include "app/Program.h"

#include <QDirIterator>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

const char* const NoDisplaySet =
    "quorlink-simulator: needs a graphical session, and none is set (DISPLAY or "
    "WAYLAND_DISPLAY); without one, use the command 'quorlink'\n";
const char* const DisplayNotOpened =
    "quorlink-simulator: cannot open the graphical session; without one, use the "
    "command 'quorlink'\n";

bool DisplayNamed(int argc, char** argv) {
  if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
      !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    return true;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return true;
  return false;
}

// A display that is named but cannot be opened ends in a fatal message from
// the toolkit while the application object is made; say it in our words.
QtMessageHandler toolkitHandler = nullptr;
void NoDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (toolkitHandler) toolkitHandler(type, context, message);
    return;
  }
  std::fputs(DisplayNotOpened, stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (!DisplayNamed(argc, argv)) {
    std::fputs(NoDisplaySet, stderr);
    return 1;
  }
  toolkitHandler = qInstallMessageHandler(NoDisplay);
  TApplication app(argc, argv);
  qInstallMessageHandler(toolkitHandler);

  QIcon icon;
  for (QDirIterator png(QStringLiteral(":/icons"), QDir::Files, QDirIterator::Subdirectories); png.hasNext();)
    icon.addFile(png.next());
  QApplication::setWindowIcon(icon);  // every window without an icon of its own shows this one
  QGuiApplication::setDesktopFileName(QStringLiteral("quorlink-simulator"));

  try {
    return RunProgram();
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError(nullptr);
  }
  return 0;
}
