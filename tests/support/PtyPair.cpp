#include "PtyPair.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  Path = name;
  termios t{};
  tcgetattr(Slave, &t);
  cfmakeraw(&t);
  tcsetattr(Slave, TCSANOW, &t);
  tcgetattr(Master, &t);
  cfmakeraw(&t);
  tcsetattr(Master, TCSANOW, &t);
  fcntl(Master, F_SETFD, FD_CLOEXEC);
  fcntl(Slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (Slave >= 0) close(Slave);
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{Master, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    }
  }
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t count, std::chrono::milliseconds deadline) {
  std::vector<std::uint8_t> out;
  const auto end = std::chrono::steady_clock::now() + deadline;
  std::uint8_t buffer[4096];
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{Master, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const std::size_t want = std::min(sizeof buffer, count - out.size());
    ssize_t n = read(Master, buffer, want);
    if (n > 0)
      out.insert(out.end(), buffer, buffer + n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
      break;
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (Master >= 0) close(Master);
  Master = -1;
}

PluggedPty::PluggedPty(std::string path) : LinkPath(std::move(path)) { Replug(); }

PluggedPty::~PluggedPty() { Unplug(); }

void PluggedPty::Unplug() {
  unlink(LinkPath.c_str());
  Current.reset();
}

void PluggedPty::Replug(const std::function<void(PtyPair&)>& beforeLinking) {
  Unplug();
  Current = std::make_unique<PtyPair>();
  if (beforeLinking) beforeLinking(*Current);
  const std::string draft = LinkPath + ".new";
  unlink(draft.c_str());
  if (symlink(Current->SlavePath().c_str(), draft.c_str()) != 0 || rename(draft.c_str(), LinkPath.c_str()) != 0)
    throw std::runtime_error("cannot link " + LinkPath + ": " + std::strerror(errno));
}
