#pragma once
// Runs the real quorlink program for tests: arguments in, exit code, standard
// output and standard error out, with generous deadlines. Child processes
// inherit the test's settings folder (TestSettings sets XDG_CONFIG_HOME).

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <memory>

class CliRunner {
public:
  CliRunner();
  ~CliRunner();  // kills a process still running

  void Start(const QStringList& args);
  // Standard output of the runs that follow goes to this file (empty: collected).
  void SendStdoutTo(const QString& file) { StdoutFile = file; }
  // Runs to the end; returns the exit code, or -1 when it did not end in time.
  int Run(const QStringList& args, std::chrono::milliseconds deadline = std::chrono::seconds(60));

  // Waits until the output so far holds text; false at the deadline.
  bool WaitForStdout(const QByteArray& text, std::chrono::milliseconds deadline = std::chrono::seconds(30));
  bool WaitForStderr(const QByteArray& text, std::chrono::milliseconds deadline = std::chrono::seconds(30));
  // Waits until standard output holds at least count lines.
  bool WaitForLines(int count, std::chrono::milliseconds deadline = std::chrono::seconds(30));
  // Waits for the end; the exit code, or -1 when it did not end in time (or crashed).
  int Finish(std::chrono::milliseconds deadline = std::chrono::seconds(60));
  bool Running() const;
  void Signal(int signal);
  void WriteStdin(const QByteArray& bytes);

  QByteArray Stdout();
  QByteArray Stderr();
  QList<QByteArray> StdoutLines();

private:
  void Collect();
  std::unique_ptr<QProcess> Process;
  QByteArray Out, Err;
  QString StdoutFile;
};

// The quorlink program's lines of the form "COMn path", as nullmodem prints them.
QString NullModemPath(const QByteArray& output, int comNumber);
