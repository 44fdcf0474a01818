#include "LinkOnPty.h"

#include "serial/DeviceMap.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

LinkOnPty::LinkOnPty(int mode) {
  // Opened before the link takes the terminal exclusively.
  Probe = open(Pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Probe < 0 || !SetComDevicePath(1, Pty.SlavePath())) throw std::runtime_error("cannot map COM1 to the pty");
  Link.Mode = mode;
  Link.PortNumber = 1;
  if (Link.Open() != 1) throw std::runtime_error("cannot open the pty: " + Link.LastError());
}

LinkOnPty::~LinkOnPty() {
  Link.Close();
  if (Probe >= 0) close(Probe);
}

int LinkOnPty::Queued() const {
  int n = 0;
  ioctl(Probe, FIONREAD, &n);
  return n;
}

void LinkOnPty::Send(const std::vector<std::uint8_t>& bytes) {
  const int before = Queued();
  Pty.Write(bytes);
  if (!WaitUntil([&] { return Queued() >= before + static_cast<int>(bytes.size()); }))
    throw std::runtime_error("bytes written to the master never reached the slave");
}

std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> frame{0x2F};
  frame.insert(frame.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);
  frame.push_back(static_cast<std::uint8_t>(-sum));
  return frame;
}

std::vector<std::uint8_t> Record(TQUORLINK& link) {
  std::uint8_t buffer[256];
  std::uint8_t length = 0;
  link.GetRecord(buffer, sizeof buffer, &length);
  return {buffer, buffer + length};
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
