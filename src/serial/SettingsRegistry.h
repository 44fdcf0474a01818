#pragma once
// The settings store on this system: the per-user INI file of QSettings
// ("Parvelco", "Quorlink Simulator"). A key path such as
// "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\Port Configuration"
// is the INI group "Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration".

#include "serial/Registry.h"

#include <QString>
#include <memory>

class QSettings;

class SettingsRegistry : public TRegistry {
public:
  SettingsRegistry();
  ~SettingsRegistry() override;

  bool OpenKey(const std::string& key, bool canCreate) override;
  bool ValueExists(const std::string& name) override;
  std::int32_t ReadInteger(const std::string& name) override;
  void WriteInteger(const std::string& name, std::int32_t value) override;
  void CloseKey() override;
  bool Flush() override;

  // The INI group a key path names: backslashes become slashes, empty parts go.
  static QString GroupOf(const std::string& key);

private:
  QString pathOf(const std::string& name) const;

  std::unique_ptr<QSettings> settings;
  QString group;
  bool keyOpen = false;
  bool writeFailed = false;  // a value was written with no key open
};
