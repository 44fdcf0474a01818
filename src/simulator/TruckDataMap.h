#pragma once
// The truck data record: which control feeds each byte and bit, where each
// additional byte sits in the grid, and the text forms of a byte. Packing and
// unpacking work through TruckDataControls, so the map runs without widgets.

#include <QString>
#include <QStringView>
#include <cstdint>

namespace TruckDataMap {

constexpr int RecordSize = 100;  // the largest data length
constexpr int MinDataLength = 24;
constexpr int MaxDataLength = 100;
constexpr int AnalogBytes = 21;  // bytes 0 to 20
constexpr int FaultCodeByte = 14;
constexpr int FirstStatusByte = 21;  // bytes 21, 22, 23
constexpr int StatusBytes = 3;
constexpr int NamedBytes = 24;  // bytes 0 to 23
constexpr int FirstAdditionalByte = 24;
constexpr int GridDataColumns = 8;  // columns 1 to 8; column 0 and row 0 are fixed
constexpr int LedCount = StatusBytes * 8;

// The named truck values by byte.
enum TruckByte {
  GroundSpeed = 0,
  EngineRPM,
  EngineTemp,
  AlternatorTemp,
  Motor1Temp,
  Motor2Temp,
  CruiseSetpoint,
  ThrottlePedal,
  RetardPedal,
  SteeringAngle,
  LeftMotorCurrent,
  LeftMotorSpeed,
  RightMotorCurrent,
  RightMotorSpeed,
  FaultCode,
  FuelLevel,
  BatteryVoltage,
  EngineOilPressure,
  AirPressure,
  SpeedLimit,
  AnalogSpare,
  Status1,
  Status2,
  Status3
};

// Bytes 0 to 23 by the names that command lines, value files and exported
// columns use ("engine_rpm"), with their meaning in words.
struct NamedByte {
  const char* Name;
  const char* Meaning;
};
extern const NamedByte NamedByteTable[NamedBytes];

// One status flag. The table below lists them by status byte, bit 7 first;
// the index into it is the LED index used throughout. Name is the flag's name
// on command lines and in exported columns ("dump_body_up").
struct StatusFlag {
  int Byte;
  std::uint8_t Mask;
  const char* Caption;
  const char* Name;
};
extern const StatusFlag StatusFlags[LedCount];

// The LED indexes of one column of the "Truck Status" tab, top to bottom.
// Column c shows status byte 21 + c; the first column shows bit 4 above bit 5.
extern const int StatusColumnOrder[StatusBytes][8];

struct GridCell {
  int Column;
  int Row;
};
// The grid cell of additional byte i (24 <= i < 100).
constexpr GridCell CellOfByte(int i) {
  return {1 + (i - FirstAdditionalByte) % GridDataColumns, 1 + (i - FirstAdditionalByte) / GridDataColumns};
}
// Grid rows, the fixed row included, that show every additional byte of n data bytes;
// never fewer than the 5 rows the window's design gives the grid.
constexpr int GridRowsFor(int n) {
  const int extra = n > FirstAdditionalByte ? n - FirstAdditionalByte : 0;
  const int dataRows = (extra + GridDataColumns - 1) / GridDataColumns;
  return 1 + (dataRows > 4 ? dataRows : 4);
}

// Two hexadecimal digits, upper case: 0 -> "00", 10 -> "0A", 173 -> "AD".
QString ByteText(std::uint8_t value);

// The byte a grid cell's text stands for: white space, an optional sign and an
// optional 0x prefix, then hexadecimal digits up to the first other character;
// no digit gives 0. The number wraps at 32 bits, a minus sign negates it, and
// the byte is its low 8 bits, so it always equals the last two digits read
// ("1A" 1A, "123" 23, "-1" FF, "123456789" 89).
std::uint8_t CellTextToByte(QStringView text);

// The controls the record is packed from and unpacked onto. Slider bytes are
// 0 to 20 but 14; LEDs are indexes into StatusFlags.
class TruckDataControls {
public:
  virtual ~TruckDataControls() = default;
  virtual int NumberBytes() const = 0;  // the data length N, read anew at every use
  virtual int SliderPosition(int byte) const = 0;
  virtual void SetSliderPosition(int byte, int position) = 0;
  virtual int FaultCodeValue() const = 0;
  virtual void SetFaultCodeValue(int value) = 0;
  virtual bool LedChecked(int led) const = 0;
  virtual void SetLedChecked(int led, bool checked) = 0;
  virtual void SetEditText(int byte, const QString& text) = 0;  // bytes 0 to 23
  virtual QString CellText(int column, int row) const = 0;
  virtual void SetCellText(int column, int row, const QString& text) = 0;
};

// Fills bytes 0 to N-1 of record (RecordSize bytes) from the controls and the
// grid and refreshes the 24 edit boxes. Bytes at or past RecordSize are never touched.
void Pack(TruckDataControls& controls, std::uint8_t* record);
// Sets the controls, edit boxes and the cells of bytes 24 to N-1 from record.
void Unpack(const std::uint8_t* record, TruckDataControls& controls);

}  // namespace TruckDataMap
