#pragma once
// A pseudo-terminal pair for tests: the program under test opens SlavePath()
// as its serial device, the test plays the other end through the master.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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
  // The test's own descriptor on the slave, to read the line settings.
  int SlaveFd() const { return Slave; }

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

// A pseudo-terminal behind a path that stays the same, as a USB adapter's
// device does: Unplug closes it (the program sees a hang-up) and removes the
// path; Replug puts a new pseudo-terminal behind the same path.
class PluggedPty {
public:
  explicit PluggedPty(std::string path);  // plugged in
  ~PluggedPty();
  PluggedPty(const PluggedPty&) = delete;
  PluggedPty& operator=(const PluggedPty&) = delete;

  const std::string& Path() const { return LinkPath; }
  PtyPair& Pty() { return *Current; }  // while plugged in
  void Unplug();
  // beforeLinking runs with the new pseudo-terminal before its path appears.
  void Replug(const std::function<void(PtyPair&)>& beforeLinking = {});

private:
  std::string LinkPath;
  std::unique_ptr<PtyPair> Current;
};
