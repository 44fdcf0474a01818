#include "cli/OutputStream.h"

#include "platform/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

OutputStream::OutputStream() : Fd(STDOUT_FILENO), Name("standard output") {}

OutputStream::~OutputStream() {
  if (Owned) ::close(Fd);
}

OutputStream::OpenResult OutputStream::OpenFile(const std::string& path, const struct stat* input) {
  const auto same = [input](const struct stat& st) {
    return input && st.st_dev == input->st_dev && st.st_ino == input->st_ino;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && same(st)) return OpenResult::SameAsInput;
  // Emptied only once it is known not to be the input.
  std::string reason;
  const int fd = SafeFile::OpenForWriting(path, 0, reason);
  if (fd < 0) {
    Message = "cannot write " + path + ": " + reason;
    return OpenResult::Failed;
  }
  if (fstat(fd, &st) == 0 && same(st)) {
    ::close(fd);
    return OpenResult::SameAsInput;
  }
  if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    Message = "cannot write " + path + ": " + std::strerror(errno);
    ::close(fd);
    return OpenResult::Failed;
  }
  Fd = fd;
  Owned = true;
  Name = path;
  return OpenResult::Opened;
}

void OutputStream::Failed(int error) {
  Used = 0;
  // EPIPE: whoever read the output has gone, which ends it without an error.
  if (error == EPIPE && !Owned) {
    Current = State::ReaderGone;
    return;
  }
  Current = State::Failed;
  Message = (Owned ? "cannot write " + Name : "cannot write to " + Name) + ": " + std::strerror(error);
}

bool OutputStream::Drain() {
  std::size_t done = 0;
  while (done < Used && Current == State::Fine) {
    const ssize_t n = ::write(Fd, Buffer + done, Used - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      Failed(n < 0 ? errno : EIO);
  }
  Used = 0;
  return Current == State::Fine;
}

bool OutputStream::Write(const char* data, std::size_t size) {
  while (size > 0 && Current == State::Fine) {
    if (Used == Capacity && !Drain()) break;
    const std::size_t n = std::min(size, Capacity - Used);
    std::memcpy(Buffer + Used, data, n);
    Used += n;
    data += n;
    size -= n;
  }
  return Current == State::Fine;
}

bool OutputStream::Finish() {
  Drain();
  // A file system may report a failed write only when the file is closed.
  if (Owned) {
    if (::close(Fd) != 0 && Current == State::Fine) Failed(errno);
    Owned = false;
    Fd = STDOUT_FILENO;
  }
  return Current == State::Fine;
}
