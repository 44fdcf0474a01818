#pragma once
// The truck data record by name: setting values from "name=value" and from
// JSON files, and writing records as text, CSV or JSON lines. Names, bytes and
// bits all come from the truck data map.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace TruckValues {

// A named value: a whole byte (Mask 0xFF) or one status flag.
struct Field {
  QString Name;
  int Byte = 0;
  std::uint8_t Mask = 0xFF;
  const char* Key = nullptr;  // the same name, set for the columns only
};

// The columns of exported records: bytes 0 to 20 by name, then the 24 status
// flags in table order (status byte 21 bit 7 first).
const std::vector<Field>& Columns();

// Finds a column name, "status_1" to "status_3" (the whole status byte) or
// "byteN" (any byte 0 to 254).
bool Find(const QString& name, Field& field);

// Applies "name=value" to record, whose first length bytes go out. A byte
// takes 0 to 255, a flag 0, 1, true, false, on or off; numbers may have a 0x
// prefix. Raises Cli::UsageError.
void Assign(const QString& assignment, std::uint8_t* record, int length);
// Applies every member of the JSON object in the file ({"engine_rpm": 173,
// "dump_body_up": true, "fault_code": "0x3C"}). Raises Cli::Failure.
void AssignFromJsonFile(const QString& path, std::uint8_t* record, int length);

enum class Format { Text, Csv, Json };
// "text", "csv" or "json"; raises Cli::UsageError.
Format ParseFormat(const QString& text);

// What the receiver met, as the event column names it.
namespace EventWord {
inline constexpr char Good[] = "good";
inline constexpr char ChecksumError[] = "checksum-error";
inline constexpr char LengthError[] = "length-error";
inline constexpr char StartOfFrame[] = "start-of-frame";
}  // namespace EventWord

// One receive event or capture line to write.
struct Event {
  long long Line = 0;     // line number in a capture file; 0 for none
  int TimeOfDayMs = 0;    // written as "12:34:56.789"
  int Status = 0;         // the receive status, as the link reported it
  const char* What = "";  // what happened: event words joined by '+'; may be empty
  int Length = 0;         // data length of the record
  const std::uint8_t* Data = nullptr;
};

class Formatter {
public:
  // extraBytes: CSV columns for bytes 24 and up (records with fewer leave them
  // empty). withLine adds the capture line number column.
  Formatter(Format format, int extraBytes, bool withLine);
  // The CSV header line (with newline); empty for the other formats.
  QByteArray Header() const;
  // One line with newline.
  QByteArray Line(const Event& event) const;
  // The same line formed in out, which holds capacity bytes (LineMax is
  // always enough); returns its length. Never allocates, so the monitor can
  // form its lines on the worker thread.
  static constexpr std::size_t LineMax = 8192;
  std::size_t Write(const Event& event, char* out, std::size_t capacity) const;

private:
  class LineOut;
  void WriteCsv(const Event& event, LineOut& out) const;
  void WriteJson(const Event& event, LineOut& out) const;
  void WriteText(const Event& event, LineOut& out) const;

  Format Kind;
  int ExtraBytes;
  bool WithLine;
};

}  // namespace TruckValues
