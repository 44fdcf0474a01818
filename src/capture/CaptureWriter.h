#pragma once
// TCaptureWriter writes the capture file: a header block, then one line per
// receive event with the local time, the status, the data length and the data
// bytes. Each line reaches the operating system as it is written, so nothing
// already logged is lost if the program dies.

#include <cstddef>
#include <cstdint>
#include <string>

class TCaptureWriter {
public:
  TCaptureWriter() = default;
  ~TCaptureWriter();
  TCaptureWriter(const TCaptureWriter&) = delete;
  TCaptureWriter& operator=(const TCaptureWriter&) = delete;

  // Opens (creating or emptying) the file unless one is open, then writes the
  // header block. False when the file cannot be opened or written; LastError
  // then says why.
  bool StartLog(const std::string& fileName);
  void CloseLog();
  bool IsOpen() const;
  // Forms the record line and writes it when a file is open. False only when a
  // write failed (the file stays open; the caller decides what to do).
  bool LogFrame(int status, std::uint8_t length, const std::uint8_t* data);
  std::string LastError() const;
  std::string FileName() const;

  // The record line for the given local time; returns its length. out must
  // hold RecordLineMax bytes.
  static constexpr std::size_t RecordLineMax = 800;
  static std::size_t FormatRecordLine(char* out, int hours, int minutes, int seconds, int millis,
                                      int status, std::uint8_t length, const std::uint8_t* data);

private:
  int Fd = -1;
  std::string Name;
  std::string Error;
};
