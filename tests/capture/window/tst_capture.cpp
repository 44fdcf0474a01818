// Capturing received frames in display mode: the capture window over the main
// window's logging, with the worker thread reading a real pseudo-terminal.

#include "AppTest.h"
#include "ModalScript.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "app/MainForm.h"
#include "capture/window/QuorlinkCapture.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "serial/DeviceMap.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <csignal>
#include <memory>
#include <poll.h>
#include <sys/resource.h>

namespace {

std::vector<std::uint8_t> Data(std::uint8_t first) {
  std::vector<std::uint8_t> data(24);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(first + i * 7);
  return data;
}

QString Hex(const std::vector<std::uint8_t>& data) {
  QString s;
  for (std::uint8_t b : data) s += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
  return s;
}

QByteArray Contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Complete lines of the file (each ended by CR LF), without their ends.
QStringList Lines(const QString& path) {
  QString text = QString::fromLocal8Bit(Contents(path));
  QStringList lines = text.split(QStringLiteral("\r\n"));
  lines.removeLast();  // what follows the last CR LF: empty or a torn line
  return lines;
}

// The part of a record line after its time stamp; empty when the time stamp is malformed.
QString AfterTime(const QString& line) {
  static const QRegularExpression stamp(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d:\\d{3} "));
  const auto m = stamp.match(line);
  return m.hasMatch() ? line.mid(m.capturedLength()) : QString();
}

}  // namespace

class TestCapture : public QObject {
  Q_OBJECT
  PtyAppFixture Fixture;
  std::unique_ptr<TestSettings>& Settings = Fixture.Settings;
  std::unique_ptr<PtyPair>& Pty = Fixture.Pty;

  void Finish(ModalScript& script) { QUORLINK_FINISH_SCRIPT(script); }

  // A display-mode main window with its port open on the pty and the worker running.
  std::unique_ptr<TMainForm> OpenDisplay() {
    auto main = std::make_unique<TMainForm>();
    main->SetMode(0);
    main->show();
    main->Button_SaveConfiguration->click();
    main->Button_Open->click();
    return main;
  }

  void Send(const std::vector<std::uint8_t>& bytes) { Pty->Write(bytes); }

  // Starts a capture into name through the window's Start and save dialog.
  void Start(TForm_QuorlinkCapture& capture, const QString& name, QString* offered = nullptr) {
    ModalScript script;
    script.ChooseFile(name, nullptr, offered);
    capture.Button_Start->click();
    Finish(script);
  }

private slots:
  void init() {
    signal(SIGXFSZ, SIG_IGN);
    QVERIFY(Fixture.Up());
  }
  void cleanup() { Fixture.Down(); }

  // Three good frames and a bad one, line by line; Stop ends the lines.
  void threeGoodFramesAndABadOne() {
    auto main = OpenDisplay();
    QVERIFY(main->GetLink()->IsOpen);
    const auto window = main->CreateCaptureWindow();
    TForm_QuorlinkCapture& capture = *window;
    capture.show();
    QVERIFY(capture.Button_Start->isEnabled());
    QVERIFY(!capture.Button_Stop->isEnabled());
    QVERIFY(capture.ProgressBar_DataIn->isHidden());

    QString offered;
    QStringList filters;
    ModalScript script;
    script.ChooseFile(Settings->Folder() + "/run1", &filters, &offered);
    capture.Button_Start->click();
    Finish(script);
    QCOMPARE(offered, QStringLiteral("Quorlink_Capture.txt"));
    QCOMPARE(filters, QStringList{"Text Files (*.txt)"});
    const QString file = Settings->Folder() + "/run1.txt";  // the default suffix was added
    QVERIFY(capture.Capturing());
    QVERIFY(!capture.Button_Start->isEnabled());
    QVERIFY(capture.ProgressBar_DataIn->isVisible());
    QVERIFY(main->LogOpen());

    const auto a = Data(0x01), b = Data(0x2F), c = Data(0x80);
    auto bad = QuorlinkFrame(Data(0x40));
    bad.back() ^= 0x55;
    const std::vector<std::vector<std::uint8_t>> frames{QuorlinkFrame(a), QuorlinkFrame(b), bad, QuorlinkFrame(c)};
    for (std::size_t i = 0; i < frames.size(); ++i) {
      Send(frames[i]);
      QVERIFY2(WaitUntil([&] { return Lines(file).size() == int(i) + 3; }), qPrintable(QString::number(i)));
    }
    QVERIFY(WaitUntil([&] { return capture.ProgressBar_DataIn->value() == 3; }));
    capture.Button_Stop->click();
    QVERIFY(!main->LogOpen());
    QVERIFY(capture.Button_Start->isEnabled());
    QVERIFY(capture.ProgressBar_DataIn->isHidden());

    const QByteArray raw = Contents(file);
    QVERIFY(raw.endsWith("<\r\n"));
    const QStringList lines = Lines(file);
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines[0].startsWith(QStringLiteral("Log Start ")));
    QVERIFY(lines[0].size() > 20);
    QCOMPARE(lines[1], QStringLiteral("Time      Status  Length >Data[0] Data[1] Data[2] ..."));
    QCOMPARE(AfterTime(lines[2]), QStringLiteral("0      24   >") + Hex(a) + "<");
    QCOMPARE(AfterTime(lines[3]), QStringLiteral("0      24   >") + Hex(b) + "<");
    QCOMPARE(AfterTime(lines[4]), QStringLiteral("1      24   >") + Hex(b) + "<");  // the last good record
    QCOMPARE(AfterTime(lines[5]), QStringLiteral("0      24   >") + Hex(c) + "<");

    // After Stop frames still arrive, but no line is written.
    const auto good = main->GetLink()->GoodFrameCount.load();
    Send(QuorlinkFrame(a));
    QVERIFY(WaitUntil([&] { return main->GetLink()->GoodFrameCount.load() == good + 1; }));
    QCOMPARE(Contents(file), raw);
  }

  // Stop, Done and the close box all close the file with every line in it.
  void everyWayOutClosesTheFile_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Stop") << "stop";
    QTest::newRow("Done") << "done";
    QTest::newRow("close box") << "close";
  }
  void everyWayOutClosesTheFile() {
    QFETCH(QString, how);
    auto main = OpenDisplay();
    const auto window = main->CreateCaptureWindow();
    TForm_QuorlinkCapture& capture = *window;
    capture.show();
    const QString file = Settings->Folder() + "/out.txt";
    Start(capture, file);
    Send(QuorlinkFrame(Data(3)));
    QVERIFY(WaitUntil([&] { return Lines(file).size() == 3; }));
    if (how == "stop")
      capture.Button_Stop->click();
    else if (how == "done")
      capture.Button_Done->click();
    else
      capture.close();
    QVERIFY(!main->LogOpen());
    QCOMPARE(capture.isVisible(), how == "stop");
    Send(QuorlinkFrame(Data(4)));
    QVERIFY(WaitUntil([&] { return main->GetLink()->GoodFrameCount.load() == 2; }));
    QCOMPARE(Lines(file).size(), 3);
  }

  // Log > Save to Logfile: a fresh modal window each time, gone afterwards.
  void saveToLogfileFromTheMenu() {
    auto main = OpenDisplay();
    QVERIFY(main->SavetoLogfile1->isEnabled());
    QString offered1, offered2;
    ModalScript script;
    script.On<TForm_QuorlinkCapture>([](TForm_QuorlinkCapture* c) { c->Button_Start->click(); });
    script.ChooseFile(Settings->Folder() + "/first.txt", nullptr, &offered1);
    script.On<TForm_QuorlinkCapture>([](TForm_QuorlinkCapture* c) { c->Button_Done->click(); });
    main->SavetoLogfile1->trigger();
    Finish(script);
    QVERIFY(main->findChildren<TForm_QuorlinkCapture*>().isEmpty());
    QVERIFY(!main->LogOpen());
    QVERIFY(Contents(Settings->Folder() + "/first.txt").startsWith("Log Start "));

    script.On<TForm_QuorlinkCapture>([](TForm_QuorlinkCapture* c) { c->Button_Start->click(); });
    script.Cancel("QFileDialog");  // cancelled: nothing happens
    script.On<TForm_QuorlinkCapture>([&](TForm_QuorlinkCapture* c) {
      offered2 = c->Capturing() ? QStringLiteral("capturing?") : QString();
      c->close();
    });
    main->SavetoLogfile1->trigger();
    Finish(script);
    QCOMPARE(offered1, QStringLiteral("Quorlink_Capture.txt"));
    QVERIFY(offered2.isEmpty());
    QVERIFY(!QFile::exists(Settings->Folder() + "/Quorlink_Capture.txt"));
    QVERIFY(!main->LogOpen());
  }

  // A file that can't be made or takes nothing: the operator is told which
  // and why, and the window stays ready for another try.
  void unopenableFileStaysReady_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder that is a file") << "plain/capture.txt"
                                           << "Not a directory";
    QTest::newRow("device that takes nothing") << "full.txt"
                                               << "No space left";
  }
  void unopenableFileStaysReady() {
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QFile plain(Settings->Folder() + "/plain");
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    // full.txt leads to /dev/full, which opens but refuses every byte.
    QVERIFY(QFile::link("/dev/full", Settings->Folder() + "/full.txt"));
    const QString name = Settings->Folder() + "/" + target;
    auto main = OpenDisplay();
    const auto window = main->CreateCaptureWindow();
    TForm_QuorlinkCapture& capture = *window;
    capture.show();
    SeenMessage replace, error;
    ModalScript script;
    script.ChooseFile(name);
    if (QFileInfo::exists(name)) script.Message(&replace, QMessageBox::Yes);  // the dialog's own question
    script.Message(&error);
    capture.Button_Start->click();
    Finish(script);
    QCOMPARE(error.Caption, QStringLiteral("Error"));
    QVERIFY2(error.Detail.contains(name), qPrintable(error.Detail));
    QVERIFY2(error.Detail.contains(reason), qPrintable(error.Detail));
    QVERIFY(!capture.Capturing());
    QVERIFY(capture.Button_Start->isEnabled());
    QVERIFY(capture.ProgressBar_DataIn->isHidden());
    QVERIFY(!main->LogOpen());
    // And a good file afterwards works.
    Start(capture, Settings->Folder() + "/good.txt");
    QVERIFY(capture.Capturing());
    QVERIFY(main->LogOpen());
  }

  // The disk fills during a capture: said once, capture stopped, what was
  // written stays.
  void diskFullStopsTheCaptureOnce() {
    auto main = OpenDisplay();
    const auto window = main->CreateCaptureWindow();
    TForm_QuorlinkCapture& capture = *window;
    capture.show();
    const QString file = Settings->Folder() + "/full.txt";
    Start(capture, file);
    Send(QuorlinkFrame(Data(9)));
    QVERIFY(WaitUntil([&] { return Lines(file).size() == 3; }));
    const QByteArray before = Contents(file);

    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(before.size() + 40);  // room for part of one more line
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
    SeenMessage error;
    ModalScript script;
    script.Message(&error);
    Send(QuorlinkFrame(Data(10)));
    QVERIFY(WaitUntil([&] { return !capture.Capturing(); }));
    Send(QuorlinkFrame(Data(11)));
    Send(QuorlinkFrame(Data(12)));
    QVERIFY(WaitUntil([&] { return main->GetLink()->GoodFrameCount.load() == 4; }));
    Finish(script);
    setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(error.Seen);
    QCOMPARE(error.Caption, QStringLiteral("Error"));
    QVERIFY2(error.Detail.contains(file), qPrintable(error.Detail));
    QVERIFY(!main->LogOpen());
    QVERIFY(capture.Button_Start->isEnabled());
    QVERIFY(capture.ProgressBar_DataIn->isHidden());
    QVERIFY(Contents(file).startsWith(before));
  }

  // Ending while the worker waits in a hand-over: no hang, the port is freed,
  // and the frame already received still gets its line before the file closes.
  void endingWithAHandOverPending_data() {
    QTest::addColumn<bool>("closeFirst");
    QTest::newRow("main window closed") << true;
    QTest::newRow("main window destroyed") << false;
  }
  void endingWithAHandOverPending() {
    QFETCH(bool, closeFirst);
    auto main = OpenDisplay();
    const QString file = Settings->Folder() + "/end.txt";
    QVERIFY(main->StartLog(file));
    pollfd waiting{main->GetLinkThread()->HandOffDescriptor(), POLLIN, 0};
    Send(QuorlinkFrame(Data(5)));
    // No event loop runs here, so the hand-over stays pending.
    QCOMPARE(poll(&waiting, 1, 20000), 1);
    if (closeFirst) {
      main->close();
      QVERIFY(main->GetLinkThread()->Terminated());
      main->CloseLog();  // as the capture window does on the way out
    }
    main.reset();
    TComPort again;
    again.PortNumber = 1;
    QCOMPARE(again.Open(), 1);
    const QStringList lines = Lines(file);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(AfterTime(lines[2]), QStringLiteral("0      24   >") + Hex(Data(5)) + "<");
  }
};

QUORLINK_APP_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
