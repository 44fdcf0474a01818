#include "serial/SettingsRegistry.h"

#include "platform/SafeFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <unistd.h>

namespace {

bool isDecimalInteger(const QString& text) {
  int i = 0;
  if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) i = 1;
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < u'0' || text[i] > u'9') return false;
  return true;
}

// What was stored, short and printable, for the error text.
QString shownValue(const QVariant& value) {
  QString text;
  if (value.typeId() == QMetaType::QStringList)
    text = value.toStringList().join(u", ");
  else if (value.canConvert<QString>())
    text = value.toString();
  else
    text = QStringLiteral("<%1>").arg(QString::fromLatin1(value.typeName() ? value.typeName() : "unreadable"));
  constexpr int maxLength = 60;
  if (text.size() > maxLength) text = text.left(maxLength) + QStringLiteral("...");
  for (QChar& c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u'?';
  return text;
}

}  // namespace

// SettingsFile ------------------------------------------------------------------

namespace {

std::atomic<SettingsFile::ProblemHandler> problemHandler{nullptr};
std::mutex problemLock;
std::string lastProblem;      // guarded by problemLock
std::string toldReadProblem;  // the read problem the handler was last told of

void Tell(SettingsFile::Problem problem, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(problemLock);
    lastProblem = text;
    if (problem == SettingsFile::Problem::CannotRead) {
      if (toldReadProblem == text) return;
      toldReadProblem = text;
    }
  }
  if (const SettingsFile::ProblemHandler handler = problemHandler.load()) handler(problem, text);
}

void AllWell(SettingsFile::Use use) {
  std::lock_guard<std::mutex> lock(problemLock);
  lastProblem.clear();
  if (use == SettingsFile::Use::Read) toldReadProblem.clear();
}

}  // namespace

struct SettingsFile::Private {
  Use Mode = Use::Read;
  std::unique_ptr<QSettings> Settings;
  std::string Path;  // the file itself, links followed
  std::string Error;
  bool Committed = false;

  void Fail(const std::string& text) {
    Error = text;
    Tell(Mode == Use::Read ? Problem::CannotRead : Problem::CannotSave, text);
  }
  void Open(Use use);
};

SettingsFile::SettingsFile(Use use) : d(std::make_unique<Private>()) { d->Open(use); }

void SettingsFile::Private::Open(Use use) {
  Mode = use;
  const std::string path = SettingsFile::Path();
  SafeFile::Target target;
  std::string reason;
  const int code = SafeFile::Resolve(path, target, reason, use == Use::Write);
  if (code == ENOENT && use == Use::Read) {
    // No folder yet: nothing has been stored.
    Settings = std::make_unique<QSettings>(QFile::decodeName(path.c_str()), QSettings::IniFormat);
    AllWell(use);
    return;
  }
  const std::string shown = path == target.Path || code != 0 ? path : path + " (which leads to " + target.Path + ")";
  if (code != 0) return Fail(path + ": " + reason);
  if (target.Exists && !S_ISREG(target.Stat.st_mode))
    return Fail(shown + " is not a regular file but " + SafeFile::KindOf(target.Stat.st_mode) +
                (use == Use::Write ? "; nothing was written" : ""));
  if (target.Exists) {
    const int fd = ::open(target.Path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      return Fail(shown + ": " + std::strerror(errno) +
                  (use == Use::Write ? "; a file that can't be read is not written over" : ""));
    ::close(fd);
  }
  Path = target.Path;
  Settings = std::make_unique<QSettings>(QFile::decodeName(target.Path.c_str()), QSettings::IniFormat);
  if (use == Use::Read) AllWell(use);
}

SettingsFile::~SettingsFile() {
  if (d->Mode == Use::Write && !d->Committed) Commit();
}

QSettings* SettingsFile::Settings() const { return d->Settings.get(); }

bool SettingsFile::Commit() {
  if (!d->Settings) return false;
  if (d->Mode != Use::Write) return true;
  d->Committed = true;
  d->Settings->sync();
  // A format error only means the old file was damaged; it has been rewritten.
  if (d->Settings->status() == QSettings::AccessError) {
    d->Fail(d->Path + ": cannot be written");
    return false;
  }
  SafeFile::HandToFolderOwner(d->Path);
  AllWell(d->Mode);
  return true;
}

std::string SettingsFile::Error() const { return d->Error; }

std::string SettingsFile::Path() {
  // QSettings knows the folder (QSettings::setPath may have moved it) but
  // reads any file it is pointed at on the spot, which must not be ours
  // before it has been checked; a name nobody uses tells the folder.
  const QString probe = QStringLiteral("/.quorlink-settings-probe/probe.ini");
  QString folder = QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral(".quorlink-settings-probe"),
                             QStringLiteral("probe"))
                       .fileName();
  if (folder.endsWith(probe)) folder.chop(probe.size());
  return QFile::encodeName(folder + QStringLiteral("/Parvelco/Quorlink Simulator.ini")).toStdString();
}

void SettingsFile::SetProblemHandler(ProblemHandler handler) { problemHandler.store(handler); }

std::string SettingsFile::LastProblem() {
  std::lock_guard<std::mutex> lock(problemLock);
  return lastProblem;
}

// SettingsRegistry --------------------------------------------------------------

SettingsRegistry::SettingsRegistry() = default;

SettingsRegistry::~SettingsRegistry() = default;

QSettings* SettingsRegistry::settings() const { return file ? file->Settings() : nullptr; }

QString SettingsRegistry::GroupOf(const std::string& key) {
  const QStringList parts =
      QString::fromStdString(key).split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
  return parts.join(u'/');
}

QString SettingsRegistry::pathOf(const std::string& name) const {
  const QString value = QString::fromStdString(name);
  return group.isEmpty() ? value : group + u'/' + value;
}

bool SettingsRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  const QString wanted = GroupOf(key);
  const SettingsFile::Use use = canCreate ? SettingsFile::Use::Write : SettingsFile::Use::Read;
  if (!file || (use == SettingsFile::Use::Write) != writing) {
    file.reset();  // a write before is committed first
    file = std::make_unique<SettingsFile>(use);
    writing = use == SettingsFile::Use::Write;
  }
  QSettings* const settings = this->settings();
  if (!settings) return false;
  if (canCreate) {
    // The group comes into being with its first value.
    if (!settings->isWritable()) return false;
  } else {
    settings->beginGroup(wanted);
    const bool exists = !settings->allKeys().isEmpty();
    settings->endGroup();
    if (!exists) return false;
  }
  group = wanted;
  keyOpen = true;
  return true;
}

bool SettingsRegistry::ValueExists(const std::string& name) { return keyOpen && settings()->contains(pathOf(name)); }

std::int32_t SettingsRegistry::ReadInteger(const std::string& name) {
  const QVariant value = keyOpen ? settings()->value(pathOf(name)) : QVariant();
  bool ok = false;
  qlonglong number = 0;
  switch (value.typeId()) {
  case QMetaType::Int:
  case QMetaType::UInt:
  case QMetaType::Long:
  case QMetaType::LongLong:
  case QMetaType::Short:
  case QMetaType::UShort: number = value.toLongLong(&ok); break;
  case QMetaType::ULong:
  case QMetaType::ULongLong: {
    const qulonglong u = value.toULongLong(&ok);
    ok = ok && u <= static_cast<qulonglong>(std::numeric_limits<std::int32_t>::max());
    number = static_cast<qlonglong>(u);
    break;
  }
  case QMetaType::QString: {
    const QString text = value.toString().trimmed();
    if (isDecimalInteger(text)) number = text.toLongLong(&ok, 10);
    break;
  }
  default: break;
  }
  if (ok && number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
    return static_cast<std::int32_t>(number);

  const QString where = keyOpen ? group : QStringLiteral("(no key open)");
  const QString stored = value.isValid() ? QStringLiteral("\"%1\"").arg(shownValue(value)) : QStringLiteral("nothing");
  throw ERegistryException(QStringLiteral("Settings value \"%1\" under \"%2\" is not a 32-bit integer: %3")
                               .arg(QString::fromStdString(name), where, stored)
                               .toStdString());
}

void SettingsRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  if (!keyOpen) {
    writeFailed = true;
    return;
  }
  settings()->setValue(pathOf(name), static_cast<int>(value));
}

void SettingsRegistry::CloseKey() {
  keyOpen = false;
  group.clear();
}

bool SettingsRegistry::Flush() {
  if (!file) return !writeFailed;
  return file->Commit() && !writeFailed;
}
