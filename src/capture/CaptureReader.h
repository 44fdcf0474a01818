#pragma once
// Reads a capture file line by line in constant memory, whatever its size:
// each Next gives the next line that is not blank, parsed, with its line
// number. Lines may end in CR LF (as written), LF or a lone CR; a line longer
// than any capture line is reported once as damaged and skipped. Seek and
// SetEnd let a reader that knows where lines start read one stretch again.

#include "capture/CaptureFormat.h"

#include <memory>
#include <string>
#include <string_view>

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
  // Goes on at the byte offset of a line start, whose line number is given;
  // false when the file can't be read there.
  bool Seek(long long offset, long long lineNumber);
  // Reads no byte at or past this offset (a negative one: up to the end).
  void SetEnd(long long offset);

  CaptureFormat::LineKind Kind() const;
  long long LineNumber() const;  // of the current line, from 1
  long long Offset() const;      // of the current line's first byte in the file
  // The current line's text without its line end, valid until the next call;
  // of an overlong line only its first part.
  std::string_view Text() const;
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
