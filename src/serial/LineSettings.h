#pragma once
// What TComPort's line-setting codes mean. The codes are the integers the
// settings file stores and never change; these tables give each its word on the
// command line, its caption in the port dialog and the termios bits the port
// sets for it, so the port, the dialog and the command line agree.

#include <cstdint>
#include <string_view>

namespace LineSettings {

struct TParity {
  std::uint8_t Code;    // as stored: 0 none, 1 odd, 2 even, 3 mark, 4 space
  const char* Name;     // the command line's word: "none", "odd", ...
  const char* Caption;  // the port dialog's caption, "No Parity", ...; messages use it in lower case
  char Letter;          // as in "8N1"
  unsigned Flags;       // termios c_cflag bits
};
extern const TParity Parities[5];  // indexed by code

struct TStopBits {
  std::uint8_t Code;  // as stored: 0 one, 1 one and a half, 2 two
  const char* Name;   // the command line's word: "1", "1.5", "2"
  // Sent as two stop bits: termios cannot say one and a half, and two is the
  // nearest that every receiver still reads.
  bool Two;
  unsigned Flags;  // termios c_cflag bits
};
extern const TStopBits StopBits[3];  // indexed by code

struct TDataBits {
  std::uint8_t Code;  // as stored: the number of data bits
  unsigned Flags;     // termios c_cflag bits
};
extern const TDataBits DataBits[4];  // 5 to 8 data bits

// The rates the port dialog offers, in its order; the command line's
// completion offers the same. Any other positive rate is set up where the
// driver allows.
inline constexpr int OfferedRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// The entry for a code, or null when the code means nothing.
const TParity* FindParity(int code);
const TStopBits* FindStopBits(int code);
const TDataBits* FindDataBits(int code);
// The entry for a command-line word (parity in any case), or null.
const TParity* ParityNamed(std::string_view name);
const TStopBits* StopBitsNamed(std::string_view name);

// Every c_cflag bit that some entry of the tables sets.
extern const unsigned LineFlagsMask;

}  // namespace LineSettings
