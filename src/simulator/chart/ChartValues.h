#pragma once
// What a chart of truck data can show and export: every value of the record by
// the column name `quorlink decode` gives it (bytes 0 to 20, the 24 status
// flags, the additional bytes "byte24" to "byte99"), the kinds of marked
// events, and the CSV lines of exported records. Names come from the truck
// data map.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <vector>

namespace ChartValues {

struct Value {
  enum Group { Named, Flag, Additional };
  QString Name;     // "engine_rpm", "dump_body_up", "byte24": the column name of quorlink decode
  QString Caption;  // "Engine RPM", "Dump Body Up", "Byte 24": the legend and the list of values
  int Byte = 0;
  std::uint8_t Mask = 0xFF;  // one bit for a flag
  Group Kind = Named;

  bool IsFlag() const { return Kind == Flag; }
  // The value in a record: the byte, or 0/1 for a flag.
  int Of(const std::uint8_t* record) const {
    return IsFlag() ? ((record[Byte] & Mask) ? 1 : 0) : static_cast<int>(record[Byte]);
  }
};

// Every value, in the column order of quorlink decode; an index into this
// list is how charts and sources name a value.
const std::vector<Value>& All();
// The index of the value of that column name, or -1.
int Find(const QString& name);

// Marked events: a receive status other than 0 (1 checksum, 2 start byte,
// 3 length), the port lost, or a capture line that could not be read.
constexpr int PortLost = 256;
constexpr int DamagedLine = 257;
// "Checksum error", "Start byte error", "Length error", "Port lost",
// "Damaged line", "Status N".
QString EventName(int kind);

// One record to export. Data holds its first Length bytes, at most
// TruckDataMap::RecordSize of them: no value lies beyond that.
struct Record {
  qint64 Time = 0;  // milliseconds since the epoch, local time of day in the CSV
  int Line = 0;     // line number in a capture file; 0 when there is none
  int Status = 0;
  int Length = 0;
  const std::uint8_t* Data = nullptr;
};

// The CSV of quorlink decode, cut to the chosen values (indexes into All(), in
// that order): "line," when withLine, then "time,status,length" and the
// chosen columns. Values are decimal, flags 0 or 1, a byte past the record's
// length is left empty, the time is "HH:MM:SS.mmm".
QByteArray CsvHeader(const std::vector<int>& values, bool withLine);
QByteArray CsvLine(const Record& record, const std::vector<int>& values, bool withLine);

}  // namespace ChartValues
