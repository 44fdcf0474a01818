#pragma once
// The subcommands of the quorlink tool. Each takes its own arguments (the
// first is the subcommand's name) and returns the exit code; usage errors and
// failures may also be raised as Cli::UsageError and Cli::Failure.

#include <QStringList>

namespace Commands {
int Ports(const QStringList& args);
int Map(const QStringList& args);
int Send(const QStringList& args);
int Monitor(const QStringList& args);
int Replay(const QStringList& args);
int Decode(const QStringList& args);
int NullModem(const QStringList& args);
}  // namespace Commands
