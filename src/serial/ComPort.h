#pragma once
// TComPort owns one serial device (COM1 to COM4, each mapped to a device path),
// holds its line settings, opens and configures it, writes a block and waits for
// it to leave, reads without ever blocking, and loads and saves the settings.
// A device that hangs up or goes away while open is noticed at once and, when
// its path is back, opened again with the same line settings.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// Why a port operation failed, beside the words of LastError: a value for
// callers to branch on.
enum class TPortError : std::uint8_t {
  None,         // it worked (for Read: also when nothing was waiting)
  BadArgument,  // a null buffer, a negative count, a COM number or line setting that means nothing
  NotOpen,      // no device open (or Open or Close holding it this instant)
  NoDevice,     // Open: nothing at the device path
  Permission,   // Open: no right to open the device
  Busy,         // Open: another program holds the device
  NotSerial,    // Open: the path is not a serial device
  Refused,      // Open: the driver did not take the line settings or the rate
  TimedOut,     // Write: the bytes did not leave in time (flow control held, adapter stuck)
  Interrupted,  // Write: Close or Open ended it
  HungUp,       // the line hung up or the device went away
  Failed,       // any other error the system reported
};

// Where a port stands. Open to Lost when the device hangs up or goes away;
// Lost to Reopening when its path is back, and on to Open, or back to Lost
// when that try fails; any state to Closed by Close.
enum class TPortState : std::uint8_t {
  Closed,     // not opened yet, or closed by Close
  Open,       // the device is open
  Lost,       // the device hung up or went away; waiting for it when reconnecting
  Reopening,  // its path is back: opening it again with the same line settings
};

class TComPort {
public:
  TComPort();
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  int Open();
  void Close();
  int Write(const std::uint8_t* buffer, int count);
  int Read(std::uint8_t* dest, int& count);
  int ReadByte(std::uint8_t* dest);
  // For a reader that sleeps while the line is quiet instead of polling: waits
  // at most timeoutMs for bytes to read, or while the port is closed or its
  // device lost, for it to be open; wakeFd (an eventfd of the caller's, or -1)
  // and Close end the wait early. 1 when bytes wait (read ahead or in the
  // driver), 0 after the time-out, -1 when there is nothing to wait on (woken,
  // the port opened or busy being opened, hung up): poll on a beat then.
  int WaitForInput(int timeoutMs, int wakeFd);
  int LoadSettings(const char* basePath);
  int SaveSettings(const char* basePath);

  // Why the last Open failed, in plain words, naming the device path, and as
  // a kind; empty and None after a successful Open.
  std::string LastError() const;
  TPortError LastErrorKind() const;
  // Why the last Write and the last Read returned 0; None after one that
  // worked. Set by the thread that writes or reads, readable from any.
  TPortError LastWriteError() const;
  TPortError LastReadError() const;
  // The device path that PortNumber maps to now (DevicePathOverride when set).
  std::string DevicePath() const;
  // What the last Open has to tell beside success or failure, in plain
  // words: a virtual null-modem that has ended and was passed over, the line
  // settings a virtual port (a pseudo-terminal) does not apply. Empty when
  // nothing.
  std::string OpenNotice() const;

  // Whether a lost device is opened again once its path is back (the
  // default); otherwise the port stays Lost until closed. Set before Open.
  std::atomic<bool> Reconnect{true};
  // The port's state, when it last changed, and the device it concerns (the
  // path Open opened, kept while the device is lost). Any thread.
  TPortState State() const;
  std::chrono::steady_clock::time_point StateSince() const;
  std::string StateDevice() const;
  // While Lost or Reopening: why the device was lost (HungUp), then why the
  // last try to open it again failed (NoDevice, Busy, Permission, ...).
  TPortError LossReason() const;
  // Readable from the first change of State on, until ClearStateChange: for
  // the one watcher (a window or a command) to poll or hand to a notifier.
  int StateDescriptor() const;
  void ClearStateChange();
  // Counts the devices opened, by Open and by reopening: a reader that sees it
  // change knows the bytes before belong to another connection.
  std::uint32_t Connection() const;
  // When not empty, Open opens this device path instead of the one PortNumber
  // maps to; the command-line tool's "--port /dev/ttyUSB0". Empty by default.
  std::string DevicePathOverride;

  // Line settings (codes as stored in the settings file).
  std::uint8_t PortNumber = 1;
  std::int32_t BaudRate = 9600;
  std::uint8_t DataBits = 8;
  std::uint8_t StopBits = 0;     // 0 one, 1 one and a half, 2 two
  std::uint8_t FlowControl = 0;  // stored and kept, never applied
  std::uint8_t Parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space

  std::atomic<std::int32_t> IsOpen{0};
  std::int32_t SettingsLoaded = 0;

private:
  // The descriptor, the read-ahead buffer and the locking, in ComPort.cpp.
  struct TPrivate;
  const std::unique_ptr<TPrivate> d;
};
