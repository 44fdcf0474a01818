#pragma once
// The capture file format in one place. A capture is a header block ("Log
// Start" with the date and time, then the column line) followed by one record
// line per receive event:
//
//   HH:MM:SS:mmm status      length   >xx xx ... <CR LF
//
// This module forms those lines, parses one back from a byte range (cheap and
// allocation-free, so that a reader can index huge files with it), and
// writes the time of day the way exports show it ("12:34:56.789").
// CaptureWriter writes files with it, CaptureReader streams them.

#include <cstddef>
#include <cstdint>
#include <string>

class QDateTime;

namespace CaptureFormat {

inline constexpr char HeaderStart[] = "Log Start ";
inline constexpr char ColumnLine[] = "Time      Status  Length >Data[0] Data[1] Data[2] ...";
inline constexpr int DayMs = 24 * 60 * 60 * 1000;

// The longest record line (data length 255, a status of eight hex digits) is
// 802 bytes with its CR LF; buffers for one line take RecordLineMax.
inline constexpr std::size_t RecordLineMax = 808;
// No header or record line comes near this; a longer line is damaged.
inline constexpr std::size_t LineLengthMax = 1024;

// The local time of day now, in milliseconds since midnight.
int LocalTimeOfDayMs();

// "HH:MM:SS" followed by millisSeparator and "mmm": 12 characters at out,
// no terminator; returns the end. Negative times count as 0, and hours wrap at
// 100 so that the text never grows.
inline constexpr std::size_t TimeTextSize = 12;
char* PutTimeOfDay(char* out, int timeOfDayMs, char millisSeparator);

// The record line for one receive event, CR LF included; returns its length.
// out holds RecordLineMax bytes. Time fields are taken modulo 100
// (milliseconds 1000) so that no input can make the line longer.
std::size_t FormatRecordLine(char* out, int hours, int minutes, int seconds, int millis, int status,
                             std::uint8_t length, const std::uint8_t* data);
std::size_t FormatRecordLine(char* out, int timeOfDayMs, int status, std::uint8_t length, const std::uint8_t* data);

// The header block for the given local date and time, in the system locale's
// short date and long time (without time zone) formats, 8-bit text.
std::string FormatHeader(const QDateTime& now);
// The date and time of a header line [begin, end), read in the system
// locale's formats (then in a few common ones, for captures made elsewhere);
// false when they can't be read. A two-digit year is taken in this century.
bool ParseHeader(const char* begin, const char* end, QDateTime& started);

// One record line, parsed.
struct Record {
  int TimeOfDayMs = 0;
  int Status = 0;  // the status column: any 32-bit value written in hex
  int Length = 0;  // 0 to 255
  std::uint8_t Data[256] = {};
};

// Why a line is not a capture line; Count and Length tell which byte or how
// many where the reason needs them.
struct Damage {
  enum Reason {
    None,
    NoTime,
    TimeOutOfRange,
    NoStatus,
    BadStatus,
    NoLength,
    BadLength,
    NoDataStart,
    CutShort,
    BadByte,
    TooManyBytes,
    ByteCount,
    TextAfterEnd,
    TooLong,
  };
  Reason Why = None;
  int Count = 0;
  int Length = 0;
};
// The reason in words, e.g. "data byte 9 is not two hexadecimal digits and a space".
std::string Describe(const Damage& damage);

enum class LineKind { Blank, Header, Columns, Record, Damaged };

// Parses the line [begin, end), line end not included. A record line fills
// record (only its first Length data bytes); a damaged one fills damage.
LineKind ParseLine(const char* begin, const char* end, Record& record, Damage& damage);

}  // namespace CaptureFormat
