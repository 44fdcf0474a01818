// The truck data map without widgets: byte and bit tables, the grid walk and
// the text forms of a byte, through a plain stand-in for the window's controls.

#include "simulator/TruckDataMap.h"

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <map>
#include <set>
#include <utility>

using namespace TruckDataMap;

namespace {

struct FakeControls : TruckDataControls {
  int N = 24;
  int Slider[AnalogBytes] = {};
  int Fault = 0;
  bool Led[LedCount] = {};
  QString Edit[NamedBytes];
  std::map<std::pair<int, int>, QString> Cell;
  std::set<std::pair<int, int>> CellsRead;
  std::set<std::pair<int, int>> CellsWritten;

  int NumberBytes() const override { return N; }
  int SliderPosition(int byte) const override {
    EXPECT_NE(byte, FaultCodeByte);
    return Slider[byte];
  }
  void SetSliderPosition(int byte, int position) override {
    EXPECT_NE(byte, FaultCodeByte);
    Slider[byte] = position;
  }
  int FaultCodeValue() const override { return Fault; }
  void SetFaultCodeValue(int value) override { Fault = value; }
  bool LedChecked(int led) const override { return Led[led]; }
  void SetLedChecked(int led, bool checked) override { Led[led] = checked; }
  void SetEditText(int byte, const QString& text) override { Edit[byte] = text; }
  QString CellText(int column, int row) const override {
    const_cast<FakeControls*>(this)->CellsRead.insert({column, row});
    auto it = Cell.find({column, row});
    return it == Cell.end() ? QString() : it->second;
  }
  void SetCellText(int column, int row, const QString& text) override {
    CellsWritten.insert({column, row});
    Cell[{column, row}] = text;
  }
};

int LedIndex(const char* caption, int byte) {
  for (int i = 0; i < LedCount; ++i)
    if (StatusFlags[i].Byte == byte && QString::fromLatin1(StatusFlags[i].Caption) == QLatin1String(caption)) return i;
  return -1;
}

}  // namespace

TEST(TruckDataMapText, ByteTextIsTwoUpperCaseDigits) {
  EXPECT_EQ(ByteText(0), "00");
  EXPECT_EQ(ByteText(10), "0A");
  EXPECT_EQ(ByteText(173), "AD");
  EXPECT_EQ(ByteText(255), "FF");
  for (int v = 0; v < 256; ++v) EXPECT_EQ(ByteText(v).toInt(nullptr, 16), v);
}

TEST(TruckDataMapText, CellTextReadsLikeAHexNumber) {
  const struct {
    const char16_t* text;
    int byte;
  } cases[] = {
      {u"1A", 0x1A}, {u"1a", 0x1A}, {u"7", 0x07}, {u"123", 0x23}, {u"1FF", 0xFF}, {u"-1", 0xFF},
      {u"0x2a", 0x2A}, {u"0X2A", 0x2A}, {u"", 0}, {u"   ", 0}, {u"GHI", 0}, {u"zz", 0},
      {u"  +1a zz", 0x1A}, {u"\t-0x01", 0xFF}, {u"-2", 0xFE}, {u"0x", 0}, {u"0xg", 0},
      {u"x1", 0}, {u"- 1", 0}, {u"1 2", 0x01}, {u"ABx12", 0xAB}, {u"00FF", 0xFF},
      // More than eight digits: the number wraps, the byte is still the last two digits.
      {u"123456789", 0x89}, {u"FFFFFFFFF0", 0xF0}, {u"-123456789", 0x77},
      // A full-width digit is not a hexadecimal digit.
      {u"\uFF11", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CellTextToByte(QString::fromUtf16(c.text)), c.byte) << QString::fromUtf16(c.text).toStdString();
}

TEST(TruckDataMapPack, NamedBytesComeFromTheirControls) {
  FakeControls c;
  for (int b = 0; b < AnalogBytes; ++b) c.Slider[b] = 10 + b * 7;
  c.Slider[GroundSpeed] = 0;
  c.Slider[AnalogSpare] = 255;
  c.Fault = 0xFF;
  std::uint8_t record[RecordSize] = {};
  Pack(c, record);

  EXPECT_EQ(record[GroundSpeed], 0);
  EXPECT_EQ(c.Edit[GroundSpeed], "00");
  EXPECT_EQ(record[AnalogSpare], 255);
  EXPECT_EQ(c.Edit[AnalogSpare], "FF");
  EXPECT_EQ(record[FaultCodeByte], 0xFF);
  EXPECT_EQ(c.Edit[FaultCodeByte], "FF");
  for (int b = 1; b < AnalogSpare; ++b) {
    if (b == FaultCodeByte) continue;
    EXPECT_EQ(record[b], 10 + b * 7) << "byte " << b;
    EXPECT_EQ(c.Edit[b], ByteText(10 + b * 7)) << "byte " << b;
  }
  for (int s = 0; s < StatusBytes; ++s) {
    EXPECT_EQ(record[FirstStatusByte + s], 0);
    EXPECT_EQ(c.Edit[FirstStatusByte + s], "00");
  }
}

TEST(TruckDataMapPack, StatusBytesFollowTheirLeds) {
  for (int byte = Status1; byte <= Status3; ++byte) {
    int group[8];
    int n = 0;
    for (int i = 0; i < LedCount; ++i)
      if (StatusFlags[i].Byte == byte) group[n++] = i;
    ASSERT_EQ(n, 8);
    std::uint8_t record[RecordSize] = {};

    FakeControls all;
    for (int i : group) all.Led[i] = true;
    Pack(all, record);
    EXPECT_EQ(record[byte], 0xFF);
    EXPECT_EQ(all.Edit[byte], "FF");

    FakeControls first;
    first.Led[group[0]] = true;
    Pack(first, record);
    EXPECT_EQ(record[byte], 0x80);

    FakeControls last;
    last.Led[group[7]] = true;
    Pack(last, record);
    EXPECT_EQ(record[byte], 0x01);
    EXPECT_EQ(last.Edit[byte], "01");

    FakeControls none;
    record[byte] = 0x5A;
    Pack(none, record);
    EXPECT_EQ(record[byte], 0x00);
  }
  // An LED of one byte never leaks into another.
  FakeControls c;
  c.Led[LedIndex("Gear Select Forward", 22)] = true;
  std::uint8_t record[RecordSize] = {};
  Pack(c, record);
  EXPECT_EQ(record[21], 0x00);
  EXPECT_EQ(record[22], 0x10);
  EXPECT_EQ(record[23], 0x00);
}

TEST(TruckDataMapPack, GridWalkCoversExactlyTheAdditionalBytes) {
  struct Case {
    int n;
    int lastByte;
    int lastColumn;
    int lastRow;
  };
  const Case cases[] = {{25, 24, 1, 1}, {33, 32, 1, 2}, {56, 55, 8, 4}, {57, 56, 1, 5}, {100, 99, 4, 10}};
  for (const Case& k : cases) {
    FakeControls c;
    c.N = k.n;
    // Every cell names its own place, so a misplaced read shows.
    for (int row = 0; row <= 11; ++row)
      for (int col = 0; col <= 9; ++col) c.Cell[{col, row}] = QString::number(row * 16 + col, 16);
    std::uint8_t record[RecordSize + 4] = {};
    std::fill(std::begin(record), std::end(record), 0xEE);
    Pack(c, record);

    EXPECT_EQ(static_cast<int>(c.CellsRead.size()), k.n - 24) << "N=" << k.n;
    EXPECT_EQ(*c.CellsRead.begin(), std::make_pair(1, 1));
    EXPECT_TRUE(c.CellsRead.count({k.lastColumn, k.lastRow})) << "N=" << k.n;
    EXPECT_EQ(record[k.lastByte], k.lastRow * 16 + k.lastColumn) << "N=" << k.n;
    for (int i = 24; i < k.n; ++i) {
      const GridCell cell = CellOfByte(i);
      EXPECT_GE(cell.Column, 1);
      EXPECT_LE(cell.Column, 8);
      EXPECT_EQ(record[i], cell.Row * 16 + cell.Column) << "byte " << i;
    }
    for (int i = k.n; i < RecordSize + 4; ++i) EXPECT_EQ(record[i], 0xEE) << "N=" << k.n << " byte " << i;
  }
  // N = 24: the grid is neither read nor written.
  FakeControls c;
  c.N = 24;
  c.Cell[{1, 1}] = "7";
  std::uint8_t record[RecordSize] = {};
  Pack(c, record);
  Unpack(record, c);
  EXPECT_TRUE(c.CellsRead.empty());
  EXPECT_TRUE(c.CellsWritten.empty());
  EXPECT_EQ(record[24], 0);
}

TEST(TruckDataMapPack, NeverWritesPastTheRecord) {
  FakeControls c;
  c.N = 255;  // more than the record holds
  std::uint8_t record[RecordSize + 8];
  std::fill(std::begin(record), std::end(record), 0xEE);
  Pack(c, record);
  for (int i = RecordSize; i < RecordSize + 8; ++i) EXPECT_EQ(record[i], 0xEE);
  Unpack(record, c);
  EXPECT_FALSE(c.CellsWritten.count({5, 10}));  // byte 100 has no place
}

TEST(TruckDataMapUnpack, StatusByteLightsItsColumn) {
  FakeControls c;
  for (bool& l : c.Led) l = true;
  std::uint8_t record[RecordSize] = {};
  record[21] = 0xFF;
  record[22] = 0x11;
  record[23] = 0x00;
  Unpack(record, c);
  for (int i = 0; i < LedCount; ++i) {
    if (StatusFlags[i].Byte != 22) continue;
    const bool lit = i == LedIndex("Gear Select Forward", 22) || i == LedIndex("Inverter A Avail", 22);
    EXPECT_EQ(c.Led[i], lit) << StatusFlags[i].Caption;
  }
  EXPECT_EQ(c.Edit[22], "11");
  for (int i = 0; i < LedCount; ++i) {
    if (StatusFlags[i].Byte == 21) {
      EXPECT_TRUE(c.Led[i]);
    } else if (StatusFlags[i].Byte == 23) {
      EXPECT_FALSE(c.Led[i]);
    }
  }
}

TEST(TruckDataMapUnpack, ValuesReachControlsEditBoxesAndCells) {
  FakeControls c;
  c.N = 26;
  std::uint8_t record[RecordSize] = {};
  record[FaultCodeByte] = 0x3C;
  record[EngineRPM] = 173;
  record[24] = 10;
  record[25] = 171;
  record[26] = 99;  // beyond N: not shown
  Unpack(record, c);
  EXPECT_EQ(c.Fault, 0x3C);
  EXPECT_EQ(c.Edit[FaultCodeByte], "3C");
  EXPECT_EQ(c.Slider[EngineRPM], 173);
  EXPECT_EQ(c.Edit[EngineRPM], "AD");
  EXPECT_EQ(c.Cell[std::make_pair(1, 1)], "0A");
  EXPECT_EQ(c.Cell[std::make_pair(2, 1)], "AB");
  EXPECT_EQ(c.CellsWritten.size(), 2u);
}

TEST(TruckDataMapUnpack, PackOfAnUnpackedRecordGivesItBack) {
  std::uint8_t record[RecordSize];
  for (int i = 0; i < RecordSize; ++i) record[i] = static_cast<std::uint8_t>(i * 37 + 11);
  FakeControls c;
  c.N = RecordSize;
  Unpack(record, c);
  std::uint8_t again[RecordSize] = {};
  Pack(c, again);
  for (int i = 0; i < RecordSize; ++i) EXPECT_EQ(again[i], record[i]) << "byte " << i;
}

TEST(TruckDataMapLayout, TruckStatusColumnsShowEachFlagOnce) {
  std::set<int> seen;
  for (int column = 0; column < StatusBytes; ++column)
    for (int place = 0; place < 8; ++place) {
      const int led = StatusColumnOrder[column][place];
      EXPECT_EQ(StatusFlags[led].Byte, FirstStatusByte + column);
      seen.insert(led);
    }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(LedCount));
  // The first column shows "Steering/Brake OverTemp" above "Low Steering Pressure".
  EXPECT_STREQ(StatusFlags[StatusColumnOrder[0][2]].Caption, "Steering/Brake OverTemp");
  EXPECT_STREQ(StatusFlags[StatusColumnOrder[0][3]].Caption, "Low Steering Pressure");
  EXPECT_EQ(GridRowsFor(24), 5);
  EXPECT_EQ(GridRowsFor(56), 5);
  EXPECT_EQ(GridRowsFor(57), 6);
  EXPECT_EQ(GridRowsFor(100), 11);
}
