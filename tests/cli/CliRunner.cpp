#include "CliRunner.h"

#include "TestSettings.h"

#include <QCoreApplication>
#include <csignal>
#include <gtest/gtest.h>

namespace {
// QProcess wants an application object; every test of this folder gets one.
class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "cli_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) App = new QCoreApplication(argc, argv);
  }
  void TearDown() override {
    delete App;
    App = nullptr;
  }

private:
  QCoreApplication* App = nullptr;
};
::testing::Environment* const Environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

CliRunner::CliRunner() = default;

CliRunner::~CliRunner() {
  if (Process && Process->state() != QProcess::NotRunning) {
    Process->kill();
    Process->waitForFinished(10000);
  }
}

void CliRunner::Start(const QStringList& args) {
  Out.clear();
  Err.clear();
  Process = std::make_unique<QProcess>();
  if (!StdoutFile.isEmpty()) Process->setStandardOutputFile(StdoutFile);
  Process->start(QStringLiteral(QUORLINK_PROGRAM), args);
  if (!Process->waitForStarted(30000)) ADD_FAILURE() << "quorlink did not start";
}

int CliRunner::Run(const QStringList& args, std::chrono::milliseconds deadline) {
  Start(args);
  Process->closeWriteChannel();
  return Finish(deadline);
}

void CliRunner::Collect() {
  if (!Process) return;
  Out += Process->readAllStandardOutput();
  Err += Process->readAllStandardError();
}

bool CliRunner::WaitForStdout(const QByteArray& text, std::chrono::milliseconds deadline) {
  return WaitUntil(
      [&] {
        Collect();
        return Out.contains(text);
      },
      deadline);
}

bool CliRunner::WaitForStderr(const QByteArray& text, std::chrono::milliseconds deadline) {
  return WaitUntil(
      [&] {
        Collect();
        return Err.contains(text);
      },
      deadline);
}

bool CliRunner::WaitForLines(int count, std::chrono::milliseconds deadline) {
  return WaitUntil(
      [&] {
        Collect();
        return Out.count('\n') >= count;
      },
      deadline);
}

int CliRunner::Finish(std::chrono::milliseconds deadline) {
  const bool ended = WaitUntil(
      [&] {
        Collect();
        return Process->state() == QProcess::NotRunning;
      },
      deadline);
  Collect();
  if (!ended || Process->exitStatus() != QProcess::NormalExit) return -1;
  return Process->exitCode();
}

bool CliRunner::Running() const { return Process && Process->state() != QProcess::NotRunning; }

void CliRunner::Signal(int signal) {
  if (Running()) ::kill(static_cast<pid_t>(Process->processId()), signal);
}

void CliRunner::WriteStdin(const QByteArray& bytes) {
  Process->write(bytes);
  Process->waitForBytesWritten(10000);
}

QByteArray CliRunner::Stdout() {
  Collect();
  return Out;
}

QByteArray CliRunner::Stderr() {
  Collect();
  return Err;
}

QList<QByteArray> CliRunner::StdoutLines() {
  QList<QByteArray> lines = Stdout().split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

QString NullModemPath(const QByteArray& output, int comNumber) {
  const QByteArray prefix = "COM" + QByteArray::number(comNumber) + ' ';
  for (const QByteArray& line : output.split('\n'))
    if (line.startsWith(prefix)) return QString::fromLocal8Bit(line.mid(prefix.size()).trimmed());
  return {};
}
