#pragma once
// How a virtual null-modem makes a COM number lead to one of its ports while
// it runs, and only while it runs.
//
// The relay gives each of its ports a device path of its own (a link to its
// pseudo-terminal, in a per-user runtime folder), which stays the same when
// the port is unplugged and plugged in again, and claims COMn for it with a
// small file that it keeps locked. The system drops the lock when the relay
// ends, however it ends, so every opener can tell a live relay's port from a
// dead one's, whose pseudo-terminal may by now belong to some other program.
// Claims stand beside the stored mapping (DeviceMap.h); they never change it.

#include <string>
#include <vector>

// A claim as the openers see it.
struct TRelayPort {
  int PortNumber = 0;
  long Pid = 0;            // the relay's process
  std::string DevicePath;  // the relay's own path for the port
  std::string ClaimPath;   // the file the relay keeps locked
  long long Since = 0;     // when the claim was made, ns since the epoch
  bool Live = false;       // the relay still holds it
};

// One COM number claimed by this process for one of its ports.
class TRelayClaim {
public:
  TRelayClaim() = default;
  ~TRelayClaim();  // Release
  TRelayClaim(const TRelayClaim&) = delete;
  TRelayClaim& operator=(const TRelayClaim&) = delete;

  // Claims COM portNumber; false with error set when the runtime folder or
  // the claim cannot be made. Dead claims on the number go first.
  bool Claim(int portNumber, std::string& error);
  // Plugs the port in: the device path leads to device from now on.
  bool Attach(const std::string& device, std::string& error);
  // Unplugs it: the device path is gone until the next Attach.
  void Detach();
  // Ends the claim and removes the device path; dead claims on the number go too.
  void Release();

  int PortNumber() const { return Number; }
  const std::string& DevicePath() const { return Path; }
  long long Since() const { return SinceNs; }

private:
  int Number = 0;
  int Fd = -1;  // the claim file, locked
  std::string Path;
  std::string ClaimFile;
  long long SinceNs = 0;
};

namespace RelayClaims {

// The runtime folder of the virtual ports: $XDG_RUNTIME_DIR (else a private
// folder in /tmp), one per settings file. Empty when there is none usable;
// create makes it.
std::string Folder(bool create = false);
// The claims on COM portNumber, live and dead, newest first.
std::vector<TRelayPort> Find(int portNumber);
// The claim file behind a relay's device path; empty for any other path.
std::string ClaimOf(const std::string& devicePath);

// A claim file held open, so that the relay checked before and after opening
// its port is the same relay.
class TWitness {
public:
  explicit TWitness(const std::string& claimPath);
  ~TWitness();
  TWitness(const TWitness&) = delete;
  TWitness& operator=(const TWitness&) = delete;
  // The relay holds its claim now.
  bool Live() const;

private:
  int Fd = -1;
};

}  // namespace RelayClaims
