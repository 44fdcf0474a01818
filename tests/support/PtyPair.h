#pragma once
// A pseudo-terminal pair for tests: the program under test opens SlavePath()
// as its serial device, the test plays the other end through the master.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
  PtyPair();  // raw mode on both ends; throws std::runtime_error on failure
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return Path; }
  int MasterFd() const { return Master; }

  // Writes all bytes to the master (the program under test reads them).
  void Write(const std::vector<std::uint8_t>& bytes);
  // Reads from the master until count bytes arrived or the deadline passed.
  std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10));
  // Closes the master: the slave side sees a hang-up.
  void CloseMaster();

private:
  int Master = -1;
  int Slave = -1;  // kept open so the slave stays usable until the test ends
  std::string Path;
};
