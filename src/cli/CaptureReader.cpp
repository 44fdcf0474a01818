#include "cli/CaptureReader.h"

#include <QFile>

namespace {

const QByteArray HeaderStart = "Log Start ";
const QByteArray ColumnLine = "Time      Status  Length >Data[0] Data[1] Data[2] ...";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads count decimal digits at pos.
bool Digits(const QByteArray& line, qsizetype pos, int count, int& value) {
  if (pos + count > line.size()) return false;
  value = 0;
  for (int i = 0; i < count; ++i) {
    const char c = line.at(pos + i);
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

void SkipSpaces(const QByteArray& line, qsizetype& pos) {
  while (pos < line.size() && line.at(pos) == ' ') ++pos;
}

// Parses one record line; returns the reason when it isn't one.
QString ParseRecord(const QByteArray& line, CaptureRecord& r) {
  if (!(Digits(line, 0, 2, r.Hours) && line.size() > 2 && line.at(2) == ':' && Digits(line, 3, 2, r.Minutes) &&
        line.size() > 5 && line.at(5) == ':' && Digits(line, 6, 2, r.Seconds) && line.size() > 8 && line.at(8) == ':' &&
        Digits(line, 9, 3, r.Millis)))
    return QStringLiteral("not a capture line (no time HH:MM:SS:mmm at its start)");
  if (r.Hours > 23 || r.Minutes > 59 || r.Seconds > 59) return QStringLiteral("the time is out of range");

  qsizetype pos = 12;
  if (pos >= line.size() || line.at(pos) != ' ') return QStringLiteral("no status after the time");
  SkipSpaces(line, pos);
  long long status = 0;
  int digits = 0;
  for (; pos < line.size() && HexValue(line.at(pos)) >= 0; ++pos, ++digits)
    status = status * 16 + HexValue(line.at(pos));
  if (digits == 0 || digits > 8) return QStringLiteral("the status is not a hexadecimal number");
  r.Status = static_cast<int>(static_cast<std::uint32_t>(status));

  if (pos >= line.size() || line.at(pos) != ' ') return QStringLiteral("no data length after the status");
  SkipSpaces(line, pos);
  long long length = 0;
  digits = 0;
  for (; pos < line.size() && IsDigit(line.at(pos)); ++pos, ++digits) length = length * 10 + (line.at(pos) - '0');
  if (digits == 0 || digits > 3 || length > 255) return QStringLiteral("the data length is not a number from 0 to 255");
  r.Length = static_cast<int>(length);

  SkipSpaces(line, pos);
  if (pos >= line.size() || line.at(pos) != '>') return QStringLiteral("no '>' before the data bytes");
  ++pos;
  int count = 0;
  for (;;) {
    if (pos < line.size() && line.at(pos) == '<') break;
    if (pos + 2 >= line.size()) return QStringLiteral("the line ends before its '<'");
    const char c = line.at(pos);
    if (HexValue(c) < 0 || HexValue(line.at(pos + 1)) < 0 || line.at(pos + 2) != ' ')
      return QStringLiteral("data byte %1 is not two hexadecimal digits and a space").arg(count);
    if (count >= r.Length) return QStringLiteral("more data bytes than the data length of %1").arg(r.Length);
    r.Data[count++] = static_cast<std::uint8_t>(HexValue(c) * 16 + HexValue(line.at(pos + 1)));
    pos += 3;
  }
  if (count != r.Length) return QStringLiteral("%1 data bytes where the data length is %2").arg(count).arg(r.Length);
  if (pos + 1 != line.size()) return QStringLiteral("text after the closing '<'");
  return {};
}

}  // namespace

CaptureContents ParseCapture(const QByteArray& text) {
  CaptureContents contents;
  int number = 0;
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = text.indexOf('\n', start);
    if (end < 0) end = text.size();
    QByteArray line = text.mid(start, end - start);
    start = end + 1;
    ++number;
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty() || line.startsWith(HeaderStart) || line == ColumnLine) continue;
    CaptureRecord record;
    record.Line = number;
    const QString reason = ParseRecord(line, record);
    if (reason.isEmpty())
      contents.Records.push_back(record);
    else
      contents.Problems.push_back({number, reason});
  }
  return contents;
}

bool ReadCaptureFile(const QString& path, CaptureContents& contents, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return false;
  }
  contents = ParseCapture(file.readAll());
  return true;
}
