#pragma once
// A command's output, buffered, that tells the truth about its writes: a
// reader that has gone away (quorlink decode | head) ends the output quietly,
// any other write error (a full disk, /dev/full) is a failure with its reason.

#include <cstddef>
#include <string>
#include <sys/stat.h>

class OutputStream {
public:
  enum class State { Fine, ReaderGone, Failed };

  // Writes to standard output until OpenFile says otherwise.
  OutputStream();
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  enum class OpenResult { Opened, SameAsInput, Failed };
  // Opens (creating or emptying) the file; refuses the file input describes,
  // before anything in it changes. Error says why it failed.
  OpenResult OpenFile(const std::string& path, const struct stat* input);

  // False once the output can take nothing more.
  bool Write(const char* data, std::size_t size);
  // Writes out what is buffered (and closes a file): false unless all went out.
  bool Finish();

  State Status() const { return Current; }
  // "cannot write to standard output: No space left on device".
  std::string Error() const { return Message; }

private:
  bool Drain();
  void Failed(int error);

  static constexpr std::size_t Capacity = 64 * 1024;
  int Fd;
  bool Owned = false;
  std::string Name;
  State Current = State::Fine;
  std::string Message;
  std::size_t Used = 0;
  char Buffer[Capacity];
};
