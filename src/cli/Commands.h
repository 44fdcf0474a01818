#pragma once
// The subcommands of the quorlink tool. Each takes its own arguments (the
// first is the subcommand's name) and returns the exit code; usage errors and
// failures may also be raised as Cli::UsageError and Cli::Failure.

#include <QStringList>
#include <vector>

namespace Commands {
int Ports(const QStringList& args);
int Map(const QStringList& args);
int Send(const QStringList& args);
int Monitor(const QStringList& args);
int Replay(const QStringList& args);
int Decode(const QStringList& args);
int NullModem(const QStringList& args);

// A command as the overview lists it.
struct Entry {
  const char* Name;
  const char* Summary;
  int (*Run)(const QStringList& args);
};

// The bash completion script for the given commands, its options and values
// taken from each command's own parser and the core's tables.
QString BashCompletion(const std::vector<Entry>& commands);
}  // namespace Commands
