#include "serial/SettingsRegistry.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <limits>

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

SettingsRegistry::SettingsRegistry()
    : settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Parvelco"),
                                           QStringLiteral("Quorlink Simulator"))) {}

SettingsRegistry::~SettingsRegistry() = default;

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

bool SettingsRegistry::ValueExists(const std::string& name) { return keyOpen && settings->contains(pathOf(name)); }

std::int32_t SettingsRegistry::ReadInteger(const std::string& name) {
  const QVariant value = keyOpen ? settings->value(pathOf(name)) : QVariant();
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
  settings->setValue(pathOf(name), static_cast<int>(value));
}

void SettingsRegistry::CloseKey() {
  keyOpen = false;
  group.clear();
}

bool SettingsRegistry::Flush() {
  settings->sync();
  // A format error only means the old file was damaged; it has been rewritten.
  return !writeFailed && settings->status() != QSettings::AccessError;
}
