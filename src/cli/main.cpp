// quorlink: the Quorlink link without windows, for test rigs, CI jobs and
// remote sessions. Built on the same link, port, worker, truck data map and
// capture writer as the windowed program.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "serial/SettingsRegistry.h"

#include "QuorlinkVersion.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

struct Command {
  const char* Name;
  const char* Summary;
  int (*Run)(const QStringList& args);
};

const Command CommandTable[] = {
    {"ports", "List the serial devices and the COM1 to COM4 mapping.", Commands::Ports},
    {"map", "Map COM1 to COM4 to a device (the port dialog's setting).", Commands::Map},
    {"send", "Play the truck: send frames of chosen values, with faults on demand.", Commands::Send},
    {"monitor", "Watch a truck: a line per receive event, statistics, capture file.", Commands::Monitor},
    {"replay", "Send the good frames of a capture file with their recorded spacing.", Commands::Replay},
    {"decode", "Turn a capture file into CSV or JSON lines.", Commands::Decode},
    {"nullmodem", "Link two virtual serial ports, mapped to two COM numbers, while it runs.", Commands::NullModem},
};

QString Description() {
  QString text = QStringLiteral(
      "The Quorlink link without windows: play or watch a truck, replay and decode\n"
      "capture files, and link two virtual serial ports.\n\nCommands:\n");
  for (const Command& command : CommandTable)
    text += QStringLiteral("  %1%2\n").arg(QLatin1String(command.Name), -11).arg(QLatin1String(command.Summary));
  text += QStringLiteral(
      "\n'quorlink <command> --help' describes a command and its options.\n"
      "Exit codes: 0 success, 1 failure, 2 usage error.");
  return text;
}

int Run(const QStringList& args) {
  if (!args.isEmpty())
    for (const Command& command : CommandTable)
      if (args.first() == QLatin1String(command.Name)) {
        Cli::SetCommandName(args.first());
        return command.Run(args);
      }

  QCommandLineParser parser;
  parser.setApplicationDescription(Description());
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."),
                               QStringLiteral("<command>"));
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  QStringList all = args;
  all.prepend(QStringLiteral("quorlink"));
  all[0] = QString();  // Parse names the first element after the command
  if (!Cli::Parse(parser, all, QStringLiteral("<command> [options]"), 0, 1 << 20)) return Cli::ExitSuccess;
  if (parser.positionalArguments().isEmpty()) throw Cli::UsageError(QStringLiteral("no command given"));
  throw Cli::UsageError(QStringLiteral("no command is called \"%1\"").arg(parser.positionalArguments().first()));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorlink"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORLINK_VERSION));
  // A reader that goes away (quorlink decode | head) ends output, not the process.
  std::signal(SIGPIPE, SIG_IGN);

  SettingsFile::SetProblemHandler([](SettingsFile::Problem problem, const std::string& text) {
    const QString what = QString::fromLocal8Bit(text.c_str());
    if (problem == SettingsFile::Problem::CannotRead)
      Cli::PrintWarning(
          QStringLiteral("the stored settings could not be read (%1); going on with the defaults").arg(what));
    else
      Cli::PrintError(QStringLiteral("the settings could not be saved: %1").arg(what));
  });

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  try {
    return Run(args);
  } catch (const Cli::UsageError& e) {
    Cli::PrintError(QString::fromStdString(e.what()));
    const QString command = Cli::CommandName();
    Cli::PrintInfo(command.isEmpty() ? QStringLiteral("Try 'quorlink --help'.")
                                     : QStringLiteral("Try 'quorlink %1 --help'.").arg(command));
    return Cli::ExitUsage;
  } catch (const std::exception& e) {
    Cli::PrintError(QString::fromStdString(e.what()));
    return Cli::ExitFailure;
  }
}
