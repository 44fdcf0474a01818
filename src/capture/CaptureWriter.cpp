#include "capture/CaptureWriter.h"

#include "capture/CaptureFormat.h"
#include "platform/SafeFile.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

// How long a line waits for the reader of a FIFO before the capture gives up.
constexpr int ReaderWaitMs = 10000;

std::string ErrorText(const char* what, const std::string& name, int error) {
  return std::string(what) + " \"" + name + "\": " + std::strerror(error);
}

}  // namespace

TCaptureWriter::~TCaptureWriter() { CloseLog(); }

bool TCaptureWriter::StartLog(const std::string& fileName) {
  const QDateTime now = QDateTime::currentDateTime();
  bool opened = false;
  if (Fd < 0) {
    // Never blocks: a FIFO without a reader is refused at once, and one whose
    // reader falls behind is waited for only so long (WriteLine).
    std::string reason;
    const int fd = SafeFile::OpenForWriting(fileName, SafeFile::Truncate | SafeFile::NonBlocking, reason);
    if (fd < 0) {
      Error = "Cannot open the capture file \"" + fileName + "\": " + reason;
      return false;
    }
    Abandoned.store(false);
    Fd = fd;
    Name = fileName;
    opened = true;
  }
  const std::string header = CaptureFormat::FormatHeader(now);
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
  return LogFrame(status, length, data, CaptureFormat::LocalTimeOfDayMs());
}

bool TCaptureWriter::LogFrame(int status, std::uint8_t length, const std::uint8_t* data, int timeOfDayMs) {
  char line[CaptureFormat::RecordLineMax];
  const std::size_t size = CaptureFormat::FormatRecordLine(line, timeOfDayMs, status, length, data);
  if (Fd < 0) return true;
  return WriteLine(line, size);
}

bool TCaptureWriter::WriteLine(const char* text, std::size_t length) {
  std::size_t done = 0;
  int waitedMs = 0;
  while (done < length) {
    const ssize_t n = write(Fd, text + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN && waitedMs < ReaderWaitMs && !Abandoned.load()) {
      pollfd ready{Fd, POLLOUT, 0};
      poll(&ready, 1, 100);
      waitedMs += 100;
    } else {
      const int error = n < 0 ? errno : EIO;
      Error = error == EAGAIN
                  ? "Cannot write to the capture file \"" + Name + "\": the program reading it takes no more lines"
                  : ErrorText("Cannot write to the capture file", Name, error);
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

void TCaptureWriter::Abandon() { Abandoned.store(true); }

std::string TCaptureWriter::LastError() const { return Error; }

std::string TCaptureWriter::FileName() const { return Name; }
