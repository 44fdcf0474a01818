#pragma once
// Opening files for writing so that the program can't be turned against the
// machine it runs on, even as root:
//  - a symbolic link in a sticky world-writable folder (such as /tmp) is
//    followed only when it belongs to this user or to the folder's owner,
//    the rule of the kernel's fs.protected_symlinks, kept whatever the
//    system is set to;
//  - a FIFO is opened without waiting for a reader;
//  - what root creates in a folder owned by another user is given to that
//    user, so that a run as root (sudo -E, a service) leaves nothing behind
//    that the user can't change.
// Standard library and POSIX only.

#include <string>
#include <sys/stat.h>

namespace SafeFile {

// Where a path leads once its links have been followed under the rule.
struct Target {
  std::string Path;    // the file itself, no link left in it
  std::string Folder;  // the folder it is (or would be) in
  bool Exists = false;
  struct stat Stat {};  // the file's own, when it exists
};

// Follows path under the rule. 0 on success, else an errno value with error
// set to the reason in words ("No such file or directory", or which link was
// not followed and why). With createFolders, missing folders on the way are
// made (0777 less the umask) and handed over as above.
int Resolve(const std::string& path, Target& target, std::string& error, bool createFolders = false);

enum Option {
  Truncate = 1,     // empty a regular file
  RegularOnly = 2,  // refuse devices, FIFOs and sockets
  NonBlocking = 4,  // keep O_NONBLOCK on the descriptor
};
// Opens path for writing under the rule, creating it (0666 less the umask)
// when missing. Returns the descriptor, or -1 with error set to the reason.
int OpenForWriting(const std::string& path, int options, std::string& error);

// When root has just created or replaced the file at path in a folder owned
// by another user, gives the file to that user (and the folder's group).
void HandToFolderOwner(const std::string& path);

// "a character device", "a FIFO", ...: what a file of this mode is.
const char* KindOf(mode_t mode);

}  // namespace SafeFile
