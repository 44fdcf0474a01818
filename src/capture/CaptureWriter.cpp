#include "capture/CaptureWriter.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

// "00 " to "ff ": one data byte of a record line.
struct THexTable {
  char Text[256][3];
  constexpr THexTable() : Text{} {
    for (int i = 0; i < 256; ++i) {
      Text[i][0] = HexDigits[i >> 4];
      Text[i][1] = HexDigits[i & 15];
      Text[i][2] = ' ';
    }
  }
};
constexpr THexTable HexTable;

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
    text[n++] = HexDigits[value & 15];
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

std::string ErrorText(const char* what, const std::string& name, int error) {
  return std::string(what) + " \"" + name + "\": " + std::strerror(error);
}

}  // namespace

TCaptureWriter::~TCaptureWriter() { CloseLog(); }

std::size_t TCaptureWriter::FormatRecordLine(char* out, int hours, int minutes, int seconds, int millis, int status,
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

std::string TCaptureWriter::FormatHeader(const QDateTime& now) {
  const QLocale locale = QLocale::system();
  const QString date = locale.toString(now.date(), QLocale::ShortFormat);
  const QString time = locale.toString(now.time(), LongTimeFormatWithoutZone(locale));
  std::string header = "Log Start ";
  header += (date + u' ' + time).toLocal8Bit().toStdString();
  header += "\r\n";
  header += "Time      Status  Length >Data[0] Data[1] Data[2] ...\r\n";
  return header;
}

bool TCaptureWriter::StartLog(const std::string& fileName) {
  const QDateTime now = QDateTime::currentDateTime();
  bool opened = false;
  if (Fd < 0) {
    const int fd = open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      Error = ErrorText("Cannot open the capture file", fileName, errno);
      return false;
    }
    Fd = fd;
    Name = fileName;
    opened = true;
  }
  const std::string header = FormatHeader(now);
  if (!WriteLine(header.data(), header.size())) {
    if (opened) {
      close(Fd);
      Fd = -1;
    }
    return false;
  }
  Error.clear();
  return true;
}

void TCaptureWriter::CloseLog() {
  if (Fd < 0) return;
  if (close(Fd) != 0) Error = ErrorText("Cannot close the capture file", Name, errno);
  Fd = -1;
}

bool TCaptureWriter::IsOpen() const { return Fd >= 0; }

bool TCaptureWriter::LogFrame(int status, std::uint8_t length, const std::uint8_t* data) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);

  return LogFrame(
      status, length, data,
      ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + static_cast<int>(now.tv_nsec / 1000000));
}

bool TCaptureWriter::LogFrame(int status, std::uint8_t length, const std::uint8_t* data, int timeOfDayMs) {
  char line[RecordLineMax];
  const std::size_t size = FormatRecordLine(line, timeOfDayMs / 3600000, timeOfDayMs / 60000 % 60,
                                            timeOfDayMs / 1000 % 60, timeOfDayMs % 1000, status, length, data);
  if (Fd < 0) return true;
  return WriteLine(line, size);
}

bool TCaptureWriter::WriteLine(const char* text, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = write(Fd, text + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int error = n < 0 ? errno : EIO;
      Error = ErrorText("Cannot write to the capture file", Name, error);
      if (done > 0) {
        // Part of the line went out before the disk filled up: take it back,
        // so the file ends with the last whole line.
        const off_t end = lseek(Fd, 0, SEEK_CUR);
        const off_t start = end - static_cast<off_t>(done);
        if (end >= 0 && start >= 0 && ftruncate(Fd, start) == 0) lseek(Fd, start, SEEK_SET);
      }
      return false;
    }
  }
  return true;
}

std::string TCaptureWriter::LastError() const { return Error; }

std::string TCaptureWriter::FileName() const { return Name; }
