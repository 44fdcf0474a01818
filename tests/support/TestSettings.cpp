#include "TestSettings.h"

#include <QCoreApplication>
#include <QSettings>
#include <thread>

TestSettings::TestSettings() {
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Dir.path());
  qputenv("XDG_CONFIG_HOME", Dir.path().toLocal8Bit());
  // The virtual null-modems' ports and claims, too.
  qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
}

TestSettings::~TestSettings() {
  // Leave nothing pointing at a folder that is about to go away.
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Dir.path() + "/gone");
}

QString TestSettings::FilePath() const { return Dir.path() + "/Parvelco/Quorlink Simulator.ini"; }

bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return cond();
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
