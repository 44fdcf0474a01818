#include "cli/CliSupport.h"

#include "link/Quorlink.h"
#include "serial/LineSettings.h"
#include "serial/Registry.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <cstdio>

namespace Cli {

namespace {
QString Command;
QString* HelpSink = nullptr;

void WriteStderr(const QString& line) {
  const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

QString Prefix() {
  return Command.isEmpty() ? QStringLiteral("quorlink: ") : QStringLiteral("quorlink %1: ").arg(Command);
}

// What the parser could not use, in the tool's words rather than the parser's
// ("Unknown option 'V'.").
QString ParseError(const QCommandLineParser& parser) {
  const QStringList unknown = parser.unknownOptionNames();
  if (!unknown.isEmpty()) {
    QStringList named;
    for (const QString& name : unknown) named << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    return (unknown.size() == 1 ? QStringLiteral("unknown option ") : QStringLiteral("unknown options ")) +
           named.join(QStringLiteral(", "));
  }
  const QString text = parser.errorText();
  static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
  static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
  if (const QRegularExpressionMatch m = missing.match(text); m.hasMatch())
    return QStringLiteral("%1 needs a value").arg(m.captured(1));
  if (const QRegularExpressionMatch m = unexpected.match(text); m.hasMatch())
    return QStringLiteral("%1 takes no value").arg(m.captured(1));
  return MessageText(text);
}
}  // namespace

void SetCommandName(const QString& name) { Command = name; }
QString CommandName() { return Command; }

QString MessageText(const QString& text) {
  QString t = text.trimmed();
  if (t.endsWith(QLatin1Char('.')) && !t.endsWith(QLatin1String(".."))) t.chop(1);
  // "Cannot open" becomes "cannot open"; "COM1" and "/dev/ttyS0" stay.
  if (t.size() > 1 && t.at(0).isUpper() && t.at(1).isLower()) t[0] = t.at(0).toLower();
  return t;
}

void PrintError(const QString& text) { WriteStderr(Prefix() + MessageText(text)); }
void PrintWarning(const QString& text) { WriteStderr(Prefix() + QStringLiteral("warning: ") + MessageText(text)); }
void PrintInfo(const QString& text) { WriteStderr(text); }

void SetHelpSink(QString* sink) { HelpSink = sink; }

bool Parse(QCommandLineParser& parser, const QStringList& args, const QString& usage, int minPositional,
           int maxPositional) {
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  parser.addOption(help);
  parser.addOption(version);

  const auto helpText = [&parser, &usage] {
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: quorlink ") + usage);
    return text;
  };
  if (HelpSink) {
    *HelpSink = helpText();
    return false;
  }
  QStringList argv = args;
  argv[0] = QStringLiteral("quorlink ") + args[0];
  if (!parser.parse(argv)) throw UsageError(ParseError(parser));
  if (parser.isSet(help)) {
    const QByteArray bytes = helpText().toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    return false;
  }
  if (parser.isSet(version)) {
    std::printf("quorlink %s\n", qPrintable(QCoreApplication::applicationVersion()));
    return false;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() < minPositional) throw UsageError(QStringLiteral("missing argument"));
  if (positional.size() > maxPositional)
    throw UsageError(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(maxPositional)));
  return true;
}

long long ToInteger(const QString& text, const QString& what, long long min, long long max) {
  const QString t = text.trimmed();
  bool ok = false;
  long long value = 0;
  // A leading 0 is not octal here: "010" is ten.
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    value = t.mid(2).toLongLong(&ok, 16);
  else if (!t.isEmpty() && (t.at(0).isDigit() || t.at(0) == QLatin1Char('-')))
    value = t.toLongLong(&ok, 10);
  if (!ok) throw UsageError(QStringLiteral("%1 wants a whole number, not \"%2\"").arg(what, text));
  if (value < min || value > max)
    throw UsageError(QStringLiteral("%1 must be between %2 and %3, not %4").arg(what).arg(min).arg(max).arg(text));
  return value;
}

double ToDouble(const QString& text, const QString& what, double min, double max) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok) throw UsageError(QStringLiteral("%1 wants a number, not \"%2\"").arg(what, text));
  if (!(value >= min && value <= max))
    throw UsageError(QStringLiteral("%1 must be between %2 and %3, not %4").arg(what).arg(min).arg(max).arg(text));
  return value;
}

int ComNumber(const QString& text) {
  QString t = text.trimmed();
  if (t.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) t = t.mid(3);
  if (t.size() == 1 && t.at(0) >= QLatin1Char('1') && t.at(0) <= QLatin1Char('4')) return t.at(0).digitValue();
  return 0;
}

void LineOptions::Add(QCommandLineParser& parser, bool withLength, int lengthMax) {
  WithLength = withLength;
  LengthMax = lengthMax;
  parser.addOption({{QStringLiteral("p"), QStringLiteral("port")},
                    QStringLiteral("The port: COM1 to COM4 (as mapped with 'quorlink map') or a device path."),
                    QStringLiteral("port")});
  parser.addOption(
      {{QStringLiteral("b"), QStringLiteral("baud")}, QStringLiteral("Bits per second."), QStringLiteral("rate")});
  parser.addOption({{QStringLiteral("d"), QStringLiteral("data-bits")},
                    QStringLiteral("Data bits: 5 to 8."),
                    QStringLiteral("bits")});
  parser.addOption({{QStringLiteral("y"), QStringLiteral("parity")},
                    QStringLiteral("Parity: none, odd, even, mark or space."),
                    QStringLiteral("parity")});
  parser.addOption({{QStringLiteral("s"), QStringLiteral("stop-bits")},
                    QStringLiteral("Stop bits: 1, 1.5 or 2."),
                    QStringLiteral("bits")});
  if (withLength)
    parser.addOption({{QStringLiteral("l"), QStringLiteral("length")},
                      QStringLiteral("Data bytes per frame: 0 to %1.").arg(lengthMax),
                      QStringLiteral("bytes")});
  parser.addOption({{QStringLiteral("n"), QStringLiteral("no-reconnect")},
                    QStringLiteral("End with exit code 1 when the device is lost, instead of waiting for it to "
                                   "come back and opening it again.")});
}

void LineOptions::Apply(const QCommandLineParser& parser, TQUORLINK& link, int mode) const {
  const QString port = parser.value(QStringLiteral("port"));
  if (parser.isSet(QStringLiteral("port")) && ComNumber(port) == 0 && !port.contains(QLatin1Char('/')))
    throw UsageError(QStringLiteral("--port wants COM1 to COM4 or a device path, not \"%1\"").arg(port));

  // What the windows stored for this mode is the starting point; a missing
  // store leaves the defaults (COM1, 9600 baud, 8N1, 24 data bytes).
  link.Mode = mode;
  try {
    link.LoadConfiguration(SettingsBasePath(mode));
  } catch (const ERegistryException& e) {
    throw Failure(QStringLiteral("the stored settings cannot be read: %1").arg(QString::fromStdString(e.what())));
  }

  if (parser.isSet(QStringLiteral("port"))) {
    if (const int number = ComNumber(port)) {
      link.PortNumber = static_cast<std::uint8_t>(number);
      link.DevicePathOverride.clear();
    } else {
      link.DevicePathOverride = port.toStdString();
    }
  }
  if (parser.isSet(QStringLiteral("baud")))
    link.BaudRate = static_cast<std::int32_t>(
        ToInteger(parser.value(QStringLiteral("baud")), QStringLiteral("--baud"), 1, 4000000));
  if (parser.isSet(QStringLiteral("data-bits")))
    link.DataBits = static_cast<std::uint8_t>(
        ToInteger(parser.value(QStringLiteral("data-bits")), QStringLiteral("--data-bits"), 5, 8));
  if (parser.isSet(QStringLiteral("parity"))) {
    const QString text = parser.value(QStringLiteral("parity")).toLower();
    const LineSettings::TParity* parity = LineSettings::ParityNamed(text.toStdString());
    if (!parity)
      throw UsageError(QStringLiteral("--parity wants none, odd, even, mark or space, not \"%1\"").arg(text));
    link.Parity = parity->Code;
  }
  if (parser.isSet(QStringLiteral("stop-bits"))) {
    const QString text = parser.value(QStringLiteral("stop-bits"));
    const LineSettings::TStopBits* stopBits = LineSettings::StopBitsNamed(text.toStdString());
    if (!stopBits) throw UsageError(QStringLiteral("--stop-bits wants 1, 1.5 or 2, not \"%1\"").arg(text));
    link.StopBits = stopBits->Code;
  }
  if (WithLength && parser.isSet(QStringLiteral("length")))
    link.DataLength = static_cast<std::uint8_t>(
        ToInteger(parser.value(QStringLiteral("length")), QStringLiteral("--length"), 0, LengthMax));
  link.Reconnect = !parser.isSet(QStringLiteral("no-reconnect"));
}

void OpenPort(TQUORLINK& link) {
  const int opened = link.Open();
  if (!link.OpenNotice().empty()) PrintWarning(QString::fromStdString(link.OpenNotice()));
  if (opened == 1) return;
  const bool said = link.LastErrorKind() != TPortError::None;
  const QString reason = QString::fromStdString(link.LastError());
  link.Close();
  throw Failure(said ? reason : QStringLiteral("cannot open the port"));
}

namespace {
// "COM2 (/dev/ttyUSB0)", or the path the command line gave.
QString PortName(const TQUORLINK& link, const std::string& device) {
  const QString path = QString::fromStdString(device);
  return link.DevicePathOverride.empty() ? QStringLiteral("COM%1 (%2)").arg(link.PortNumber).arg(path) : path;
}
}  // namespace

bool DeviceLost(const TQUORLINK& link) {
  const TPortState state = link.State();
  const TPortError error = link.LastWriteError();
  return state == TPortState::Lost || state == TPortState::Reopening || error == TPortError::HungUp ||
         error == TPortError::NotOpen || error == TPortError::Interrupted;
}

PortWatch::PortWatch(TQUORLINK& link, std::function<void()> onGone)
    : Link(link),
      OnGone(std::move(onGone)),
      Notifier(std::make_unique<QSocketNotifier>(static_cast<qintptr>(link.StateDescriptor()), QSocketNotifier::Read)) {
  QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Changed(); });
}

PortWatch::~PortWatch() = default;

void PortWatch::Changed() {
  Link.ClearStateChange();
  const TPortState state = Link.State();
  const QString name = PortName(Link, Link.StateDevice());
  if (state == TPortState::Lost && !Lost && !LostForGood) {
    if (Link.Reconnect) {
      Lost = true;
      PrintWarning(QStringLiteral("%1 lost: the device hung up or went away; waiting for it to come back").arg(name));
    } else {
      LostForGood = true;
      PrintError(QStringLiteral("%1 lost: the device hung up or went away").arg(name));
      if (OnGone) OnGone();
    }
  } else if (state == TPortState::Open && Lost) {
    Lost = false;
    PrintInfo(QStringLiteral("quorlink %1: %2 is back").arg(CommandName(), name));
  }
}

QString Counted(long long n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString Describe(const TQUORLINK& link) {
  const QString path = QString::fromStdString(link.IsOpen ? link.StateDevice() : link.DevicePath());
  const QString port =
      link.DevicePathOverride.empty() ? QStringLiteral("COM%1 (%2)").arg(link.PortNumber).arg(path) : path;
  const LineSettings::TStopBits* stopBits = LineSettings::FindStopBits(link.StopBits);
  const QString stop = QLatin1String(stopBits ? stopBits->Name : LineSettings::StopBits[0].Name);
  const LineSettings::TParity* parityBits = LineSettings::FindParity(link.Parity);
  const char parity = parityBits ? parityBits->Letter : '?';
  return QStringLiteral("%1, %2 baud, %3%4%5, %6 data bytes")
      .arg(port)
      .arg(link.BaudRate)
      .arg(link.DataBits)
      .arg(QLatin1Char(parity))
      .arg(stop)
      .arg(link.DataLength.load());
}

}  // namespace Cli
