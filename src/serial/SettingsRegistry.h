#pragma once
// The settings store on this system: the per-user INI file of QSettings
// ("Parvelco", "Quorlink Simulator"). A key path such as
// "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\Port Configuration"
// is the INI group "Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration".

#include "serial/Registry.h"

#include <QString>
#include <memory>
#include <string>

class QSettings;

// The per-user settings file, opened for one load or one save, and checked
// first: it is only ever read or written as a regular file, links are
// followed by the rules of platform/SafeFile.h, a file that can't be read is
// never written over, and what root creates in a user's folder goes to
// that user.
class SettingsFile {
public:
  enum class Use { Read, Write };
  explicit SettingsFile(Use use);
  ~SettingsFile();  // a write not yet committed is committed
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  // The settings, or null when the file may not be used as asked (Error
  // says why). A file that is simply missing reads as empty.
  QSettings* Settings() const;
  // Writes the changes out; false with Error set when they could not be.
  bool Commit();
  std::string Error() const;

  // Where the file is: QSettings' folder for per-user INI files, then
  // "Parvelco/Quorlink Simulator.ini".
  static std::string Path();

  // Front ends show why the settings could not be read or saved: the
  // command line on standard error, the windows in a message. A read
  // problem is told once until the file can be read again.
  enum class Problem { CannotRead, CannotSave };
  using ProblemHandler = void (*)(Problem problem, const std::string& text);
  static void SetProblemHandler(ProblemHandler handler);
  // The last problem met (any thread); empty when the last use went well.
  static std::string LastProblem();

private:
  struct Private;
  std::unique_ptr<Private> const d;
};

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
  QSettings* settings() const;

  std::unique_ptr<SettingsFile> file;
  bool writing = false;
  QString group;
  bool keyOpen = false;
  bool writeFailed = false;  // a value was written with no key open
};
