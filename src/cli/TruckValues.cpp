#include "cli/TruckValues.h"

#include "capture/CaptureFormat.h"
#include "cli/CliSupport.h"
#include "simulator/TruckDataMap.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cstring>

namespace TruckValues {

namespace {
constexpr int MaxByte = 254;  // the largest data length is 255 bytes

std::vector<Field> BuildColumns() {
  std::vector<Field> columns;
  for (int b = 0; b < TruckDataMap::AnalogBytes; ++b)
    columns.push_back(
        {QString::fromLatin1(TruckDataMap::NamedByteTable[b].Name), b, 0xFF, TruckDataMap::NamedByteTable[b].Name});
  for (const TruckDataMap::StatusFlag& flag : TruckDataMap::StatusFlags)
    columns.push_back({QString::fromLatin1(flag.Name), flag.Byte, flag.Mask, flag.Name});
  return columns;
}

bool IsFlag(const Field& field) { return field.Mask != 0xFF; }

// The value for a field from text; raises UsageError naming what.
int ValueFromText(const Field& field, const QString& text, const QString& what) {
  const QString t = text.trimmed().toLower();
  if (IsFlag(field)) {
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("on")) return 1;
    if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("off")) return 0;
    throw Cli::UsageError(
        QStringLiteral("%1 is a flag: give 0 or 1 (or true/false, on/off), not \"%2\"").arg(what, text));
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
    throw Cli::UsageError(
        QStringLiteral("no truck value is called \"%1\" (see 'quorlink send --help' for the names)").arg(name));
  Store(field, ValueFromText(field, assignment.mid(equals + 1), field.Name), record, length);
}

void AssignFromJsonFile(const QString& path, std::uint8_t* record, int length) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw Cli::Failure(QStringLiteral("cannot read the values file %1: %2").arg(path, file.errorString()));
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
  if (error.error != QJsonParseError::NoError)
    throw Cli::Failure(
        QStringLiteral("%1 is not valid JSON (at offset %2: %3)").arg(path).arg(error.offset).arg(error.errorString()));
  if (!document.isObject())
    throw Cli::Failure(QStringLiteral("%1 must hold one JSON object of name: value pairs").arg(path));
  const QJsonObject object = document.object();
  try {
    for (auto it = object.begin(); it != object.end(); ++it) {
      Field field;
      if (!Find(it.key(), field))
        throw Cli::UsageError(QStringLiteral("no truck value is called \"%1\"").arg(it.key()));
      const QJsonValue value = it.value();
      int v = 0;
      if (value.isBool()) {
        v = value.toBool() ? 1 : 0;
        if (!IsFlag(field))
          throw Cli::UsageError(QStringLiteral("%1 is a byte: give a number, not true or false").arg(field.Name));
      } else if (value.isDouble()) {
        const double d = value.toDouble();
        if (d != static_cast<double>(static_cast<long long>(d)))
          throw Cli::UsageError(QStringLiteral("%1 wants a whole number, not %2").arg(field.Name).arg(d));
        v = ValueFromText(field, QString::number(static_cast<long long>(d)), field.Name);
      } else if (value.isString()) {
        v = ValueFromText(field, value.toString(), field.Name);
      } else {
        throw Cli::UsageError(
            QStringLiteral("%1 wants a number, a text such as \"0x3C\" or true/false").arg(field.Name));
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

// Appends to a fixed buffer; what does not fit is left out, never written past it.
class Formatter::LineOut {
public:
  LineOut(char* data, std::size_t capacity) : Data(data), Capacity(capacity) {}
  void Add(char c) {
    if (Size < Capacity) Data[Size++] = c;
  }
  void Add(const char* text) { Add(text, std::strlen(text)); }
  void Add(const char* text, std::size_t length) {
    const std::size_t n = std::min(length, Capacity - Size);
    std::memcpy(Data + Size, text, n);
    Size += n;
  }
  void Number(long long value) {
    char digits[20];
    int n = 0;
    unsigned long long v =
        value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (value < 0) Add('-');
    while (n > 0) Add(digits[--n]);
  }
  void Time(int timeOfDayMs) {
    char text[CaptureFormat::TimeTextSize];
    Add(text, static_cast<std::size_t>(CaptureFormat::PutTimeOfDay(text, timeOfDayMs, '.') - text));
  }
  std::size_t Size = 0;

private:
  char* Data;
  std::size_t Capacity;
};

namespace {
int ValueOf(const Field& field, const Event& event) {
  const int v = event.Data[field.Byte];
  return field.Mask == 0xFF ? v : ((v & field.Mask) ? 1 : 0);
}
}  // namespace

Formatter::Formatter(Format format, int extraBytes, bool withLine)
    : Kind(format), ExtraBytes(extraBytes < 0 ? 0 : extraBytes), WithLine(withLine) {
  Columns();  // built now, so that Write never allocates
}

QByteArray Formatter::Header() const {
  if (Kind != Format::Csv) return {};
  QByteArray out;
  if (WithLine) out += "line,";
  out += "time,status,event,length";
  for (const Field& column : Columns()) out += ',' + column.Name.toLatin1();
  for (int i = 0; i < ExtraBytes; ++i) out += ",byte" + QByteArray::number(TruckDataMap::FirstAdditionalByte + i);
  out += '\n';
  return out;
}

QByteArray Formatter::Line(const Event& event) const {
  char line[LineMax];
  return QByteArray(line, static_cast<qsizetype>(Write(event, line, sizeof line)));
}

std::size_t Formatter::Write(const Event& event, char* buffer, std::size_t capacity) const {
  LineOut out(buffer, capacity > 0 ? capacity - 1 : 0);  // the newline always fits
  switch (Kind) {
  case Format::Csv: WriteCsv(event, out); break;
  case Format::Json: WriteJson(event, out); break;
  case Format::Text: WriteText(event, out); break;
  }
  if (capacity > 0) buffer[out.Size++] = '\n';
  return out.Size;
}

// line,time,status,event,length, every column, bytes 24 and up: a record
// shorter than a column leaves it empty.
void Formatter::WriteCsv(const Event& event, LineOut& out) const {
  if (WithLine) {
    out.Number(event.Line);
    out.Add(',');
  }
  out.Time(event.TimeOfDayMs);
  out.Add(',');
  out.Number(event.Status);
  out.Add(',');
  out.Add(event.What);
  out.Add(',');
  out.Number(event.Length);
  for (const Field& column : Columns()) {
    out.Add(',');
    if (column.Byte < event.Length) out.Number(ValueOf(column, event));
  }
  const int extraEnd = TruckDataMap::FirstAdditionalByte + ExtraBytes;
  for (int i = TruckDataMap::FirstAdditionalByte; i < extraEnd; ++i) {
    out.Add(',');
    if (i < event.Length) out.Number(event.Data[i]);
  }
}

// One object per line; only the bytes the record has.
void Formatter::WriteJson(const Event& event, LineOut& out) const {
  out.Add('{');
  if (WithLine) {
    out.Add("\"line\":");
    out.Number(event.Line);
    out.Add(',');
  }
  out.Add("\"time\":\"");
  out.Time(event.TimeOfDayMs);
  out.Add("\",\"status\":");
  out.Number(event.Status);
  out.Add(",\"event\":\"");
  out.Add(event.What);
  out.Add("\",\"length\":");
  out.Number(event.Length);
  for (const Field& column : Columns()) {
    if (column.Byte >= event.Length) continue;
    out.Add(",\"");
    out.Add(column.Key);
    out.Add("\":");
    out.Number(ValueOf(column, event));
  }
  for (int i = TruckDataMap::FirstAdditionalByte; i < event.Length; ++i) {
    out.Add(",\"byte");
    out.Number(i);
    out.Add("\":");
    out.Number(event.Data[i]);
  }
  out.Add('}');
}

// "12:34:56.789 good status=0 ground_speed=5 ... flags=dump_body_up,... extra=1,2".
void Formatter::WriteText(const Event& event, LineOut& out) const {
  out.Time(event.TimeOfDayMs);
  out.Add(' ');
  out.Add(*event.What ? event.What : "-");
  out.Add(" status=");
  out.Number(event.Status);
  for (const Field& column : Columns()) {
    if (column.Byte >= event.Length || column.Mask != 0xFF) continue;
    out.Add(' ');
    out.Add(column.Key);
    out.Add('=');
    out.Number(ValueOf(column, event));
  }
  if (event.Length > TruckDataMap::FirstStatusByte) {
    out.Add(" flags=");
    bool any = false;
    for (const Field& column : Columns()) {
      if (column.Byte >= event.Length || column.Mask == 0xFF || !ValueOf(column, event)) continue;
      if (any) out.Add(',');
      out.Add(column.Key);
      any = true;
    }
    if (!any) out.Add('-');
  }
  if (event.Length > TruckDataMap::FirstAdditionalByte) {
    out.Add(" extra=");
    for (int i = TruckDataMap::FirstAdditionalByte; i < event.Length; ++i) {
      if (i > TruckDataMap::FirstAdditionalByte) out.Add(',');
      out.Number(event.Data[i]);
    }
  }
}

}  // namespace TruckValues
