#pragma once
// Hexadecimal digits both ways, for every text form of a byte the program
// reads or writes (capture lines, the grid's cells).

namespace HexDigits {

inline constexpr char Lower[] = "0123456789abcdef";

// 0 to 15 for '0' to '9', 'a' to 'f' and 'A' to 'F'; -1 for anything else.
constexpr int Value(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

}  // namespace HexDigits
