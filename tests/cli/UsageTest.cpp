// The quorlink command line: usage errors exit 2, failures 1, help and version 0,
// every message in one form; ports and map read and change the COM mapping;
// the completion script offers what the commands take.

#include "CliRunner.h"
#include "TestSettings.h"
#include "serial/DeviceMap.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Usage, MistakesOnTheCommandLineExitWithTwoAndSayWhatIsWrong) {
  TestSettings settings;
  struct Case {
    QStringList Args;
    const char* Message;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "no command is called \"frobnicate\""},
      {{"send", "--speed", "2"}, "quorlink send: unknown option --speed\n"},
      {{"send", "-xp", "COM1"}, "quorlink send: unknown option -x\n"},
      {{"monitor", "-c"}, "quorlink monitor: -c needs a value\n"},
      {{"send", "--commands=yes"}, "quorlink send: --commands takes no value\n"},
      {{"help", "sned"}, "quorlink help: no command is called \"sned\""},
      {{"send", "--baud", "fast"}, "--baud wants a whole number"},
      {{"send", "--set", "engine_speed=1"}, "no truck value is called \"engine_speed\""},
      {{"send", "--set", "engine_rpm=256"}, "engine_rpm must be between 0 and 255"},
      {{"send", "--set", "dump_body_up=2"}, "dump_body_up is a flag"},
      {{"send", "--length", "10", "--set", "speed_limit=1"}, "speed_limit is byte 19, beyond the 10 data bytes"},
      {{"send", "--port", "ttyUSB0"}, "--port wants COM1 to COM4 or a device path"},
      {{"send", "--bad-checksum-every", "0"}, "--bad-checksum-every must be between 1"},
      {{"send", "--stray-bytes", "5G"}, "--stray-bytes wants"},
      {{"monitor", "--length", "254"}, "--length must be between 0 and 253"},
      {{"monitor", "--format", "xml"}, "--format wants text, csv or json"},
      {{"replay"}, "missing argument"},
      {{"replay", "--speed", "0", "x.txt"}, "--speed must be between"},
      {{"decode", "a.txt", "b.txt"}, "unexpected argument \"b.txt\""},
      {{"decode", "--format", "text", "a.txt"}, "--format wants csv or json"},
      {{"nullmodem", "COM1"}, "give two COM ports or none"},
      {{"nullmodem", "COM2", "COM2"}, "the two ports must differ"},
      {{"map", "COM5", "/dev/ttyUSB0"}, "\"COM5\" is not COM1"},
      {{"map", "COM1"}, "missing the device path"},
  };
  for (const Case& c : cases) {
    CliRunner cli;
    EXPECT_EQ(cli.Run(c.Args), 2) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(cli.Stderr().contains(c.Message)) << c.Args.join(' ').toStdString() << ": " << cli.Stderr().constData();
    EXPECT_TRUE(cli.Stderr().contains("--help")) << "points at the help";
    EXPECT_TRUE(cli.Stdout().isEmpty());
    for (const QByteArray& line : cli.Stderr().trimmed().split('\n'))
      EXPECT_TRUE(line.startsWith("quorlink") && line.contains(": ") && !line.endsWith('.')) << line.constData();
  }
}

TEST(Usage, HelpAndVersionSucceed) {
  TestSettings settings;
  for (const char* command :
       {"ports", "map", "send", "monitor", "replay", "decode", "nullmodem", "help", "completion"}) {
    CliRunner cli;
    EXPECT_EQ(cli.Run({command, "--help"}), 0) << command;
    EXPECT_TRUE(cli.Stdout().startsWith(QByteArray("Usage: quorlink ") + command)) << cli.Stdout().constData();
    const QByteArray help = cli.Stdout();
    EXPECT_EQ(cli.Run({"help", command}), 0) << command;
    EXPECT_EQ(cli.Stdout(), help) << command;
  }
  CliRunner cli;
  EXPECT_EQ(cli.Run({"--help"}), 0);
  EXPECT_TRUE(cli.Stdout().contains("nullmodem"));
  const QByteArray help = cli.Stdout();
  EXPECT_EQ(cli.Run({"help"}), 0);
  EXPECT_EQ(cli.Stdout(), help);
  for (const char* version : {"--version", "-V"}) {
    EXPECT_EQ(cli.Run({version}), 0);
    EXPECT_EQ(cli.Stdout(), "quorlink 2.0.1\n");
  }
}

// The script as bash runs it: what it offers after each line typed so far.
TEST(Usage, CompletionOffersCommandsOptionsAndTheirValues) {
  TestSettings settings;
  QTemporaryDir dir;
  QFile(dir.filePath("capture.txt")).open(QIODevice::WriteOnly);
  CliRunner cli;
  ASSERT_EQ(cli.Run({"completion"}), 0) << cli.Stderr().constData();
  QFile script(dir.filePath("quorlink.bash"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write(cli.Stdout()) == cli.Stdout().size());
  script.close();

  const auto complete = [&](const QString& line) {
    QProcess bash;
    bash.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                        QStringLiteral("source \"$0\"; COMP_LINE=$1; COMP_POINT=${#1}; _quorlink; "
                                                       "printf '%s\\n' \"${COMPREPLY[@]}\""),
                                        script.fileName(), line});
    EXPECT_TRUE(bash.waitForFinished(30000));
    return QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  };
  using List = QStringList;
  EXPECT_TRUE(complete("quorlink ").contains("nullmodem"));
  EXPECT_EQ(complete("quorlink he"), List{"help"});
  EXPECT_EQ(complete("quorlink help mo"), List{"monitor"});
  EXPECT_EQ(complete("quorlink send --pa"), List{"--parity"});
  EXPECT_EQ(complete("quorlink monitor -y "), (List{"none", "odd", "even", "mark", "space"}));
  EXPECT_EQ(complete("quorlink replay -s 1"), (List{"1", "1.5"}));
  EXPECT_EQ(complete("quorlink send -c 5 --port CO"), (List{"COM1", "COM2", "COM3", "COM4"}));
  EXPECT_EQ(complete("quorlink send --set engine_r"), List{"engine_rpm="});
  EXPECT_EQ(complete("quorlink send --set dump_b"), List{"dump_body_up="});
  EXPECT_EQ(complete("quorlink decode --format "), (List{"csv", "json"}));
  EXPECT_EQ(complete("quorlink decode -o out.csv " + dir.filePath("cap")), List{dir.filePath("capture.txt")});
  EXPECT_EQ(complete("quorlink nullmodem COM1 COM"), (List{"COM1", "COM2", "COM3", "COM4"}));
}

TEST(Usage, RuntimeFailuresExitWithOneAndNameTheCause) {
  TestSettings settings;
  CliRunner cli;
  EXPECT_EQ(cli.Run({"send", "--port", "/dev/quorlink-no-such-port", "--count", "1"}), 1);
  EXPECT_TRUE(cli.Stderr().contains("/dev/quorlink-no-such-port")) << cli.Stderr().constData();
  EXPECT_EQ(cli.Run({"send", "--port", "/dev/null", "--count", "1"}), 1);
  EXPECT_TRUE(cli.Stderr().contains("/dev/null")) << cli.Stderr().constData();
  EXPECT_EQ(cli.Run({"monitor", "--port", "/dev/null", "--capture", "/nonexistent-folder/capture.txt"}), 1);
  EXPECT_TRUE(cli.Stderr().contains("/nonexistent-folder/capture.txt")) << cli.Stderr().constData();
  EXPECT_EQ(cli.Run({"decode", "/nonexistent-folder/capture.txt"}), 1);
  EXPECT_TRUE(cli.Stderr().contains("cannot read /nonexistent-folder/capture.txt")) << cli.Stderr().constData();
}

TEST(Usage, MapChangesTheSettingThePortDialogUses) {
  TestSettings settings;
  CliRunner cli;
  EXPECT_EQ(cli.Run({"map", "com3", "/dev/ttyUSB4"}), 0) << cli.Stderr().constData();
  EXPECT_TRUE(cli.Stderr().contains("does not exist")) << "a warning, not a refusal";
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB4");
  EXPECT_EQ(cli.Run({"ports"}), 0);
  EXPECT_TRUE(cli.Stdout().contains("COM3  /dev/ttyUSB4")) << cli.Stdout().constData();
  EXPECT_EQ(cli.Run({"ports", "--check", "COM3"}), 1);
  EXPECT_TRUE(cli.Stdout().contains("missing"));
  EXPECT_EQ(cli.Run({"map", "COM3", "--default"}), 0);
  EXPECT_EQ(ComDevicePath(3), DefaultComDevicePath(3));
}
