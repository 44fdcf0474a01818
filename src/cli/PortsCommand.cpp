// quorlink ports, quorlink map: the serial devices present and where COM1 to
// COM4 point.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "serial/DeviceMap.h"

#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// /dev/ptmx and /dev/pts/ptmx.
constexpr unsigned PtyMultiplexerMajor = 5, PtyMultiplexerMinor = 2;

bool IsPseudoTerminal(const std::string& path) { return path.rfind("/dev/pts/", 0) == 0; }

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool IsListed(const std::vector<TSerialDeviceInfo>& devices, const std::string& path) {
  const QString canonical = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
  for (const TSerialDeviceInfo& device : devices)
    if (device.Path == path ||
        (!canonical.isEmpty() && QFileInfo(QString::fromStdString(device.Path)).canonicalFilePath() == canonical))
      return true;
  return false;
}

// What the device a COM number maps to is, in a few words.
QString Verdict(const std::vector<TSerialDeviceInfo>& devices, const TComMapping& mapping, bool& usable) {
  const std::string& path = mapping.Path;
  usable = false;
  if (mapping.Source == TComMapping::Relay) {
    usable = Exists(path);
    return QStringLiteral("virtual null-modem port%1, process %2")
        .arg(usable ? QString() : QStringLiteral(", unplugged"))
        .arg(mapping.RelayPid);
  }
  if (!Exists(path)) return QStringLiteral("missing");
  if (IsListed(devices, path)) {
    usable = true;
    return QStringLiteral("serial device");
  }
  if (IsPseudoTerminal(path)) {
    usable = true;
    return QStringLiteral("pseudo-terminal");
  }
  return QStringLiteral("no serial device");
}

void Print(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int ComArgument(const QString& text) {
  const int number = Cli::ComNumber(text);
  if (number == 0) throw Cli::UsageError(QStringLiteral("\"%1\" is not COM1, COM2, COM3 or COM4").arg(text));
  return number;
}

}  // namespace

int Commands::Ports(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Lists the serial devices present (path, description, USB vendor and product\n"
                     "ids where the system gives them) and the device each of COM1 to COM4 maps to."));
  const QCommandLineOption check(QStringLiteral("check"),
                                 QStringLiteral("Only tell whether COMn maps to a usable device: a serial device "
                                                "present or a port of a running 'quorlink nullmodem'. Exit code 0 "
                                                "when it does, 1 when it doesn't."),
                                 QStringLiteral("COMn"));
  parser.addOption(check);
  if (!Cli::Parse(parser, args, QStringLiteral("ports [--check COMn]"), 0, 0)) return Cli::ExitSuccess;

  const std::vector<TSerialDeviceInfo> devices = ListSerialDevices();
  if (parser.isSet(check)) {
    const int number = ComArgument(parser.value(check));
    const TComMapping mapping = ResolveComPort(number);
    if (mapping.EndedPid) Cli::PrintWarning(QString::fromStdString(mapping.Notice(number)));
    bool usable = false;
    const QString verdict = Verdict(devices, mapping, usable);
    Print(QStringLiteral("COM%1 %2: %3\n").arg(number).arg(QString::fromStdString(mapping.Path), verdict));
    return usable ? Cli::ExitSuccess : Cli::ExitFailure;
  }

  QString out = QStringLiteral("Serial devices:\n");
  if (devices.empty()) out += QStringLiteral("  none found\n");
  for (const TSerialDeviceInfo& device : devices) {
    QString line = QStringLiteral("  %1").arg(QString::fromStdString(device.Path), -16);
    if (!device.Description.empty()) line += QStringLiteral("  ") + QString::fromStdString(device.Description);
    if (!device.UsbVendorId.empty())
      line += QStringLiteral("  [USB %1:%2]")
                  .arg(QString::fromStdString(device.UsbVendorId), QString::fromStdString(device.UsbProductId));
    out += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
  }
  out += QStringLiteral("\nCOM ports:\n");
  for (int number = 1; number <= 4; ++number) {
    const TComMapping mapping = ResolveComPort(number);
    const std::string& path = mapping.Path;
    bool usable = false;
    QString note = Verdict(devices, mapping, usable);
    if (path == DefaultComDevicePath(number)) note += QStringLiteral(", default");
    if (mapping.EndedPid) note += QStringLiteral("; the null-modem of process %1 has ended").arg(mapping.EndedPid);
    out += QStringLiteral("  COM%1  %2  (%3)\n").arg(number).arg(QString::fromStdString(path), -16).arg(note);
  }
  Print(out);
  return Cli::ExitSuccess;
}

int Commands::Map(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Maps COMn (COM1 to COM4) to a device path for this user, the same setting\n"
                     "the port dialog changes; both programs and both modes use it."));
  parser.addPositionalArgument(QStringLiteral("COMn"), QStringLiteral("COM1, COM2, COM3 or COM4."));
  parser.addPositionalArgument(QStringLiteral("path"), QStringLiteral("The device, e.g. /dev/ttyUSB0."),
                               QStringLiteral("[path]"));
  const QCommandLineOption reset(QStringLiteral("default"),
                                 QStringLiteral("Restore the default device of COMn instead."));
  parser.addOption(reset);
  if (!Cli::Parse(parser, args, QStringLiteral("map COMn path | map COMn --default"), 1, 2)) return Cli::ExitSuccess;

  const QStringList positional = parser.positionalArguments();
  const int number = ComArgument(positional.at(0));
  std::string path;
  if (parser.isSet(reset)) {
    if (positional.size() != 1) throw Cli::UsageError(QStringLiteral("give either a path or --default, not both"));
  } else {
    if (positional.size() != 2) throw Cli::UsageError(QStringLiteral("missing the device path (or --default)"));
    if (positional.at(1).isEmpty())
      throw Cli::UsageError(QStringLiteral("an empty path maps nothing; --default maps COM%1 back to %2")
                                .arg(number)
                                .arg(QString::fromStdString(DefaultComDevicePath(number))));
    // Kept as given (a /dev/serial/by-id link stays a link), only made absolute.
    path = QFileInfo(positional.at(1)).absoluteFilePath().toStdString();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
      Cli::PrintWarning(QStringLiteral("%1 does not exist now").arg(QString::fromStdString(path)));
    else if (!S_ISCHR(st.st_mode))
      throw Cli::UsageError(QStringLiteral("%1 is not a serial device").arg(QString::fromStdString(path)));
    else if (major(st.st_rdev) == PtyMultiplexerMajor && minor(st.st_rdev) == PtyMultiplexerMinor)
      throw Cli::UsageError(QStringLiteral("%1 is not a serial device: each open of it makes a new "
                                           "pseudo-terminal (map the /dev/pts/N of one instead)")
                                .arg(QString::fromStdString(path)));
  }
  if (!SetComDevicePath(number, path))
    throw Cli::Failure(QStringLiteral("the mapping of COM%1 was not stored").arg(number));
  Print(QStringLiteral("COM%1 %2\n").arg(number).arg(QString::fromStdString(ComDevicePath(number))));
  return Cli::ExitSuccess;
}
