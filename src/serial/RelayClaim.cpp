#include "serial/RelayClaim.h"

#include "serial/SettingsRegistry.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* ClaimSuffix = ".claim";

// A folder only this user can enter, made when asked.
bool PrivateFolder(const std::string& path, bool create) {
  if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

// Only the name: the file itself is read through SettingsFile, which checks it first.
std::string SettingsFilePath() { return SettingsFile::Path(); }

std::string Hex64(unsigned long long value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", value);
  return text;
}

// FNV-1a: a short, stable name for a settings file.
unsigned long long Fnv1a(const std::string& text) {
  unsigned long long hash = 14695981039346656037ULL;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

long long NowNs() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

std::string BaseName(int portNumber, long pid) {
  return "COM" + std::to_string(portNumber) + "-" + std::to_string(pid);
}

// "COM3-1234.claim" gives 3 and 1234.
bool ParseClaimName(const std::string& name, int& portNumber, long& pid) {
  const std::size_t suffix = name.size() >= 6 ? name.size() - 6 : std::string::npos;
  if (name.rfind("COM", 0) != 0 || suffix == std::string::npos || name.compare(suffix, 6, ClaimSuffix) != 0)
    return false;
  char* end = nullptr;
  const long number = std::strtol(name.c_str() + 3, &end, 10);
  if (*end != '-' || number < 1 || number > 4) return false;
  const char* const pidStart = end + 1;
  const long id = std::strtol(pidStart, &end, 10);
  if (end == pidStart || end != name.c_str() + suffix || id <= 0) return false;
  portNumber = static_cast<int>(number);
  pid = id;
  return true;
}

// No other open file holds the claim's lock: its relay has ended.
bool Held(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

long long ReadSince(int fd) {
  char text[32] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? std::strtoll(text, nullptr, 10) : 0;
}

bool SameFile(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

// Removes the claims on portNumber whose relay has ended, with their links.
void RemoveDead(int portNumber) {
  for (const TRelayPort& port : RelayClaims::Find(portNumber)) {
    if (port.Live) continue;
    const int fd = open(port.ClaimPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    // Locked by us, nobody else can take it over meanwhile.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && SameFile(fd, port.ClaimPath)) {
      unlink(port.DevicePath.c_str());
      unlink(port.ClaimPath.c_str());
    }
    close(fd);
  }
}

}  // namespace

namespace RelayClaims {

std::string Folder(bool create) {
  std::string base;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && PrivateFolder(runtime, false)) {
    base = std::string(runtime) + "/quorlink-simulator";
  } else {
    base = "/tmp/quorlink-simulator-" + std::to_string(getuid());
  }
  if (!PrivateFolder(base, create)) return {};
  // The user's own settings file keeps the short folder; any other (a test's,
  // a second configuration) gets one of its own, so its ports stay apart.
  const std::string settings = SettingsFilePath();
  const std::string usual =
      QFile::encodeName(QDir::homePath() + QStringLiteral("/.config/Parvelco/Quorlink Simulator.ini")).toStdString();
  if (settings == usual) return base;
  const std::string folder = base + "/" + Hex64(Fnv1a(settings));
  return PrivateFolder(folder, create) ? folder : std::string();
}

std::vector<TRelayPort> Find(int portNumber) {
  std::vector<TRelayPort> found;
  const std::string folder = Folder();
  if (folder.empty()) return found;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return found;
  while (const dirent* entry = readdir(dir)) {
    TRelayPort port;
    if (!ParseClaimName(entry->d_name, port.PortNumber, port.Pid) || port.PortNumber != portNumber) continue;
    port.ClaimPath = folder + "/" + entry->d_name;
    port.DevicePath = folder + "/" + BaseName(port.PortNumber, port.Pid);
    const int fd = open(port.ClaimPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    port.Since = ReadSince(fd);
    port.Live = Held(fd);
    close(fd);
    found.push_back(std::move(port));
  }
  closedir(dir);
  std::sort(found.begin(), found.end(), [](const TRelayPort& a, const TRelayPort& b) { return a.Since > b.Since; });
  return found;
}

std::string ClaimOf(const std::string& devicePath) {
  const std::size_t slash = devicePath.find_last_of('/');
  if (slash == std::string::npos) return {};
  const std::string folder = Folder();
  if (folder.empty() || devicePath.compare(0, slash, folder) != 0 || slash != folder.size()) return {};
  int portNumber = 0;
  long pid = 0;
  const std::string claim = devicePath.substr(slash + 1) + ClaimSuffix;
  return ParseClaimName(claim, portNumber, pid) ? folder + "/" + claim : std::string();
}

TWitness::TWitness(const std::string& claimPath)
    : Fd(open(claimPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)) {}

TWitness::~TWitness() {
  if (Fd >= 0) close(Fd);
}

bool TWitness::Live() const { return Fd >= 0 && Held(Fd); }

}  // namespace RelayClaims

TRelayClaim::~TRelayClaim() { Release(); }

bool TRelayClaim::Claim(int portNumber, std::string& error) {
  Release();
  const std::string folder = RelayClaims::Folder(true);
  if (folder.empty()) {
    error = "no private runtime folder for the virtual ports (XDG_RUNTIME_DIR, else /tmp/quorlink-simulator-" +
            std::to_string(getuid()) + ")";
    return false;
  }
  RemoveDead(portNumber);
  const std::string name = BaseName(portNumber, static_cast<long>(getpid()));
  const std::string claim = folder + "/" + name + ClaimSuffix;
  const std::string draft = folder + "/." + name + ".new";
  // Made under another name and locked before it is seen, so no opener ever
  // finds it unlocked and takes it for a dead relay's.
  unlink(draft.c_str());
  int fd = open(draft.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  // Another relay ending may just have removed the folder as empty.
  if (fd < 0 && errno == ENOENT && RelayClaims::Folder(true) == folder)
    fd = open(draft.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "cannot make " + draft + " (" + std::strerror(errno) + ")";
    return false;
  }
  const long long since = NowNs();
  const std::string text = std::to_string(since) + "\n";
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      rename(draft.c_str(), claim.c_str()) != 0) {
    error = "cannot make " + claim + " (" + std::strerror(errno) + ")";
    unlink(draft.c_str());
    close(fd);
    return false;
  }
  Number = portNumber;
  Fd = fd;
  Path = folder + "/" + name;
  ClaimFile = claim;
  SinceNs = since;
  return true;
}

bool TRelayClaim::Attach(const std::string& device, std::string& error) {
  if (Fd < 0) {
    error = "no claim";
    return false;
  }
  const std::string draft = Path + ".link";
  unlink(draft.c_str());
  if (symlink(device.c_str(), draft.c_str()) != 0 || rename(draft.c_str(), Path.c_str()) != 0) {
    error = "cannot make " + Path + " (" + std::strerror(errno) + ")";
    unlink(draft.c_str());
    return false;
  }
  return true;
}

void TRelayClaim::Detach() {
  if (Fd >= 0) unlink(Path.c_str());
}

void TRelayClaim::Release() {
  if (Fd < 0) return;
  unlink(Path.c_str());
  if (SameFile(Fd, ClaimFile)) unlink(ClaimFile.c_str());
  close(Fd);
  Fd = -1;
  RemoveDead(Number);
  // A folder of its own for another settings file goes once empty.
  const std::string folder = ClaimFile.substr(0, ClaimFile.find_last_of('/'));
  if (folder.size() > 17 && folder.compare(folder.size() - 17, 17, "/" + Hex64(Fnv1a(SettingsFilePath()))) == 0)
    rmdir(folder.c_str());
  Number = 0;
  Path.clear();
  ClaimFile.clear();
}
