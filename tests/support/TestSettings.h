#pragma once
// Points the per-user settings file (and the runtime folder of the virtual
// null-modems) at a temporary folder for the lifetime of the object, so tests
// never touch the user's own settings.

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

class TestSettings {
public:
  TestSettings();
  ~TestSettings();
  QString Folder() const { return Dir.path(); }
  // The settings file the program writes in that folder.
  QString FilePath() const;

private:
  QTemporaryDir Dir;
  QTemporaryDir Runtime;  // made private to this user, as a runtime folder must be
};

// Polls cond until it holds or the deadline passes; returns its last value.
// Pumps the Qt event loop between polls when one exists.
bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(20));
