// quorlink: the Quorlink link without windows, for test rigs, CI jobs and
// remote sessions. Built on the same link, port, worker, truck data map and
// capture writer as the windowed program.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "serial/SettingsRegistry.h"

#include "QuorlinkVersion.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

int Help(const QStringList& args);
int Completion(const QStringList& args);

const std::vector<Commands::Entry> CommandTable = {
    {"ports", "List the serial devices and the COM1 to COM4 mapping.", Commands::Ports},
    {"map", "Map COM1 to COM4 to a device (the port dialog's setting).", Commands::Map},
    {"send", "Play the truck: frames of chosen values, with faults on demand.", Commands::Send},
    {"monitor", "Watch a truck: a line per receive event, statistics, a capture.", Commands::Monitor},
    {"replay", "Send a capture file's good frames with their recorded spacing.", Commands::Replay},
    {"decode", "Turn a capture file into CSV or JSON lines.", Commands::Decode},
    {"nullmodem", "Link two virtual serial ports, mapped to two COM numbers.", Commands::NullModem},
    {"help", "Describe the tool, or a command and its options.", Help},
    {"completion", "Print the bash completion script.", Completion},
};

const Commands::Entry* FindCommand(const QString& name) {
  for (const Commands::Entry& command : CommandTable)
    if (name == QLatin1String(command.Name)) return &command;
  return nullptr;
}

QString Description() {
  QString text = QStringLiteral(
      "The Quorlink link without windows: play or watch a truck, replay and decode\n"
      "capture files, and link two virtual serial ports.\n\nCommands:\n");
  for (const Commands::Entry& command : CommandTable)
    text += QStringLiteral("  %1%2\n").arg(QLatin1String(command.Name), -12).arg(QLatin1String(command.Summary));
  text += QStringLiteral(
      "\n'quorlink help <command>' or 'quorlink <command> --help' describes a command\n"
      "and its options. Exit codes: 0 success, 1 failure, 2 usage error.");
  return text;
}

// quorlink without a command: --help, --version or a mistake.
int Overview(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Description());
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to run."),
                               QStringLiteral("<command>"));
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  QStringList all = args;
  all.prepend(QString());  // Parse names the first element after the command
  if (!Cli::Parse(parser, all, QStringLiteral("<command> [options]"), 0, 1 << 20)) return Cli::ExitSuccess;
  if (parser.positionalArguments().isEmpty()) throw Cli::UsageError(QStringLiteral("no command given"));
  throw Cli::UsageError(QStringLiteral("no command is called \"%1\"").arg(parser.positionalArguments().first()));
}

int Help(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Describes the tool and its commands, or one command and its options (as\n"
                     "'quorlink <command> --help' does)."));
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to describe."),
                               QStringLiteral("[command]"));
  if (!Cli::Parse(parser, args, QStringLiteral("help [command]"), 0, 1)) return Cli::ExitSuccess;
  if (parser.positionalArguments().isEmpty()) return Overview({QStringLiteral("--help")});
  const QString name = parser.positionalArguments().first();
  const Commands::Entry* command = FindCommand(name);
  if (!command) throw Cli::UsageError(QStringLiteral("no command is called \"%1\"").arg(name));
  Cli::SetCommandName(name);
  return command->Run({name, QStringLiteral("--help")});
}

int Completion(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Prints the bash completion script of quorlink: commands, options, the names\n"
                     "of the truck values, COM1 to COM4 and the line settings' words. The package\n"
                     "installs it; elsewhere, load it with: source <(quorlink completion)"));
  if (!Cli::Parse(parser, args, QStringLiteral("completion"), 0, 0)) return Cli::ExitSuccess;
  const QByteArray script = Commands::BashCompletion(CommandTable).toUtf8();
  if (std::fwrite(script.constData(), 1, static_cast<size_t>(script.size()), stdout) !=
          static_cast<size_t>(script.size()) ||
      std::fflush(stdout) != 0)
    throw Cli::Failure(
        QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(strerror(errno))));
  return Cli::ExitSuccess;
}

int Run(const QStringList& args) {
  if (!args.isEmpty())
    if (const Commands::Entry* command = FindCommand(args.first())) {
      Cli::SetCommandName(args.first());
      return command->Run(args);
    }
  return Overview(args);
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
    Cli::PrintError(command.isEmpty() ? QStringLiteral("try 'quorlink --help'")
                                      : QStringLiteral("try 'quorlink %1 --help'").arg(command));
    return Cli::ExitUsage;
  } catch (const std::exception& e) {
    Cli::PrintError(QString::fromStdString(e.what()));
    return Cli::ExitFailure;
  }
}
