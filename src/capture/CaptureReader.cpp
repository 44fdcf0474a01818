#include "capture/CaptureReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using CaptureFormat::LineKind;

namespace {

// The first CR or LF in [p, end), or end. memchr looks in stretches no longer
// than a line, so that a file of one kind of line end is not searched to the
// end of the buffer for the other at every line.
const char* LineEnd(const char* p, const char* end) {
  while (p < end) {
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(end - p), CaptureFormat::LineLengthMax);
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', lf ? static_cast<std::size_t>(lf - p) : n));
    if (cr) return cr;
    if (lf) return lf;
    p += n;
  }
  return end;
}

}  // namespace

struct CaptureReader::Private {
  static constexpr std::size_t Capacity = 64 * 1024;
  static_assert(Capacity > 2 * CaptureFormat::LineLengthMax);

  int Fd = -1;
  std::string Path;
  std::string Error;
  char Buffer[Capacity];
  std::size_t Pos = 0;   // start of the line being looked at
  std::size_t Scan = 0;  // where the search for its end goes on
  std::size_t End = 0;   // bytes in Buffer
  long long Start = 0;   // file offset of Buffer[0]
  long long Limit = -1;  // no byte at or past it is read; -1: none
  long long LineStart = 0;
  const char* TextBegin = nullptr;
  std::size_t TextLength = 0;
  bool Eof = false;
  bool Skipping = false;  // inside an overlong line already reported
  long long Line = 0;
  LineKind Kind = LineKind::Blank;
  CaptureFormat::Record Record;
  CaptureFormat::Damage Damage;

  void Reset(long long start = 0) {
    Pos = Scan = End = 0;
    Start = LineStart = start;
    TextBegin = nullptr;
    TextLength = 0;
    Eof = Skipping = false;
    Line = 0;
    Kind = LineKind::Blank;
    Damage = {};
  }

  void Fail(int error) {
    Error = "cannot read " + Path + ": " + std::strerror(error);
    Eof = true;
  }

  // Keeps [Pos, End) and reads more behind it; false when nothing more comes.
  bool Refill() {
    if (Pos > 0) {
      std::memmove(Buffer, Buffer + Pos, End - Pos);
      End -= Pos;
      Scan -= Pos;
      Start += static_cast<long long>(Pos);
      Pos = 0;
    }
    std::size_t room = Capacity - End;
    if (Limit >= 0) {
      const long long left = Limit - Start - static_cast<long long>(End);
      room = left <= 0 ? 0 : std::min(room, static_cast<std::size_t>(left));
    }
    for (;;) {
      const ssize_t n = room == 0 ? 0 : ::read(Fd, Buffer + End, room);
      if (n > 0) {
        End += static_cast<std::size_t>(n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail(errno);
      Eof = true;
      return false;
    }
  }

  // Parses [Pos, lineEnd) as the next line and moves Pos to next.
  void Take(std::size_t lineEnd, std::size_t next) {
    ++Line;
    LineStart = Start + static_cast<long long>(Pos);
    TextBegin = Buffer + Pos;
    TextLength = lineEnd - Pos;
    Kind = CaptureFormat::ParseLine(Buffer + Pos, Buffer + lineEnd, Record, Damage);
    Pos = Scan = next;
  }

  bool Next() {
    for (;;) {
      if (Fd < 0 || !Error.empty()) return false;
      const std::size_t i = static_cast<std::size_t>(LineEnd(Buffer + Scan, Buffer + End) - Buffer);
      if (i < End) {
        // A CR as the last byte read may be the first half of a CR LF.
        if (Buffer[i] == '\r' && i + 1 == End && !Eof) {
          Scan = i;
          Refill();
          continue;
        }
        const std::size_t next = i + 1 + (Buffer[i] == '\r' && i + 1 < End && Buffer[i + 1] == '\n' ? 1 : 0);
        if (Skipping) {
          Skipping = false;
          Pos = Scan = next;
          continue;
        }
        Take(i, next);
        if (Kind != LineKind::Blank) return true;
        continue;
      }
      if (Skipping) {
        Pos = Scan = End;
      } else if (End - Pos > CaptureFormat::LineLengthMax) {
        ++Line;
        LineStart = Start + static_cast<long long>(Pos);
        TextBegin = Buffer + Pos;
        TextLength = CaptureFormat::LineLengthMax;
        Kind = LineKind::Damaged;
        Damage = {CaptureFormat::Damage::TooLong, 0, 0};
        Skipping = true;
        Pos = Scan = End;
        return true;
      } else {
        Scan = End;
        if (Eof) {
          if (Pos == End) return false;
          Take(End, End);  // the last line has no line end
          if (Kind != LineKind::Blank) return true;
          continue;
        }
      }
      if (Eof) return false;
      Refill();
    }
  }
};

CaptureReader::CaptureReader() : d(std::make_unique<Private>()) {}

CaptureReader::~CaptureReader() { Close(); }

bool CaptureReader::Open(const std::string& path) {
  Close();
  d->Path = path;
  d->Error.clear();
  d->Reset();
  d->Limit = -1;
  // Without O_NONBLOCK a FIFO nobody writes to would hold the open for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    d->Fail(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    d->Fail(EISDIR);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  d->Fd = fd;
  return true;
}

void CaptureReader::Close() {
  if (d->Fd >= 0) ::close(d->Fd);
  d->Fd = -1;
}

bool CaptureReader::Next() { return d->Next(); }

bool CaptureReader::CanRewind() const {
  struct stat st {};
  return d->Fd >= 0 && fstat(d->Fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool CaptureReader::Rewind() {
  if (!CanRewind() || lseek(d->Fd, 0, SEEK_SET) != 0) return false;
  d->Error.clear();
  d->Reset();
  return true;
}

bool CaptureReader::Seek(long long offset, long long lineNumber) {
  if (d->Fd < 0 || offset < 0 || lseek(d->Fd, offset, SEEK_SET) != offset) return false;
  d->Error.clear();
  d->Reset(offset);
  d->Line = lineNumber - 1;
  return true;
}

void CaptureReader::SetEnd(long long offset) { d->Limit = offset; }

CaptureFormat::LineKind CaptureReader::Kind() const { return d->Kind; }
long long CaptureReader::LineNumber() const { return d->Line; }
long long CaptureReader::Offset() const { return d->LineStart; }
std::string_view CaptureReader::Text() const { return {d->TextBegin ? d->TextBegin : "", d->TextLength}; }
const CaptureFormat::Record& CaptureReader::Record() const { return d->Record; }
const CaptureFormat::Damage& CaptureReader::Damage() const { return d->Damage; }
std::string CaptureReader::Error() const { return d->Error; }
int CaptureReader::Descriptor() const { return d->Fd; }
