#include "capture/CaptureFormat.h"

#include "platform/HexDigits.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstring>
#include <ctime>

namespace CaptureFormat {

namespace {

// "00 " to "ff ": one data byte of a record line.
struct THexTable {
  char Text[256][3];
  constexpr THexTable() : Text{} {
    for (int i = 0; i < 256; ++i) {
      Text[i][0] = HexDigits::Lower[i >> 4];
      Text[i][1] = HexDigits::Lower[i & 15];
      Text[i][2] = ' ';
    }
  }
};
constexpr THexTable HexTable;

// The value of every byte as a hexadecimal digit, -1 for none: the parser
// looks up two per data byte of every line.
struct TDigitTable {
  signed char Value[256];
  constexpr TDigitTable() : Value{} {
    for (int i = 0; i < 256; ++i) Value[i] = static_cast<signed char>(HexDigits::Value(static_cast<char32_t>(i)));
  }
};
constexpr TDigitTable DigitTable;

int Digit(char c) { return DigitTable.Value[static_cast<unsigned char>(c)]; }

char* PutDigits(char* p, unsigned value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + digits;
}

char* PutDecimal(char* p, unsigned value) {
  char text[10];
  int n = 0;
  do {
    text[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *p++ = text[--n];
  return p;
}

char* PutHex(char* p, unsigned value) {
  char text[8];
  int n = 0;
  do {
    text[n++] = HexDigits::Lower[value & 15];
    value >>= 4;
  } while (value != 0);
  while (n > 0) *p++ = text[--n];
  return p;
}

char* PutText(char* p, const char* text, std::size_t length) {
  std::memcpy(p, text, length);
  return p + length;
}

// The locale's long time format names the time zone; the header shows hours,
// minutes and seconds only.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString result;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    result += c;
  }
  return result.simplified();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A reader over one line that never looks past its end.
struct Cursor {
  const char* P;
  const char* End;

  char Peek() const { return P < End ? *P : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++P;
    return true;
  }
  void SkipSpaces() {
    while (P < End && *P == ' ') ++P;
  }
  // Exactly count decimal digits.
  bool Digits(int count, int& value) {
    if (End - P < count) return false;
    value = 0;
    for (int i = 0; i < count; ++i) {
      if (!IsDigit(P[i])) return false;
      value = value * 10 + (P[i] - '0');
    }
    P += count;
    return true;
  }
};

LineKind Damaged(Damage& damage, Damage::Reason why, int count = 0, int length = 0) {
  damage = {why, count, length};
  return LineKind::Damaged;
}

bool StartsWith(const char* begin, const char* end, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return static_cast<std::size_t>(end - begin) >= n && std::memcmp(begin, prefix, n) == 0;
}

}  // namespace

int LocalTimeOfDayMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + static_cast<int>(now.tv_nsec / 1000000);
}

char* PutTimeOfDay(char* out, int timeOfDayMs, char millisSeparator) {
  const unsigned ms = timeOfDayMs < 0 ? 0u : static_cast<unsigned>(timeOfDayMs);
  char* p = PutDigits(out, ms / 3600000 % 100, 2);
  *p++ = ':';
  p = PutDigits(p, ms / 60000 % 60, 2);
  *p++ = ':';
  p = PutDigits(p, ms / 1000 % 60, 2);
  *p++ = millisSeparator;
  return PutDigits(p, ms % 1000, 3);
}

std::size_t FormatRecordLine(char* out, int hours, int minutes, int seconds, int millis, int status,
                             std::uint8_t length, const std::uint8_t* data) {
  char* p = out;
  p = PutDigits(p, static_cast<unsigned>(hours) % 100, 2);
  *p++ = ':';
  p = PutDigits(p, static_cast<unsigned>(minutes) % 100, 2);
  *p++ = ':';
  p = PutDigits(p, static_cast<unsigned>(seconds) % 100, 2);
  *p++ = ':';
  p = PutDigits(p, static_cast<unsigned>(millis) % 1000, 3);
  *p++ = ' ';
  p = PutHex(p, static_cast<unsigned>(status));
  p = PutText(p, "      ", 6);
  p = PutDecimal(p, length);
  p = PutText(p, "   >", 4);
  for (unsigned i = 0; i < length; ++i) p = PutText(p, HexTable.Text[data[i]], 3);
  p = PutText(p, "<\r\n", 3);
  return static_cast<std::size_t>(p - out);
}

std::size_t FormatRecordLine(char* out, int timeOfDayMs, int status, std::uint8_t length, const std::uint8_t* data) {
  return FormatRecordLine(out, timeOfDayMs / 3600000, timeOfDayMs / 60000 % 60, timeOfDayMs / 1000 % 60,
                          timeOfDayMs % 1000, status, length, data);
}

std::string FormatHeader(const QDateTime& now) {
  const QLocale locale = QLocale::system();
  const QString date = locale.toString(now.date(), QLocale::ShortFormat);
  const QString time = locale.toString(now.time(), LongTimeFormatWithoutZone(locale));
  std::string header = HeaderStart;
  header += (date + u' ' + time).toLocal8Bit().toStdString();
  header += "\r\n";
  header += ColumnLine;
  header += "\r\n";
  return header;
}

bool ParseHeader(const char* begin, const char* end, QDateTime& started) {
  if (!StartsWith(begin, end, HeaderStart)) return false;
  const std::size_t skip = sizeof HeaderStart - 1;
  const QString text =
      QString::fromLocal8Bit(begin + skip, static_cast<qsizetype>(end - begin) - static_cast<qsizetype>(skip))
          .simplified();
  const QLocale locales[] = {QLocale::system(), QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                             QLocale(QLocale::German, QLocale::Germany)};
  for (const QLocale& locale : locales) {
    const QString formats[] = {locale.dateFormat(QLocale::ShortFormat) + u' ' + LongTimeFormatWithoutZone(locale),
                               locale.dateFormat(QLocale::ShortFormat) + u' ' + locale.timeFormat(QLocale::ShortFormat),
                               QStringLiteral("yyyy-MM-dd HH:mm:ss")};
    for (const QString& format : formats) {
      QDateTime t = locale.toDateTime(text, format);
      if (!t.isValid()) continue;
      if (t.date().year() < 1970) t = t.addYears(100);  // "yy" reads as 19yy
      started = t;
      return true;
    }
  }
  return false;
}

std::string Describe(const Damage& damage) {
  switch (damage.Why) {
  case Damage::None: return {};
  case Damage::NoTime: return "not a capture line (no time HH:MM:SS:mmm at its start)";
  case Damage::TimeOutOfRange: return "the time is out of range";
  case Damage::NoStatus: return "no status after the time";
  case Damage::BadStatus: return "the status is not a hexadecimal number";
  case Damage::NoLength: return "no data length after the status";
  case Damage::BadLength: return "the data length is not a number from 0 to 255";
  case Damage::NoDataStart: return "no '>' before the data bytes";
  case Damage::CutShort: return "the line ends before its '<'";
  case Damage::BadByte:
    return "data byte " + std::to_string(damage.Count) + " is not two hexadecimal digits and a space";
  case Damage::TooManyBytes: return "more data bytes than the data length of " + std::to_string(damage.Length);
  case Damage::ByteCount:
    return std::to_string(damage.Count) + " data bytes where the data length is " + std::to_string(damage.Length);
  case Damage::TextAfterEnd: return "text after the closing '<'";
  case Damage::TooLong:
    return "longer than any capture line (over " + std::to_string(LineLengthMax) +
           " bytes; the line breaks may be missing)";
  }
  return {};
}

LineKind ParseLine(const char* begin, const char* end, Record& record, Damage& damage) {
  damage = {};
  if (begin == end) return LineKind::Blank;
  if (static_cast<std::size_t>(end - begin) > LineLengthMax) return Damaged(damage, Damage::TooLong);
  if (StartsWith(begin, end, HeaderStart)) return LineKind::Header;
  if (static_cast<std::size_t>(end - begin) == sizeof ColumnLine - 1 && StartsWith(begin, end, ColumnLine))
    return LineKind::Columns;

  Cursor c{begin, end};
  int hours = 0, minutes = 0, seconds = 0, millis = 0;
  if (!(c.Digits(2, hours) && c.Take(':') && c.Digits(2, minutes) && c.Take(':') && c.Digits(2, seconds) &&
        c.Take(':') && c.Digits(3, millis)))
    return Damaged(damage, Damage::NoTime);
  if (hours > 23 || minutes > 59 || seconds > 59) return Damaged(damage, Damage::TimeOutOfRange);
  record.TimeOfDayMs = ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;

  if (!c.Take(' ')) return Damaged(damage, Damage::NoStatus);
  c.SkipSpaces();
  std::uint32_t status = 0;
  int digits = 0;
  for (int d; (d = Digit(c.Peek())) >= 0; ++c.P, ++digits) status = status * 16 + static_cast<std::uint32_t>(d);
  if (digits == 0 || digits > 8) return Damaged(damage, Damage::BadStatus);
  record.Status = static_cast<int>(status);

  if (c.Peek() != ' ') return Damaged(damage, Damage::NoLength);
  c.SkipSpaces();
  int length = 0;
  digits = 0;
  for (; IsDigit(c.Peek()); ++c.P, ++digits)
    if (digits < 4) length = length * 10 + (*c.P - '0');
  if (digits == 0 || digits > 3 || length > 255) return Damaged(damage, Damage::BadLength);
  record.Length = length;

  c.SkipSpaces();
  if (!c.Take('>')) return Damaged(damage, Damage::NoDataStart);
  int count = 0;
  while (c.Peek() != '<') {
    if (c.End - c.P < 3) return Damaged(damage, Damage::CutShort);
    const int high = Digit(c.P[0]);
    const int low = Digit(c.P[1]);
    if (high < 0 || low < 0 || c.P[2] != ' ') return Damaged(damage, Damage::BadByte, count);
    if (count >= length) return Damaged(damage, Damage::TooManyBytes, count, length);
    record.Data[count++] = static_cast<std::uint8_t>(high * 16 + low);
    c.P += 3;
  }
  if (count != length) return Damaged(damage, Damage::ByteCount, count, length);
  if (c.P + 1 != c.End) return Damaged(damage, Damage::TextAfterEnd);
  return LineKind::Record;
}

}  // namespace CaptureFormat
