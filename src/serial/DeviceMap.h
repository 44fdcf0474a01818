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

// The device path that COM portNumber (1 to 4) maps to; empty for any other number.
std::string ComDevicePath(int portNumber);
// Maps COM portNumber to path; an empty path restores the default mapping.
// Returns false for a port number outside 1 to 4 or when the setting can't be written.
bool SetComDevicePath(int portNumber, const std::string& path);
std::string DefaultComDevicePath(int portNumber);
