#pragma once
// What every subcommand of the quorlink tool shares: exit codes, messages on
// stderr, command-line parsing with QCommandLineParser, number parsing and the
// port and line options.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

class QSocketNotifier;
class TQUORLINK;

namespace Cli {

enum ExitCode { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

// A command line that cannot be used: reported with a hint, exit code 2.
class UsageError : public std::runtime_error {
public:
  explicit UsageError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// Something that went wrong while running: reported, exit code 1.
class Failure : public std::runtime_error {
public:
  explicit Failure(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// The subcommand being run ("send"); messages are prefixed with it.
void SetCommandName(const QString& name);
QString CommandName();

// Every message on stderr has one form: "quorlink send: text", text in lower
// case (names such as COM1 aside) and without a closing full stop; texts of
// the core, written for the windows ("Cannot open ...", "... again."), are
// brought into that form.
// "quorlink send: text" on stderr.
void PrintError(const QString& text);
// "quorlink send: warning: text" on stderr.
void PrintWarning(const QString& text);
// Lines on stderr as they are (statistics, progress); the caller puts the
// "quorlink send: " in front.
void PrintInfo(const QString& text);
// text in the form above, without the prefix.
QString MessageText(const QString& text);

// Parses args (args[0] is the subcommand) with the standard -h/--help and
// -V/--version options. Returns false when --help or --version was handled and
// the command should end with success. Unknown options and wrong argument
// counts raise UsageError, in the tool's own words. usage is the synopsis
// after "Usage: quorlink ".
bool Parse(QCommandLineParser& parser, const QStringList& args, const QString& usage, int minPositional,
           int maxPositional);
// While set, Parse only stores the command's help text in *sink and returns
// false: a command can be asked for its options without running it (the
// completion script is made that way).
void SetHelpSink(QString* sink);

// A whole number in decimal or with a 0x prefix, within [min, max]; what names
// the value in the message ("--count").
long long ToInteger(const QString& text, const QString& what, long long min, long long max);
double ToDouble(const QString& text, const QString& what, double min, double max);
// "COM1" to "COM4" (any case) or "1" to "4"; 0 when text has neither form.
int ComNumber(const QString& text);

// The port and line options of send, monitor and replay, with the short
// names terminal programs use: -p port, -b baud, -d data bits, -y parity,
// -s stop bits, -n no reconnecting; -l data length.
class LineOptions {
public:
  // withLength adds --length; lengthMax bounds it.
  void Add(QCommandLineParser& parser, bool withLength, int lengthMax);
  // Loads the settings stored for mode (as the windows saved them), then
  // applies the options given on the command line. Raises UsageError or Failure.
  void Apply(const QCommandLineParser& parser, TQUORLINK& link, int mode) const;

private:
  bool WithLength = false;
  int LengthMax = 255;
};

// Opens the link's port, says what the port has to tell beside (a virtual
// port that does not apply parity, an ended null-modem's port passed over),
// and raises Failure with the port's own reason.
void OpenPort(TQUORLINK& link);

// Whether a write that failed did so because the device is lost (or being
// opened again) rather than refusing the bytes. Any thread; allocates nothing.
bool DeviceLost(const TQUORLINK& link);

// One line on standard error when the port's device is lost and one when it
// is back. A port that does not reconnect (--no-reconnect) has failed once
// its device is lost: then onGone runs, for the command to end with exit
// code 1. Runs in the thread of the event loop.
class PortWatch {
public:
  PortWatch(TQUORLINK& link, std::function<void()> onGone);
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;
  bool Gone() const { return LostForGood; }

private:
  void Changed();
  TQUORLINK& Link;
  std::function<void()> OnGone;
  std::unique_ptr<QSocketNotifier> Notifier;
  bool Lost = false;
  bool LostForGood = false;
};

// "COM2 (/dev/ttyUSB0), 9600 baud, 8N1, 24 data bytes".
QString Describe(const TQUORLINK& link);
// "1 frame", "2 frames": a count with its noun in the right number.
QString Counted(long long n, const char* one, const char* many);

}  // namespace Cli
