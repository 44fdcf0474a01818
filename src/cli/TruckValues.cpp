#include "cli/TruckValues.h"

#include "cli/CliSupport.h"
#include "simulator/TruckDataMap.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace TruckValues {

namespace {
constexpr int MaxByte = 254;  // the largest data length is 255 bytes

std::vector<Field> BuildColumns() {
  std::vector<Field> columns;
  for (int b = 0; b < TruckDataMap::AnalogBytes; ++b)
    columns.push_back({QString::fromLatin1(TruckDataMap::NamedByteTable[b].Name), b, 0xFF});
  for (const TruckDataMap::StatusFlag& flag : TruckDataMap::StatusFlags)
    columns.push_back({QString::fromLatin1(flag.Name), flag.Byte, flag.Mask});
  return columns;
}

bool IsFlag(const Field& field) { return field.Mask != 0xFF; }

// The value for a field from text; raises UsageError naming what.
int ValueFromText(const Field& field, const QString& text, const QString& what) {
  const QString t = text.trimmed().toLower();
  if (IsFlag(field)) {
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("on")) return 1;
    if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("off")) return 0;
    throw Cli::UsageError(QStringLiteral("%1 is a flag: give 0 or 1 (or true/false, on/off), not \"%2\"").arg(what, text));
  }
  return static_cast<int>(Cli::ToInteger(text, what, 0, 255));
}

void Store(const Field& field, int value, std::uint8_t* record, int length) {
  if (field.Byte >= length)
    throw Cli::UsageError(QStringLiteral("%1 is byte %2, beyond the %3 data bytes of the frame")
                              .arg(field.Name)
                              .arg(field.Byte)
                              .arg(length));
  if (!IsFlag(field))
    record[field.Byte] = static_cast<std::uint8_t>(value);
  else if (value)
    record[field.Byte] |= field.Mask;
  else
    record[field.Byte] &= static_cast<std::uint8_t>(~field.Mask);
}

void AppendNumber(QByteArray& out, int value) { out += QByteArray::number(value); }

QByteArray CsvText(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))) return text.toUtf8();
  QString quoted = text;
  quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
  return '"' + quoted.toUtf8() + '"';
}
}  // namespace

const std::vector<Field>& Columns() {
  static const std::vector<Field> columns = BuildColumns();
  return columns;
}

bool Find(const QString& name, Field& field) {
  const QString n = name.trimmed().toLower();
  for (const Field& column : Columns())
    if (column.Name == n) {
      field = column;
      return true;
    }
  for (int s = 0; s < TruckDataMap::StatusBytes; ++s) {
    const int byte = TruckDataMap::FirstStatusByte + s;
    if (n == QLatin1String(TruckDataMap::NamedByteTable[byte].Name)) {
      field = {n, byte, 0xFF};
      return true;
    }
  }
  if (n.startsWith(QLatin1String("byte"))) {
    bool ok = false;
    const int byte = n.mid(4).toInt(&ok, 10);
    if (ok && byte >= 0 && byte <= MaxByte && n.mid(4) == QString::number(byte)) {
      field = {n, byte, 0xFF};
      return true;
    }
  }
  return false;
}

void Assign(const QString& assignment, std::uint8_t* record, int length) {
  const qsizetype equals = assignment.indexOf(QLatin1Char('='));
  if (equals <= 0) throw Cli::UsageError(QStringLiteral("--set wants name=value, not \"%1\"").arg(assignment));
  const QString name = assignment.left(equals).trimmed();
  Field field;
  if (!Find(name, field))
    throw Cli::UsageError(QStringLiteral("no truck value is called \"%1\" (see 'quorlink send --help' for the names)").arg(name));
  Store(field, ValueFromText(field, assignment.mid(equals + 1), field.Name), record, length);
}

void AssignFromJsonFile(const QString& path, std::uint8_t* record, int length) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw Cli::Failure(QStringLiteral("cannot read the values file %1: %2").arg(path, file.errorString()));
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
  if (error.error != QJsonParseError::NoError)
    throw Cli::Failure(QStringLiteral("%1 is not valid JSON (at offset %2: %3)").arg(path).arg(error.offset).arg(error.errorString()));
  if (!document.isObject())
    throw Cli::Failure(QStringLiteral("%1 must hold one JSON object of name: value pairs").arg(path));
  const QJsonObject object = document.object();
  try {
    for (auto it = object.begin(); it != object.end(); ++it) {
      Field field;
      if (!Find(it.key(), field)) throw Cli::UsageError(QStringLiteral("no truck value is called \"%1\"").arg(it.key()));
      const QJsonValue value = it.value();
      int v = 0;
      if (value.isBool()) {
        v = value.toBool() ? 1 : 0;
        if (!IsFlag(field)) throw Cli::UsageError(QStringLiteral("%1 is a byte: give a number, not true or false").arg(field.Name));
      } else if (value.isDouble()) {
        const double d = value.toDouble();
        if (d != static_cast<double>(static_cast<long long>(d)))
          throw Cli::UsageError(QStringLiteral("%1 wants a whole number, not %2").arg(field.Name).arg(d));
        v = ValueFromText(field, QString::number(static_cast<long long>(d)), field.Name);
      } else if (value.isString()) {
        v = ValueFromText(field, value.toString(), field.Name);
      } else {
        throw Cli::UsageError(QStringLiteral("%1 wants a number, a text such as \"0x3C\" or true/false").arg(field.Name));
      }
      Store(field, v, record, length);
    }
  } catch (const Cli::UsageError& e) {
    throw Cli::Failure(QStringLiteral("%1: %2").arg(path, QString::fromStdString(e.what())));
  }
}

Format ParseFormat(const QString& text) {
  const QString t = text.toLower();
  if (t == QLatin1String("text")) return Format::Text;
  if (t == QLatin1String("csv")) return Format::Csv;
  if (t == QLatin1String("json")) return Format::Json;
  throw Cli::UsageError(QStringLiteral("--format wants text, csv or json, not \"%1\"").arg(text));
}

QString StatusWord(int status) {
  switch (status) {
  case 0: return QStringLiteral("good");
  case 1: return QStringLiteral("checksum-error");
  case 2: return QStringLiteral("start-byte");
  case 3: return QStringLiteral("length-error");
  default: return QStringLiteral("status-%1").arg(status);
  }
}

Formatter::Formatter(Format format, int extraBytes, bool withLine)
    : Kind(format), ExtraBytes(extraBytes < 0 ? 0 : extraBytes), WithLine(withLine) {}

QByteArray Formatter::Header() const {
  if (Kind != Format::Csv) return {};
  QByteArray out;
  if (WithLine) out += "line,";
  out += "time,status,length";
  for (const Field& column : Columns()) out += ',' + column.Name.toLatin1();
  for (int i = 0; i < ExtraBytes; ++i) out += ",byte" + QByteArray::number(TruckDataMap::FirstAdditionalByte + i);
  out += '\n';
  return out;
}

QByteArray Formatter::Line(const Event& event) const {
  const auto value = [&event](const Field& field) {
    const int v = event.Data[field.Byte];
    return field.Mask == 0xFF ? v : ((v & field.Mask) ? 1 : 0);
  };
  const int extraEnd = TruckDataMap::FirstAdditionalByte + ExtraBytes;
  QByteArray out;
  switch (Kind) {
  case Format::Csv:
    if (WithLine) {
      AppendNumber(out, event.Line);
      out += ',';
    }
    out += CsvText(event.Time) + ',';
    AppendNumber(out, event.Status);
    out += ',';
    AppendNumber(out, event.Length);
    for (const Field& column : Columns()) {
      out += ',';
      if (column.Byte < event.Length) AppendNumber(out, value(column));
    }
    for (int i = TruckDataMap::FirstAdditionalByte; i < extraEnd; ++i) {
      out += ',';
      if (i < event.Length) AppendNumber(out, event.Data[i]);
    }
    break;

  case Format::Json:
    out += '{';
    if (WithLine) {
      out += "\"line\":";
      AppendNumber(out, event.Line);
      out += ',';
    }
    out += "\"time\":\"" + event.Time.toUtf8() + "\",\"status\":";
    AppendNumber(out, event.Status);
    out += ",\"length\":";
    AppendNumber(out, event.Length);
    for (const Field& column : Columns()) {
      if (column.Byte >= event.Length) continue;
      out += ",\"" + column.Name.toLatin1() + "\":";
      AppendNumber(out, value(column));
    }
    for (int i = TruckDataMap::FirstAdditionalByte; i < event.Length; ++i) {
      out += ",\"byte" + QByteArray::number(i) + "\":";
      AppendNumber(out, event.Data[i]);
    }
    out += '}';
    break;

  case Format::Text: {
    out += event.Time.toUtf8() + ' ' + StatusWord(event.Status).toLatin1();
    QByteArray flags;
    for (const Field& column : Columns()) {
      if (column.Byte >= event.Length) continue;
      if (column.Mask == 0xFF) {
        out += ' ' + column.Name.toLatin1() + '=';
        AppendNumber(out, value(column));
      } else if (value(column)) {
        flags += (flags.isEmpty() ? "" : ",") + column.Name.toLatin1();
      }
    }
    if (event.Length > TruckDataMap::FirstStatusByte) out += " flags=" + (flags.isEmpty() ? QByteArray("-") : flags);
    if (event.Length > TruckDataMap::FirstAdditionalByte) {
      out += " extra=";
      for (int i = TruckDataMap::FirstAdditionalByte; i < event.Length; ++i) {
        if (i > TruckDataMap::FirstAdditionalByte) out += ',';
        AppendNumber(out, event.Data[i]);
      }
    }
    break;
  }
  }
  out += '\n';
  return out;
}

}  // namespace TruckValues
