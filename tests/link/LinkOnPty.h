#pragma once
// A link object whose COM1 is the slave side of a pseudo-terminal, with the
// settings kept in a temporary folder. The test plays the far end through the
// master and can wait until written bytes are readable on the slave side.

#include "PtyPair.h"
#include "TestSettings.h"
#include "link/Quorlink.h"

#include <cstdint>
#include <vector>

class LinkOnPty {
public:
  explicit LinkOnPty(int mode);  // opens the port; throws when it can't
  ~LinkOnPty();

  // Writes to the master and waits until the slave side holds the bytes.
  void Send(const std::vector<std::uint8_t>& bytes);
  // Bytes the link hasn't read from the terminal yet.
  int Queued() const;

  TestSettings Settings;
  PtyPair Pty;
  TQUORLINK Link;

private:
  int Probe = -1;  // our own descriptor on the slave, for FIONREAD only
};

// 0x2F, data, checksum.
std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> Record(TQUORLINK& link);
std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b);
