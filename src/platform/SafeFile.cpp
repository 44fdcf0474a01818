#include "platform/SafeFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

namespace SafeFile {

namespace {

constexpr int LinksMax = 40;  // as the kernel allows on one path

// A descriptor closed on every way out.
class Fd {
public:
  explicit Fd(int fd = -1) : Value(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd = -1) {
    if (Value >= 0) ::close(Value);
    Value = fd;
  }
  int Get() const { return Value; }

private:
  int Value;
};

void SplitInto(const std::string& path, std::deque<std::string>& parts) {
  std::deque<std::string> found;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) found.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  parts.insert(parts.begin(), found.begin(), found.end());
}

std::string ParentOf(const std::string& folder) {
  const std::size_t slash = folder.find_last_of('/');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string Shown(const std::string& folder) { return folder.empty() ? "/" : folder; }

int Fail(std::string& error, int code, std::string text = std::string()) {
  error = text.empty() ? std::strerror(code) : std::move(text);
  return code;
}

// Gives name in dir to dir's owner when root made it there and dir belongs to
// someone else.
void HandOverIn(int dir, const char* name) {
  if (geteuid() != 0) return;
  struct stat folder {};
  if (fstat(dir, &folder) != 0 || folder.st_uid == 0) return;
  [[maybe_unused]] const int r = fchownat(dir, name, folder.st_uid, folder.st_gid, AT_SYMLINK_NOFOLLOW);
}

// The last step of a walk: the folder (open) and the name in it.
struct Place {
  Fd Dir;
  std::string Folder;
  std::string Name;
};

// Walks path one name at a time from / (or the working folder), following
// links under the rule, and stops at the last name, which need not exist.
int Walk(const std::string& path, bool createFolders, Place& place, std::string& error) {
  if (path.empty()) return Fail(error, ENOENT);
  std::deque<std::string> parts;
  SplitInto(path, parts);
  std::string folder;
  Fd& dir = place.Dir;
  const auto startAt = [&](bool absolute) {
    if (absolute) {
      dir.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      folder.clear();
    } else {
      dir.Reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
      char cwd[PATH_MAX];
      folder = getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
      if (folder == "/") folder.clear();
    }
    return dir.Get() >= 0;
  };
  if (!startAt(path[0] == '/')) return Fail(error, errno);

  int links = 0;
  while (!parts.empty()) {
    const std::string name = parts.front();
    parts.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      const int up = ::openat(dir.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (up < 0) return Fail(error, errno);
      dir.Reset(up);
      folder = ParentOf(folder);
      continue;
    }
    const bool last = parts.empty();
    struct stat st {};
    if (fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      const int code = errno;
      if (code == ENOENT && last) {
        place.Folder = folder;
        place.Name = name;
        return 0;  // a file still to be made
      }
      if (code != ENOENT || !createFolders) return Fail(error, code);
      if (mkdirat(dir.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) return Fail(error, errno);
      HandOverIn(dir.Get(), name.c_str());
      parts.push_front(name);
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > LinksMax) return Fail(error, ELOOP);
      struct stat shared {};
      if (fstat(dir.Get(), &shared) != 0) return Fail(error, errno);
      if ((shared.st_mode & S_ISVTX) && (shared.st_mode & S_IWOTH) && st.st_uid != geteuid() &&
          st.st_uid != shared.st_uid)
        return Fail(error, EACCES,
                    Shown(folder) + (folder.empty() ? "" : "/") + name + " is a link in the shared folder " +
                        Shown(folder) + " that belongs to another user (uid " + std::to_string(st.st_uid) +
                        "); it is not followed");
      char target[PATH_MAX];
      const ssize_t n = readlinkat(dir.Get(), name.c_str(), target, sizeof target - 1);
      if (n <= 0) return Fail(error, n < 0 ? errno : ENOENT);
      const std::string to(target, static_cast<std::size_t>(n));
      SplitInto(to, parts);
      if (to[0] == '/' && !startAt(true)) return Fail(error, errno);
      continue;
    }
    if (last) {
      place.Folder = folder;
      place.Name = name;
      return 0;
    }
    if (!S_ISDIR(st.st_mode)) return Fail(error, ENOTDIR);
    const int next = ::openat(dir.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return Fail(error, errno);
    dir.Reset(next);
    folder += "/" + name;
  }
  return Fail(error, EISDIR);  // the path names a folder ("/tmp/", ".")
}

}  // namespace

const char* KindOf(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

int Resolve(const std::string& path, Target& target, std::string& error, bool createFolders) {
  Place place;
  if (const int code = Walk(path, createFolders, place, error)) return code;
  target.Folder = Shown(place.Folder);
  target.Path = place.Folder + "/" + place.Name;
  target.Exists = fstatat(place.Dir.Get(), place.Name.c_str(), &target.Stat, AT_SYMLINK_NOFOLLOW) == 0;
  return 0;
}

int OpenForWriting(const std::string& path, int options, std::string& error) {
  // A link that appears between the walk and the open is walked again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    Place place;
    if (Walk(path, false, place, error) != 0) return -1;
    const int dir = place.Dir.Get();
    const char* name = place.Name.c_str();
    const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(dir, name, flags | O_CREAT | O_EXCL, 0666);
    const bool created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::openat(dir, name, flags);
    if (fd < 0) {
      const int code = errno;
      if (code == ELOOP || code == ENOENT) continue;
      struct stat st {};
      if (code == ENXIO && fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISFIFO(st.st_mode))
        Fail(error, code, "a FIFO that no program is reading from");
      else
        Fail(error, code);
      return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || ((options & RegularOnly) && !S_ISREG(st.st_mode))) {
      Fail(error, EINVAL, std::string("not a regular file but ") + KindOf(st.st_mode));
      ::close(fd);
      return -1;
    }
    if (created) HandOverIn(dir, name);
    if ((options & Truncate) && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
      Fail(error, errno);
      ::close(fd);
      return -1;
    }
    if (!(options & NonBlocking)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
  }
  Fail(error, ELOOP, "the file changed while it was being opened");
  return -1;
}

void HandToFolderOwner(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  HandOverIn(dir, name.c_str());
  ::close(dir);
}

}  // namespace SafeFile
