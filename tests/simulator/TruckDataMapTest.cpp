// The truck data map without widgets, through a plain stand-in for the window's controls.

#include "simulator/TruckDataMap.h"

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

using namespace TruckDataMap;

namespace {

struct FakeControls : TruckDataControls {
  int N = 24;
  int Slider[AnalogBytes] = {};
  int Fault = 0;
  bool Led[LedCount] = {};
  QString Edit[NamedBytes];
  std::map<std::pair<int, int>, QString> Cell;
  mutable std::set<std::pair<int, int>> Read, Written;

  int NumberBytes() const override { return N; }
  int SliderPosition(int byte) const override { return Slider[byte]; }
  void SetSliderPosition(int byte, int position) override { Slider[byte] = position; }
  int FaultCodeValue() const override { return Fault; }
  void SetFaultCodeValue(int value) override { Fault = value; }
  bool LedChecked(int led) const override { return Led[led]; }
  void SetLedChecked(int led, bool checked) override { Led[led] = checked; }
  void SetEditText(int byte, const QString& text) override { Edit[byte] = text; }
  QString CellText(int column, int row) const override {
    Read.insert({column, row});
    const auto it = Cell.find({column, row});
    return it == Cell.end() ? QString() : it->second;
  }
  void SetCellText(int column, int row, const QString& text) override {
    Written.insert({column, row});
    Cell[{column, row}] = text;
  }
};

std::vector<int> LedsOf(int byte) {
  std::vector<int> leds;
  for (int i = 0; i < LedCount; ++i)
    if (StatusFlags[i].Byte == byte) leds.push_back(i);
  return leds;
}

}  // namespace

TEST(TruckDataMap, ByteAndCellTexts) {
  EXPECT_EQ(ByteText(0), "00");
  EXPECT_EQ(ByteText(10), "0A");
  EXPECT_EQ(ByteText(173), "AD");
  EXPECT_EQ(ByteText(255), "FF");
  const std::pair<const char*, int> cells[] = {{"1A", 0x1A},
                                               {"1a", 0x1A},
                                               {"7", 0x07},
                                               {"123", 0x23},
                                               {"1FF", 0xFF},
                                               {"-1", 0xFF},
                                               {"0x2a", 0x2A},
                                               {"0X2A", 0x2A},
                                               {"", 0},
                                               {"GHI", 0},
                                               {"  +1a zz", 0x1A},
                                               {"\t-0x01", 0xFF},
                                               {"0x", 0},
                                               {"0xg", 0},
                                               {"- 1", 0},
                                               {"1 2", 0x01},
                                               // More than eight digits wrap at 32 bits: still the last two digits.
                                               {"123456789", 0x89},
                                               {"-123456789", 0x77}};
  for (const auto& [text, byte] : cells) EXPECT_EQ(CellTextToByte(QString::fromLatin1(text)), byte) << text;
  EXPECT_EQ(CellTextToByte(QStringLiteral("\uFF11")), 0);  // a full-width digit is no hex digit
}

TEST(TruckDataMap, StatusBytesAndTheirLeds) {
  std::uint8_t record[RecordSize] = {};
  for (int byte = 21; byte <= 23; ++byte) {
    const std::vector<int> leds = LedsOf(byte);
    ASSERT_EQ(leds.size(), 8u);
    const auto packWith = [&](std::vector<int> on) {
      FakeControls c;
      for (int led : on) c.Led[led] = true;
      record[byte] = 0x5A;
      Pack(c, record);
      EXPECT_EQ(c.Edit[byte], ByteText(record[byte]));
      return record[byte];
    };
    EXPECT_EQ(packWith(leds), 0xFF);
    EXPECT_EQ(packWith({leds.front()}), 0x80);
    EXPECT_EQ(packWith({leds.back()}), 0x01);
    EXPECT_EQ(packWith({}), 0x00);
  }
  // Received 11 in byte 22: "Gear Select Forward" and "Inverter A Avail" light, the rest go dark.
  FakeControls c;
  std::fill(std::begin(c.Led), std::end(c.Led), true);
  record[22] = 0x11;
  Unpack(record, c);
  for (int led : LedsOf(22)) {
    const QString caption = QString::fromLatin1(StatusFlags[led].Caption);
    EXPECT_EQ(c.Led[led], caption == "Gear Select Forward" || caption == "Inverter A Avail")
        << StatusFlags[led].Caption;
  }
  EXPECT_EQ(c.Edit[22], "11");
  // On screen the first column shows bit 4 above bit 5; every flag appears once.
  EXPECT_STREQ(StatusFlags[StatusColumnOrder[0][2]].Caption, "Steering/Brake OverTemp");
  EXPECT_STREQ(StatusFlags[StatusColumnOrder[0][3]].Caption, "Low Steering Pressure");
  std::set<int> shown;
  for (const auto& column : StatusColumnOrder) shown.insert(std::begin(column), std::end(column));
  EXPECT_EQ(shown.size(), std::size_t(LedCount));
}

TEST(TruckDataMap, GridWalkReadsExactlyTheAdditionalBytes) {
  // {N, last byte's column, last byte's row}
  const int cases[][3] = {{24, 0, 0}, {25, 1, 1}, {33, 1, 2}, {56, 8, 4}, {57, 1, 5}, {100, 4, 10}, {255, 4, 10}};
  for (const auto& [n, lastColumn, lastRow] : cases) {
    FakeControls c;
    c.N = n;
    for (int row = 0; row <= 31; ++row)  // every cell names its own place
      for (int col = 0; col <= 9; ++col) c.Cell[{col, row}] = QString::number(row * 16 + col, 16);
    std::uint8_t record[RecordSize + 4];
    std::fill(std::begin(record), std::end(record), 0xEE);
    Pack(c, record);
    const int used = std::min(n, RecordSize) - 24;
    EXPECT_EQ(int(c.Read.size()), used) << "N=" << n;
    for (int i = 24; i < 24 + used; ++i) {
      const GridCell cell = CellOfByte(i);
      EXPECT_EQ(record[i], cell.Row * 16 + cell.Column) << "byte " << i;
    }
    if (used > 0) {
      EXPECT_EQ(record[23 + used], lastRow * 16 + lastColumn) << "N=" << n;
    }
    for (int i = 24 + used; i < RecordSize + 4; ++i) EXPECT_EQ(record[i], 0xEE) << "N=" << n << " byte " << i;
  }
}
