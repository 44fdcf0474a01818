// quorlink decode: a capture file as CSV or JSON lines, a column per named
// value and per status flag, timestamps kept. The file is read as a stream, so
// memory stays the same whatever its size.

#include "capture/CaptureReader.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/OutputStream.h"
#include "cli/TruckValues.h"
#include "simulator/TruckDataMap.h"

#include <algorithm>
#include <cstring>

namespace {

using CaptureFormat::LineKind;

// The longest data length among the record lines; the file is read once for it.
int LongestRecord(CaptureReader& reader) {
  int longest = 0;
  while (reader.Next())
    if (reader.Kind() == LineKind::Record) longest = std::max(longest, reader.Record().Length);
  return longest;
}

// What a capture line tells of the receiver's event. The status is where the
// receiver was left, so a status 0 line is a good frame only when its record
// differs from the line before; otherwise it may as well be an error followed
// by the first bytes of the next frame, and the event stays empty.
class EventGuess {
public:
  const char* Of(const CaptureFormat::Record& record) {
    const char* what = "";
    switch (record.Status) {
    case 0:
      if (Known && record.Length == Length && std::memcmp(record.Data, Data, static_cast<size_t>(Length)) != 0)
        what = TruckValues::EventWord::Good;
      break;
    case 1: what = TruckValues::EventWord::ChecksumError; break;
    case 2: what = TruckValues::EventWord::StartOfFrame; break;
    case 3: what = TruckValues::EventWord::LengthError; break;
    default: break;
    }
    Known = true;
    Length = record.Length;
    std::memcpy(Data, record.Data, static_cast<size_t>(Length));
    return what;
  }
  // A new capture begins, or a line could not be read: the record before is unknown.
  void Forget() { Known = false; }

private:
  bool Known = false;
  int Length = 0;
  std::uint8_t Data[256] = {};
};

}  // namespace

int Commands::Decode(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Turns a capture file into CSV (a header line, then a row per record line) or\n"
                     "JSON lines: the capture line number, the time (HH:MM:SS.mmm), the status,\n"
                     "the event, the data length, then bytes 0 to 20 by name, the 24 status flags\n"
                     "(0 or 1) and the additional bytes (byte24 and up); values are decimal.\n"
                     "\n"
                     "The status is the receiver's status as the line holds it. The event is what\n"
                     "the line shows happened: good, checksum-error, length-error or start-of-frame\n"
                     "(status 2: an error, then the start of the next frame). A status 0 line is\n"
                     "ambiguous when its record is the same as the line before (or it is the\n"
                     "first of a capture): a good frame with the same data, or an error followed\n"
                     "by the first bytes of the next frame. Its event is then left empty;\n"
                     "'quorlink monitor' tells them apart as it receives.\n"
                     "\n"
                     "Lines may end in CR LF, LF or CR. A line that cannot be read is reported on\n"
                     "standard error with its line number and the rest is still decoded; the exit\n"
                     "code is then 1, as it is for a file without a single record line. CSV from\n"
                     "a pipe has the columns of every byte up to byte254."));
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture file."));
  const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("csv or json (default csv)."),
                                  QStringLiteral("format"), QStringLiteral("csv"));
  const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                  QStringLiteral("Write to this file instead of standard output."),
                                  QStringLiteral("file"));
  parser.addOptions({format, output});
  if (!Cli::Parse(parser, args, QStringLiteral("decode [options] file"), 1, 1)) return Cli::ExitSuccess;

  const TruckValues::Format kind = TruckValues::ParseFormat(parser.value(format));
  if (kind == TruckValues::Format::Text) throw Cli::UsageError(QStringLiteral("--format wants csv or json"));

  const QString path = parser.positionalArguments().first();
  CaptureReader reader;
  if (!reader.Open(path.toStdString())) throw Cli::Failure(QString::fromStdString(reader.Error()));
  struct stat input {};
  fstat(reader.Descriptor(), &input);

  OutputStream out;
  if (parser.isSet(output)) {
    switch (out.OpenFile(parser.value(output).toStdString(), &input)) {
    case OutputStream::OpenResult::Opened: break;
    case OutputStream::OpenResult::SameAsInput:
      throw Cli::UsageError(
          QStringLiteral("--output %1 is the capture file itself; give another file").arg(parser.value(output)));
    case OutputStream::OpenResult::Failed: throw Cli::Failure(QString::fromStdString(out.Error()));
    }
  }

  int longest = TruckDataMap::FirstAdditionalByte;
  if (kind == TruckValues::Format::Csv) {
    // The CSV header names every column before the first row, so a file is
    // read twice; a pipe can't be, and gets every column.
    longest = 255;
    if (reader.CanRewind()) {
      longest = LongestRecord(reader);
      if (!reader.Error().empty() || !reader.Rewind()) throw Cli::Failure(QString::fromStdString(reader.Error()));
    }
  }
  const TruckValues::Formatter formatter(kind, longest - TruckDataMap::FirstAdditionalByte, true);
  const QByteArray header = formatter.Header();
  out.Write(header.constData(), static_cast<std::size_t>(header.size()));

  long long records = 0;
  long long problems = 0;
  EventGuess guess;
  char line[TruckValues::Formatter::LineMax];
  while (out.Status() == OutputStream::State::Fine && reader.Next()) {
    switch (reader.Kind()) {
    case LineKind::Record: {
      const CaptureFormat::Record& record = reader.Record();
      TruckValues::Event event;
      event.Line = reader.LineNumber();
      event.TimeOfDayMs = record.TimeOfDayMs;
      event.Status = record.Status;
      event.What = guess.Of(record);
      event.Length = record.Length;
      event.Data = record.Data;
      out.Write(line, formatter.Write(event, line, sizeof line));
      ++records;
      break;
    }
    case LineKind::Damaged:
      ++problems;
      guess.Forget();
      Cli::PrintError(QStringLiteral("%1:%2: %3")
                          .arg(path)
                          .arg(reader.LineNumber())
                          .arg(QString::fromStdString(CaptureFormat::Describe(reader.Damage()))));
      break;
    case LineKind::Header: guess.Forget(); break;
    default: break;
    }
  }
  out.Finish();
  if (out.Status() == OutputStream::State::Failed) throw Cli::Failure(QString::fromStdString(out.Error()));
  if (out.Status() == OutputStream::State::ReaderGone) return Cli::ExitSuccess;
  if (!reader.Error().empty()) throw Cli::Failure(QString::fromStdString(reader.Error()));
  if (records == 0 && problems == 0) throw Cli::Failure(QStringLiteral("%1 holds no record line").arg(path));
  return problems == 0 ? Cli::ExitSuccess : Cli::ExitFailure;
}
