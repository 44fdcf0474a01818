// Files opened for writing under the rules of SafeFile: links in shared
// folders, FIFOs, devices, and what root creates in another user's folder.

#include "platform/SafeFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t Other = 65534;  // nobody

std::string Contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Opens for writing and closes again; the error when it was refused.
std::string Open(const std::string& path, int options = SafeFile::Truncate) {
  std::string error;
  const int fd = SafeFile::OpenForWriting(path, options, error);
  if (fd < 0) return error.empty() ? "refused without a reason" : error;
  ::close(fd);
  return {};
}

uid_t OwnerOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

}  // namespace

TEST(SafeFile, LinksInSharedFoldersAreFollowedOnlyWhenTheyBelongToTheUserOrTheFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give links to another user";
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  const std::string victim = root + "/victim", real = root + "/real";
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  const auto plant = [](const std::string& folder, mode_t mode, uid_t folderOwner) {
    EXPECT_EQ(mkdir(folder.c_str(), mode), 0);
    EXPECT_EQ(chmod(folder.c_str(), mode), 0);  // past the umask
    EXPECT_EQ(chown(folder.c_str(), folderOwner, folderOwner), 0);
  };
  const auto link = [](const std::string& target, const std::string& at, uid_t owner) {
    EXPECT_EQ(symlink(target.c_str(), at.c_str()), 0);
    EXPECT_EQ(lchown(at.c_str(), owner, owner), 0);
  };
  plant(root + "/shared", 01777, 0);      // like /tmp
  plant(root + "/theirs", 01777, Other);  // sticky, but the link's owner owns it
  plant(root + "/open", 0777, 0);         // world-writable without the sticky bit
  link(victim, root + "/shared/capture.txt", Other);
  link(victim, root + "/shared/mine.txt", 0);
  link(victim, root + "/theirs/capture.txt", Other);
  link(victim, root + "/open/capture.txt", Other);
  link(real, root + "/shared/folder", Other);

  const auto refusedAndUnchanged = [&](const std::string& path) {
    { std::ofstream(victim) << "root data"; }
    const std::string error = Open(path);
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << path << ": " << error;
    EXPECT_EQ(Contents(victim), "root data") << path;
  };
  refusedAndUnchanged(root + "/shared/capture.txt");
  refusedAndUnchanged(root + "/shared/folder/new.txt");  // a link anywhere on the path
  EXPECT_FALSE(QFile::exists(QString::fromStdString(real + "/new.txt")));

  for (const char* followed : {"/shared/mine.txt", "/theirs/capture.txt", "/open/capture.txt"}) {
    { std::ofstream(victim) << "root data"; }
    EXPECT_EQ(Open(root + followed), "") << followed;
    EXPECT_EQ(Contents(victim), "") << followed << " leads to the file, which is emptied";
  }
}

TEST(SafeFile, FifosNeverWaitDevicesOnlyWhenAllowedAndRootsNewFilesGoToTheFolderOwner) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  const std::string fifo = root + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_NE(Open(fifo).find("no program is reading"), std::string::npos) << "refused at once, not waited on";
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Open(fifo), "");
  ::close(reader);

  EXPECT_EQ(Open("/dev/null"), "");
  EXPECT_NE(Open("/dev/null", SafeFile::RegularOnly).find("a character device"), std::string::npos);
  EXPECT_NE(Open(root).find(std::strerror(EISDIR)), std::string::npos);
  EXPECT_NE(Open(root + "/missing/file").find(std::strerror(ENOENT)), std::string::npos);

  if (geteuid() != 0) GTEST_SKIP() << "the rest needs root";
  const std::string home = root + "/home";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), Other, Other), 0);
  { std::ofstream(home + "/old.txt") << "kept"; }
  EXPECT_EQ(Open(home + "/new.txt"), "");
  EXPECT_EQ(Open(home + "/old.txt"), "");
  EXPECT_EQ(OwnerOf(home + "/new.txt"), Other);
  EXPECT_EQ(OwnerOf(home + "/old.txt"), 0u) << "a file that was there keeps its owner";

  SafeFile::Target target;
  std::string error;
  ASSERT_EQ(SafeFile::Resolve(home + "/a/b/file", target, error, true), 0) << error;
  EXPECT_EQ(target.Path, home + "/a/b/file");
  EXPECT_FALSE(target.Exists);
  EXPECT_EQ(OwnerOf(home + "/a"), Other);
  EXPECT_EQ(OwnerOf(home + "/a/b"), Other);
  EXPECT_EQ(Open(root + "/mine.txt"), "");
  EXPECT_EQ(OwnerOf(root + "/mine.txt"), 0u) << "root's own folder keeps root's files";
}
