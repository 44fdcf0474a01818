#pragma once
// TCaptureWriter writes the capture file (format: capture/CaptureFormat.h): a
// header block, then one line per receive event with the local time, the
// status, the data length and the data bytes. Each line reaches the operating
// system as it is written, so nothing already logged is lost if the program dies.

#include <atomic>
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
  // header block. The file is opened by the rules of platform/SafeFile.h: a
  // FIFO without a reader or another user's link in /tmp are refused. False when the file cannot be opened or written;
  // LastError then says why. A file opened by this call is closed again when its header can't be written, so a failed
  // start leaves no capture running.
  bool StartLog(const std::string& fileName);
  void CloseLog();
  bool IsOpen() const;
  // Forms the record line and writes it when a file is open. False only when a
  // write failed (the file stays open; the caller decides what to do).
  bool LogFrame(int status, std::uint8_t length, const std::uint8_t* data);
  // The same at a local time the caller has read (milliseconds since
  // midnight), for a caller that shows the time as well.
  bool LogFrame(int status, std::uint8_t length, const std::uint8_t* data, int timeOfDayMs);
  // Any thread: a write waiting for the reader of a FIFO gives up at once,
  // so that a program being stopped is never held by its capture.
  void Abandon();
  std::string LastError() const;
  std::string FileName() const;

private:
  bool WriteLine(const char* text, std::size_t length);

  int Fd = -1;
  std::atomic<bool> Abandoned{false};
  std::string Name;
  std::string Error;
};
