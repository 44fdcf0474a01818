#pragma once
// TCaptureWriter writes the capture file: a header block, then one line per
// receive event with the local time, the status, the data length and the data
// bytes. Each line reaches the operating system as it is written, so nothing
// already logged is lost if the program dies.

#include <cstddef>
#include <cstdint>
#include <string>

class QDateTime;

class TCaptureWriter {
public:
  TCaptureWriter() = default;
  ~TCaptureWriter();
  TCaptureWriter(const TCaptureWriter&) = delete;
  TCaptureWriter& operator=(const TCaptureWriter&) = delete;

  // Opens (creating or emptying) the file unless one is open, then writes the
  // header block. False when the file cannot be opened or written; LastError
  // then says why. A file opened by this call is closed again when its header
  // can't be written, so a failed start leaves no capture running.
  bool StartLog(const std::string& fileName);
  void CloseLog();
  bool IsOpen() const;
  // Forms the record line and writes it when a file is open. False only when a
  // write failed (the file stays open; the caller decides what to do).
  bool LogFrame(int status, std::uint8_t length, const std::uint8_t* data);
  // The same at a local time the caller has read (milliseconds since
  // midnight), for a caller that shows the time as well.
  bool LogFrame(int status, std::uint8_t length, const std::uint8_t* data, int timeOfDayMs);
  std::string LastError() const;
  std::string FileName() const;

  // The record line for the given local time; returns its length. out must
  // hold RecordLineMax bytes: the longest line (data length 255, a status of
  // eight hex digits) is 802. Time fields are taken modulo 100 (milliseconds
  // 1000) so that no input can make the line longer.
  static constexpr std::size_t RecordLineMax = 808;
  static std::size_t FormatRecordLine(char* out, int hours, int minutes, int seconds, int millis, int status,
                                      std::uint8_t length, const std::uint8_t* data);

  // The header block for the given local date and time, in the system locale's
  // short date and long time (without time zone) formats, 8-bit text.
  static std::string FormatHeader(const QDateTime& now);

private:
  bool WriteLine(const char* text, std::size_t length);

  int Fd = -1;
  std::string Name;
  std::string Error;
};
