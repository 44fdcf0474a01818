// quorlink decode: a capture file as CSV or JSON lines, a column per named
// value and per status flag, timestamps kept.

#include "cli/CaptureReader.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/TruckValues.h"

#include <QFile>
#include <algorithm>
#include <cstdio>

int Commands::Decode(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Turns a capture file into CSV (a header line, then a row per record line) or\n"
                     "JSON lines: the capture line number, the time (HH:MM:SS.mmm), the status,\n"
                     "the data length, then bytes 0 to 20 by name, the 24 status flags (0 or 1)\n"
                     "and the additional bytes (byte24 and up); values are decimal. A line that\n"
                     "cannot be read is reported on standard error with its line number and the\n"
                     "rest is still decoded; the exit code is then 1."));
  parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture file."));
  const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("csv or json (default csv)."),
                                  QStringLiteral("format"), QStringLiteral("csv"));
  const QCommandLineOption output(QStringLiteral("output"),
                                  QStringLiteral("Write to this file instead of standard output."),
                                  QStringLiteral("file"));
  parser.addOptions({format, output});
  if (!Cli::Parse(parser, args, QStringLiteral("decode [options] file"), 1, 1)) return Cli::ExitSuccess;

  const TruckValues::Format kind = TruckValues::ParseFormat(parser.value(format));
  if (kind == TruckValues::Format::Text) throw Cli::UsageError(QStringLiteral("--format wants csv or json"));

  const QString path = parser.positionalArguments().first();
  CaptureContents contents;
  QString error;
  if (!ReadCaptureFile(path, contents, error)) throw Cli::Failure(error);

  int longest = 0;
  for (const CaptureRecord& record : contents.Records) longest = std::max(longest, record.Length);
  const TruckValues::Formatter formatter(kind, longest - 24, true);

  QFile out;
  const bool toFile = parser.isSet(output);
  if (toFile) {
    out.setFileName(parser.value(output));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
      throw Cli::Failure(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
  } else if (!out.open(stdout, QIODevice::WriteOnly)) {
    throw Cli::Failure(QStringLiteral("cannot write to standard output"));
  }

  // Problems are reported in line order among the records.
  auto problem = contents.Problems.begin();
  const auto report = [&](int beforeLine) {
    for (; problem != contents.Problems.end() && problem->Line < beforeLine; ++problem)
      Cli::PrintError(QStringLiteral("%1:%2: %3").arg(path).arg(problem->Line).arg(problem->Reason));
  };

  bool written = out.write(formatter.Header()) >= 0;
  for (const CaptureRecord& record : contents.Records) {
    report(record.Line);
    TruckValues::Event event;
    event.Line = record.Line;
    event.TimeOfDayMs = record.TimeOfDayMs();
    event.Status = record.Status;
    event.Length = record.Length;
    event.Data = record.Data;
    written = written && out.write(formatter.Line(event)) >= 0;
  }
  report(1 << 30);
  written = out.flush() && written;
  if (!written && toFile)
    throw Cli::Failure(QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
  return contents.Problems.empty() ? Cli::ExitSuccess : Cli::ExitFailure;
}
