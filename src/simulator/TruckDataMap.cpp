#include "simulator/TruckDataMap.h"

#include "platform/HexDigits.h"

#include <array>

namespace TruckDataMap {

const NamedByte NamedByteTable[NamedBytes] = {
    {"ground_speed", "Ground speed"},
    {"engine_rpm", "Engine RPM"},
    {"engine_temp", "Engine temperature"},
    {"alternator_temp", "Alternator temperature"},
    {"motor1_temp", "Motor 1 temperature"},
    {"motor2_temp", "Motor 2 temperature"},
    {"cruise_setpoint", "Cruise setpoint"},
    {"throttle_pedal", "Throttle pedal"},
    {"retard_pedal", "Retard pedal"},
    {"steering_angle", "Steering angle"},
    {"left_motor_current", "Left motor current"},
    {"left_motor_speed", "Left motor speed"},
    {"right_motor_current", "Right motor current"},
    {"right_motor_speed", "Right motor speed"},
    {"fault_code", "Fault code"},
    {"fuel_level", "Fuel level"},
    {"battery_voltage", "Battery voltage"},
    {"engine_oil_pressure", "Engine oil pressure"},
    {"air_pressure", "Air pressure"},
    {"speed_limit", "Speed limit"},
    {"analog_spare", "Analog spare"},
    {"status_1", "Status byte 1: eight flags"},
    {"status_2", "Status byte 2: eight flags"},
    {"status_3", "Status byte 3: eight flags"},
};

const StatusFlag StatusFlags[LedCount] = {
    {21, 0x80, "Dump Body Up", "dump_body_up"},
    {21, 0x40, "Low Brake Pressure", "low_brake_pressure"},
    {21, 0x20, "Low Steering Pressure", "low_steering_pressure"},
    {21, 0x10, "Steering/Brake OverTemp", "steering_brake_overtemp"},
    {21, 0x08, "Com Fault", "com_fault"},
    {21, 0x04, "Chopper Fault", "chopper_fault"},
    {21, 0x02, "Inverter Fault", "inverter_fault"},
    {21, 0x01, "Hand Brake", "hand_brake"},
    {22, 0x80, "Preheat On", "preheat_on"},
    {22, 0x40, "Gear Select Reverse", "gear_select_reverse"},
    {22, 0x20, "Gear Select Neutral", "gear_select_neutral"},
    {22, 0x10, "Gear Select Forward", "gear_select_forward"},
    {22, 0x08, "Service Brake On", "service_brake_on"},
    {22, 0x04, "Park Brake On", "park_brake_on"},
    {22, 0x02, "Inverter B Avail", "inverter_b_avail"},
    {22, 0x01, "Inverter A Avail", "inverter_a_avail"},
    {23, 0x80, "Reserved", "reserved_2"},
    {23, 0x40, "Reserved", "reserved_1"},
    {23, 0x20, "Wheel Motor 1 Cooling Air", "wheel_motor_1_cooling_air"},
    {23, 0x10, "Wheel Motor 2 Cooling Air", "wheel_motor_2_cooling_air"},
    {23, 0x08, "Dump Hydraulic OverTemp", "dump_hydraulic_overtemp"},
    {23, 0x04, "Brights", "brights"},
    {23, 0x02, "Right Blinker", "right_blinker"},
    {23, 0x01, "Left Blinker", "left_blinker"},
};

const int StatusColumnOrder[StatusBytes][8] = {
    {0, 1, 3, 2, 4, 5, 6, 7},
    {8, 9, 10, 11, 12, 13, 14, 15},
    {16, 17, 18, 19, 20, 21, 22, 23},
};

QString ByteText(std::uint8_t value) {
  // Shared copies: the display refreshes every byte ten times a second.
  static const std::array<QString, 256> texts = [] {
    std::array<QString, 256> t;
    for (int v = 0; v < 256; ++v) t[v] = QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
    return t;
  }();
  return texts[value];
}

namespace {
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

std::uint8_t CellTextToByte(QStringView text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && IsSpace(text[i].unicode())) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // "0x" is a prefix only when a hex digit follows; "0xg" reads as the number 0.
  if (n - i >= 3 && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
      HexDigits::Value(text[i + 2].unicode()) >= 0)
    i += 2;
  std::uint32_t value = 0;
  bool any = false;
  for (; i < n; ++i) {
    const int d = HexDigits::Value(text[i].unicode());
    if (d < 0) break;
    value = value * 16u + static_cast<std::uint32_t>(d);
    any = true;
  }
  if (!any) return 0;
  if (negative) value = 0u - value;
  return static_cast<std::uint8_t>(value & 0xFFu);
}

void Pack(TruckDataControls& controls, std::uint8_t* record) {
  for (int b = 0; b < AnalogBytes; ++b) {
    const int v = b == FaultCodeByte ? controls.FaultCodeValue() : controls.SliderPosition(b);
    record[b] = static_cast<std::uint8_t>(v & 0xFF);
  }
  for (int s = 0; s < StatusBytes; ++s) record[FirstStatusByte + s] = 0;
  for (int led = 0; led < LedCount; ++led)
    if (controls.LedChecked(led)) record[StatusFlags[led].Byte] |= StatusFlags[led].Mask;
  for (int b = 0; b < NamedBytes; ++b) controls.SetEditText(b, ByteText(record[b]));
  for (int i = FirstAdditionalByte; i < controls.NumberBytes() && i < RecordSize; ++i) {
    const GridCell cell = CellOfByte(i);
    record[i] = CellTextToByte(controls.CellText(cell.Column, cell.Row));
  }
}

void Unpack(const std::uint8_t* record, TruckDataControls& controls) {
  for (int b = 0; b < AnalogBytes; ++b) {
    if (b == FaultCodeByte)
      controls.SetFaultCodeValue(record[b]);
    else
      controls.SetSliderPosition(b, record[b]);
  }
  for (int led = 0; led < LedCount; ++led)
    controls.SetLedChecked(led, (record[StatusFlags[led].Byte] & StatusFlags[led].Mask) != 0);
  for (int b = 0; b < NamedBytes; ++b) controls.SetEditText(b, ByteText(record[b]));
  for (int i = FirstAdditionalByte; i < controls.NumberBytes() && i < RecordSize; ++i) {
    const GridCell cell = CellOfByte(i);
    controls.SetCellText(cell.Column, cell.Row, ByteText(record[i]));
  }
}

}  // namespace TruckDataMap
