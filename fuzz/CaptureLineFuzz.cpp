// Feeds arbitrary bytes to the capture line parser as one line and checks
// what the format promises: nothing is read outside the line, a damaged line
// says why, and a line taken for a record is written back by the format as
// a line that parses to the same record.

#include "FuzzCheck.h"
#include "capture/CaptureFormat.h"

#include <cstring>
#include <vector>

namespace {

bool Same(const CaptureFormat::Record& a, const CaptureFormat::Record& b) {
  return a.TimeOfDayMs == b.TimeOfDayMs && a.Status == b.Status && a.Length == b.Length &&
         std::memcmp(a.Data, b.Data, static_cast<size_t>(a.Length)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A buffer of exactly the line's size, so that a read past its end is caught.
  const std::vector<char> line(data, data + size);
  CaptureFormat::Record record;
  CaptureFormat::Damage damage;
  switch (CaptureFormat::ParseLine(line.data(), line.data() + line.size(), record, damage)) {
  case CaptureFormat::LineKind::Damaged: CHECK(!CaptureFormat::Describe(damage).empty()); break;
  case CaptureFormat::LineKind::Record: {
    CHECK(record.Length >= 0 && record.Length <= 255);
    CHECK(record.TimeOfDayMs >= 0 && record.TimeOfDayMs < CaptureFormat::DayMs);
    char out[CaptureFormat::RecordLineMax];
    const std::size_t n = CaptureFormat::FormatRecordLine(out, record.TimeOfDayMs, record.Status,
                                                          static_cast<std::uint8_t>(record.Length), record.Data);
    CHECK(n >= 2 && n <= sizeof out && out[n - 2] == '\r' && out[n - 1] == '\n');
    CaptureFormat::Record again;
    CHECK(CaptureFormat::ParseLine(out, out + n - 2, again, damage) == CaptureFormat::LineKind::Record);
    CHECK(Same(record, again));
    break;
  }
  default: break;
  }
  return 0;
}
