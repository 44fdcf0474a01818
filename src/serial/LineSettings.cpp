#include "serial/LineSettings.h"

#include <cctype>
#include <termios.h>

namespace LineSettings {

const TParity Parities[5] = {
    {0, "none", "No Parity", 'N', 0},
    {1, "odd", "Odd Parity", 'O', PARENB | PARODD},
    {2, "even", "Even Parity", 'E', PARENB},
    {3, "mark", "Mark Parity", 'M', PARENB | CMSPAR | PARODD},  // the parity bit always 1
    {4, "space", "Space Parity", 'S', PARENB | CMSPAR},         // always 0
};

const TStopBits StopBits[3] = {{0, "1", false, 0}, {1, "1.5", true, CSTOPB}, {2, "2", true, CSTOPB}};

const TDataBits DataBits[4] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

const unsigned LineFlagsMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

namespace {
template <class T, std::size_t N>
const T* Find(const T (&table)[N], int code) {
  for (const T& entry : table)
    if (entry.Code == code) return &entry;
  return nullptr;
}
}  // namespace

const TParity* FindParity(int code) { return Find(Parities, code); }
const TStopBits* FindStopBits(int code) { return Find(StopBits, code); }
const TDataBits* FindDataBits(int code) { return Find(DataBits, code); }

const TParity* ParityNamed(std::string_view name) {
  for (const TParity& p : Parities) {
    const std::string_view candidate = p.Name;
    bool same = candidate.size() == name.size();
    for (std::size_t i = 0; same && i < name.size(); ++i)
      same = std::tolower(static_cast<unsigned char>(name[i])) == candidate[i];
    if (same) return &p;
  }
  return nullptr;
}

const TStopBits* StopBitsNamed(std::string_view name) {
  for (const TStopBits& s : StopBits)
    if (name == s.Name) return &s;
  return nullptr;
}

}  // namespace LineSettings
