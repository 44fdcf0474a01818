#pragma once
// Reads a capture file line by line in constant memory, whatever its size:
// each Next gives the next line that is not blank, parsed, with its line
// number. Lines may end in CR LF (as written), LF or a lone CR; a line longer
// than any capture line is reported once as damaged and skipped.

#include "capture/CaptureFormat.h"

#include <memory>
#include <string>

class CaptureReader {
public:
  CaptureReader();
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Opens the file; false with Error set when it can't be read. Never waits
  // for the writer of a FIFO.
  bool Open(const std::string& path);
  void Close();
  // Moves to the next line that is not blank; false at the end of the file or
  // when reading fails (Error then says why).
  bool Next();
  // Back before the first line; false when the file can't be read again (a pipe).
  bool Rewind();
  bool CanRewind() const;

  CaptureFormat::LineKind Kind() const;
  long long LineNumber() const;  // of the current line, from 1
  // The current line parsed: Record for a record line, Damage for a damaged one.
  const CaptureFormat::Record& Record() const;
  const CaptureFormat::Damage& Damage() const;

  // "cannot read PATH: reason", once Open or Next has failed; empty otherwise.
  std::string Error() const;
  // The open file, for checks such as "is the output the same file?".
  int Descriptor() const;

private:
  struct Private;
  std::unique_ptr<Private> const d;
};
