#pragma once
// Where COM1 to COM4 live on this machine: each COM number maps to a device
// path (by default /dev/ttyS0 to /dev/ttyS3), kept per user and shared by both
// modes; and the serial devices present, for choosing a new mapping.

#include <string>
#include <vector>

struct TSerialDeviceInfo {
  std::string Path;         // e.g. /dev/ttyUSB0
  std::string Description;  // e.g. "FT232R USB UART (FTDI)", empty when the system gives none
  std::string UsbVendorId;  // four hex digits, empty when not a USB device
  std::string UsbProductId;
};

// The serial devices present now, sorted by path.
std::vector<TSerialDeviceInfo> ListSerialDevices();

// Where a COM number leads now, and why. A running virtual null-modem's
// claim (RelayClaim.h) stands above the stored mapping until the user
// chooses another device for that number; a claim whose relay has ended is
// passed over, and Ended names it so that the opener can say so.
struct TComMapping {
  enum TSource { Default, Stored, Relay };
  std::string Path;  // the device to open; empty for a number outside 1 to 4
  TSource Source = Default;
  long RelayPid = 0;      // Relay: the null-modem whose port Path is
  std::string ClaimPath;  // Relay: the claim that must still be held when Path is opened
  long EndedPid = 0;      // a null-modem that had mapped the number and has ended; 0 when none
  std::string EndedPath;  // its port, which is not opened
  // "COM1 was mapped to a virtual null-modem port that has ended (process
  // 4321); COM1 is /dev/ttyS0 now." Empty when nothing was passed over.
  std::string Notice(int portNumber) const;
};
TComMapping ResolveComPort(int portNumber);

// The device path that COM portNumber (1 to 4) maps to; empty for any other number.
std::string ComDevicePath(int portNumber);
// Maps COM portNumber to path; an empty path restores the default mapping.
// The choice stands above the claims of null-modems running now; choosing
// what the number leads to already changes nothing.
// Returns false for a port number outside 1 to 4 or when the setting can't be written.
bool SetComDevicePath(int portNumber, const std::string& path);
std::string DefaultComDevicePath(int portNumber);
