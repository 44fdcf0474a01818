// The main window's port commands, launchers and menus, on real pseudo-terminals.

#include "AppTest.h"
#include "ModalScript.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "app/AboutBox.h"
#include "app/HelpWindow.h"
#include "app/MainForm.h"
#include "link/LinkFigures.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "link/window/QuorlinkBytes.h"
#include "link/window/RxBytesView.h"
#include "serial/DeviceMap.h"
#include "serial/Registry.h"
#include "serial/dialog/ComportConfiguration.h"
#include "simulator/window/FormQuorlink.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <memory>

namespace {

const std::string DisplayBase = "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\";
const std::string SourceBase = "\\Software\\Parvelco\\Quorlink Simulator\\Source Mode\\";

bool KeyExists(const std::string& key) {
  auto reg = CreateRegistry();
  const bool found = reg->OpenKey(key, false);
  reg->CloseKey();
  return found;
}

std::int32_t StoredInteger(const std::string& key, const std::string& name) {
  auto reg = CreateRegistry();
  if (!reg->OpenKey(key, false) || !reg->ValueExists(name)) return -1;
  return reg->ReadInteger(name);
}

bool OpenPattern(const TMainForm& m) {
  return !m.Button_Open->isEnabled() && !m.Button_ComConfiguration->isEnabled() && m.Button_Close->isEnabled() &&
         m.Button_OpenTruckSimulator->isEnabled();
}
bool ClosedPattern(const TMainForm& m) {
  return m.Button_Open->isEnabled() && m.Button_ComConfiguration->isEnabled() && !m.Button_Close->isEnabled() &&
         !m.Button_OpenTruckSimulator->isEnabled();
}

// Started and not stopped. On a closed port or a quiet line the worker
// sleeps, so only its first pass shows that it was started.
bool ThreadRuns(TMainForm& m) {
  TThread_Quorlink* t = m.GetLinkThread();
  return t && !t->Terminated() && WaitUntil([&] { return t->PassCount() >= 1; });
}

}  // namespace

class TestMainForm : public QObject {
  Q_OBJECT
  PtyAppFixture Fixture;
  std::unique_ptr<TestSettings>& Settings = Fixture.Settings;
  std::unique_ptr<PtyPair>& Pty = Fixture.Pty;

  void Finish(ModalScript& script) { QUORLINK_FINISH_SCRIPT(script); }

private slots:
  void init() { QVERIFY(Fixture.Up()); }
  void cleanup() { Fixture.Down(); }

  // First Open Port in a mode: the port dialog instead of an open, then the
  // settings are stored under that mode's key whatever the dialog's answer;
  // the next Open Port opens without asking.
  void firstOpenAsksThenStores_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("display, Ok") << 0 << false;
    QTest::newRow("display, Cancel") << 0 << true;
    QTest::newRow("source, Ok") << 1 << false;
  }
  void firstOpenAsksThenStores() {
    QFETCH(int, mode);
    QFETCH(bool, cancel);
    const std::string mine = mode == 0 ? DisplayBase : SourceBase;
    const std::string other = mode == 0 ? SourceBase : DisplayBase;
    TMainForm main;
    main.SetMode(mode);
    main.show();

    ModalScript script;
    script.On<TForm_ComportConfiguration>([cancel](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_19200);
      Click(cancel ? d->Button_Cancel : d->Button_CloseWindow);
    });
    Click(main.Button_Open);
    Finish(script);
    QVERIFY(!main.GetLink()->IsOpen);  // no open on this path
    QVERIFY(ClosedPattern(main));
    QVERIFY(main.SavetoLogfile1->isEnabled());
    QVERIFY(ThreadRuns(main));
    QVERIFY(KeyExists(mine + "Port Configuration"));
    QVERIFY(KeyExists(mine + "Quorlink Configuration"));
    QVERIFY(!KeyExists(other + "Port Configuration"));
    QCOMPARE(StoredInteger(mine + "Port Configuration", "BaudRate"), cancel ? 9600 : 19200);

    // Second press: opens straight away.
    Click(main.Button_Open);
    QVERIFY(script.Unexpected.isEmpty());
    QVERIFY(main.GetLink()->IsOpen);
    QVERIFY(OpenPattern(main));
    QCOMPARE(main.GetLink()->BaudRate, cancel ? 9600 : 19200);
    TThread_Quorlink* thread = main.GetLinkThread();
    Click(main.Button_Close);
    Click(main.Button_Open);
    QCOMPARE(main.GetLinkThread(), thread);  // one worker per run
  }

  // A later run finds the stored settings and doesn't ask again. The port
  // (a pty) opens with even parity stored, and the status line says that it
  // does not apply it.
  void storedSettingsOpenInALaterRun() {
    {
      TMainForm first;
      first.SetMode(0);
      first.GetLink()->BaudRate = 38400;
      first.GetLink()->Parity = 2;
      Click(first.Button_SaveConfiguration);
    }
    TMainForm second;
    second.SetMode(0);
    ModalScript script;
    Click(second.Button_Open);
    QVERIFY(script.Unexpected.isEmpty());
    QVERIFY(second.GetLink()->IsOpen);
    QCOMPARE(second.GetLink()->BaudRate, 38400);
    QVERIFY2(second.StatusLine->currentMessage().contains(QStringLiteral("even parity is not applied")),
             qPrintable(second.StatusLine->currentMessage()));
    // The other mode has its own, still empty, settings.
    TMainForm source;
    source.SetMode(1);
    script.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) { Click(d->Button_Cancel); });
    Click(source.Button_Open);
    Finish(script);
  }

  void busyPortShowsWhyAndStartsTheWorker() {
    {
      TMainForm setup;
      setup.SetMode(0);
      Click(setup.Button_SaveConfiguration);
    }
    TComPort holder;  // another program holding the port
    holder.PortNumber = 1;
    QCOMPARE(holder.Open(), 1);

    TMainForm main;
    main.SetMode(0);
    main.show();
    SeenMessage seen;
    ModalScript script;
    script.Message(&seen);
    Click(main.Button_Open);
    Finish(script);
    QCOMPARE(seen.Caption, QStringLiteral("Error"));
    QCOMPARE(seen.Text, QStringLiteral("Cannot Open Comport"));
    QCOMPARE(seen.Icon, QMessageBox::NoIcon);
    QCOMPARE(seen.ButtonCount, 1);
    QVERIFY2(seen.Detail.contains(QString::fromStdString(Pty->SlavePath())), qPrintable(seen.Detail));
    QVERIFY2(seen.Detail.contains("COM1"), qPrintable(seen.Detail));
    QVERIFY(ClosedPattern(main));
    QVERIFY(main.SavetoLogfile1->isEnabled());
    QVERIFY(ThreadRuns(main));

    // Once the other program lets go, the next try works.
    holder.Close();
    Click(main.Button_Open);
    QVERIFY(OpenPattern(main));
    QVERIFY(script.Unexpected.isEmpty());
  }

  // Cancelled: nothing stored; the buttons follow what the dialog left.
  void portConfigurationCancelled_data() {
    QTest::addColumn<bool>("openInDialog");
    QTest::newRow("port left closed") << false;
    QTest::newRow("port opened in the dialog") << true;
  }
  void portConfigurationCancelled() {
    QFETCH(bool, openInDialog);
    TMainForm main;
    main.SetMode(0);
    main.show();
    SeenMessage success;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([openInDialog](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_57600);
      if (openInDialog) Click(d->Button_OpenPort);
    });
    if (openInDialog) script.Message(&success);
    script.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) { Click(d->Button_Cancel); });
    Click(main.Button_ComConfiguration);
    Finish(script);
    QVERIFY(!KeyExists(DisplayBase + "Port Configuration"));
    QVERIFY(!KeyExists(DisplayBase + "Quorlink Configuration"));
    QCOMPARE(bool(main.GetLink()->IsOpen), openInDialog);
    if (openInDialog) {
      QCOMPARE(success.Text, QStringLiteral("Port Open Successfully"));
      QCOMPARE(success.Caption, QStringLiteral("Success"));
      QCOMPARE(main.GetLink()->BaudRate, 57600);  // copied by Open Port, kept though cancelled
      QVERIFY(OpenPattern(main));
      QVERIFY(main.SavetoLogfile1->isEnabled());
      QVERIFY(ThreadRuns(main));
    } else {
      QVERIFY(ClosedPattern(main));
      QVERIFY(!main.SavetoLogfile1->isEnabled());
      QVERIFY(main.GetLinkThread() == nullptr);
    }
  }

  void portConfigurationOkStores() {
    TMainForm main;
    main.SetMode(1);
    main.show();
    ModalScript script;
    script.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_COM3);
      Click(d->RadioButton_2400);
      Click(d->RadioButton_ParityMark);
      Click(d->RadioButton_7Bits);
      Click(d->RadioButton_StopBits2);
      Click(d->Button_CloseWindow);
    });
    Click(main.Button_ComConfiguration);
    Finish(script);
    const std::string key = SourceBase + "Port Configuration";
    QCOMPARE(StoredInteger(key, "ComPort"), 3);
    QCOMPARE(StoredInteger(key, "BaudRate"), 2400);
    QCOMPARE(StoredInteger(key, "Parity"), 3);
    QCOMPARE(StoredInteger(key, "DataBits"), 7);
    QCOMPARE(StoredInteger(key, "StopBits"), 2);
    QCOMPARE(StoredInteger(key, "FlowControl"), 0);
    QCOMPARE(StoredInteger(SourceBase + "Quorlink Configuration", "Quorlink_DataLength"), 24);
    QVERIFY(!KeyExists(DisplayBase + "Port Configuration"));
    QVERIFY(ClosedPattern(main));
  }

  void closePortKeepsWorkerAndLogMenu() {
    TMainForm main;
    main.SetMode(0);
    Click(main.Button_SaveConfiguration);
    Click(main.Button_Open);
    QVERIFY(OpenPattern(main));
    Click(main.Button_Close);
    QVERIFY(!main.GetLink()->IsOpen);
    QVERIFY(ClosedPattern(main));
    QVERIFY(!main.SavetoLogfile1->isEnabled());
    QVERIFY(main.MenuItem_Log->menuAction()->isVisible());
    QVERIFY(ThreadRuns(main));
    // The port is free again for anybody.
    TComPort other;
    other.PortNumber = 1;
    QCOMPARE(other.Open(), 1);
  }

  // Created once, handed link, mode and data length; closing only hides it.
  void truckSimulatorCreatedOnce() {
    {
      QSettings ini(Settings->FilePath(), QSettings::IniFormat);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Quorlink Configuration/Quorlink_DataLength", 40);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration/ComPort", 1);
    }
    TMainForm main;
    main.SetMode(0);
    main.show();
    Click(main.Button_Open);
    QVERIFY(main.Button_OpenTruckSimulator->isEnabled());
    QCOMPARE(int(main.GetLink()->DataLength.load()), 40);
    Click(main.Button_OpenTruckSimulator);
    TForm_QUORLINK* sim = main.GetSimulatorForm();
    QVERIFY(sim);
    QVERIFY(sim->isVisible());
    QCOMPARE(sim->Link, main.GetLink());
    QVERIFY(sim->windowTitle().contains("Display Mode"));
    QCOMPARE(int(main.GetLink()->DataLength.load()), 40);  // the window took the link's length
    sim->close();
    QVERIFY(!sim->isVisible());
    Click(main.Button_OpenTruckSimulator);
    QCOMPARE(main.GetSimulatorForm(), sim);
    QVERIFY(sim->isVisible());
    QCOMPARE(TopLevels<TForm_QUORLINK>().size(), 1);
  }

  // File > Open..., Save As..., Print, Print Setup...: their dialogs, no effect.
  void fileMenuDialogs() {
    TMainForm main;
    main.SetMode(0);
    main.show();
    const QString existing = Settings->Folder() + "/existing.qlc";
    QFile f(existing);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a configuration");
    f.close();
    QStringList openFilters, saveFilters;
    SeenMessage noPrinter;
    const bool printers = !QPrinterInfo::availablePrinters().isEmpty();
    ModalScript script;
    script.ChooseFile(existing, &openFilters);
    script.ChooseFile(Settings->Folder() + "/new.qlc", &saveFilters);
    script.Cancel("QPrintDialog");
    if (printers)
      script.Cancel("QPageSetupDialog");
    else
      script.Message(&noPrinter);
    main.FileOpenItem->trigger();
    main.FileSaveAsItem->trigger();
    main.FilePrintItem->trigger();
    main.FilePrintSetupItem->trigger();
    Finish(script);
    QCOMPARE(openFilters, QStringList{"Quorlink Configuration Files (*.qlc)"});
    QCOMPARE(saveFilters, QStringList{"Quorlink Configuration Files (*.qlc)"});
    QVERIFY(!QFile::exists(Settings->Folder() + "/new.qlc"));
    QCOMPARE(QFileInfo(existing).size(), qint64(19));
    QVERIFY(printers || noPrinter.Text.contains("printer"));
    QVERIFY(ClosedPattern(main));
    QVERIFY(!KeyExists(DisplayBase + "Port Configuration"));
    // The speed buttons share the File handlers: Open runs the open dialog.
    script.Cancel("QFileDialog");
    Click(main.SpeedButton1);
    Finish(script);
  }

  // Display mode: the status line counts what the receiver met since Open
  // Port; a link with no good frame for over a second is called quiet there
  // and in the simulator window, whose values fade until the next good frame.
  void quietLinkAndFigures() {
    TMainForm main;
    main.SetMode(0);
    Click(main.Button_SaveConfiguration);
    main.show();
    QVERIFY(!main.StatusText_Link->isVisible() || main.StatusText_Link->text().isEmpty());
    Click(main.Button_Open);
    Click(main.Button_OpenTruckSimulator);
    TForm_QUORLINK* sim = main.GetSimulatorForm();
    const auto faded = [sim] {
      for (int i = 0; i < sim->PageControl1->count(); ++i)
        if (!sim->PageControl1->widget(i)->findChild<QWidget*>(QStringLiteral("StaleVeil"))) return false;
      return true;
    };
    const auto status = [&main] { return main.StatusText_Link->text(); };

    std::vector<std::uint8_t> bad = QuorlinkFrame(std::vector<std::uint8_t>(24, 7));
    bad.back() ^= 0x01;
    Pty->Write(QuorlinkFrame(std::vector<std::uint8_t>(24, 1)));
    Pty->Write(bad);
    Pty->Write(QuorlinkFrame(std::vector<std::uint8_t>(24, 2)));
    QVERIFY2(WaitUntil([&] { return status().contains(QStringLiteral("2 good")); }), qPrintable(status()));
    QVERIFY2(status().contains(QStringLiteral("1 CRC")) && status().contains(QStringLiteral("0 length")),
             qPrintable(status()));
    QVERIFY2(WaitUntil([&] { return status().startsWith(QStringLiteral("No frames for")); }), qPrintable(status()));
    QVERIFY(WaitUntil([&] { return sim->StaticText_LinkState->isVisible() && faded(); }));
    QVERIFY(sim->StaticText_LinkState->text().startsWith(QStringLiteral("No frames for ")));

    // A hint covers the figures only while it is shown.
    main.ShowHint(QStringLiteral("Save current file"));
    QVERIFY(!main.StatusText_Link->isVisible());
    main.ShowHint(QString());
    QVERIFY(main.StatusText_Link->isVisible());
    QVERIFY(status().startsWith(QStringLiteral("No frames for")));

    // Frames again: the first clears it (they keep coming so that a slow
    // tick on a busy machine cannot find the link quiet once more).
    QTimer feeder;
    connect(&feeder, &QTimer::timeout, [this] { Pty->Write(QuorlinkFrame(std::vector<std::uint8_t>(24, 3))); });
    feeder.start(100);
    QVERIFY(WaitUntil([&] {
      return !sim->StaticText_LinkState->isVisible() && !faded() && sim->Edit_RPM->text() == QLatin1String("03");
    }));
    QVERIFY2(WaitUntil([&] { return status().contains(QStringLiteral(" frames/s \u00B7 ")); }), qPrintable(status()));
    feeder.stop();

    // Closed by the operator, the port is not expected to say anything.
    Click(main.Button_Close);
    QVERIFY(status().isEmpty());
    QVERIFY(!main.GetLinkFigures().Quiet(TLinkFigures::Clock::now() + std::chrono::hours(1)));
  }

  // The device pulled (here halfway through a frame) and plugged in again:
  // both windows name the port and the device that is waited for, Close Port
  // stays at hand, and once it is back the same capture file (display mode)
  // or the line (source mode) goes on. Close Port while waiting ends it.
  void lostDeviceIsWaitedForAndTakenBack_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("display, capturing") << 0;
    QTest::newRow("source, writing") << 1;
  }
  void lostDeviceIsWaitedForAndTakenBack() {
    QFETCH(int, mode);
    PluggedPty device(Settings->Folder().toStdString() + "/ttyUSB0");
    const QString path = QString::fromStdString(device.Path());
    QVERIFY(SetComDevicePath(1, device.Path()));
    TMainForm main;
    main.SetMode(mode);
    Click(main.Button_SaveConfiguration);
    main.show();
    Click(main.Button_Open);
    QVERIFY(main.GetLink()->IsOpen);
    Click(main.Button_OpenTruckSimulator);
    TForm_QUORLINK* sim = main.GetSimulatorForm();
    const QString capture = Settings->Folder() + "/capture.txt";
    const auto frame = [](int value) { return QuorlinkFrame(std::vector<std::uint8_t>(24, value)); };
    if (mode == 0) {
      QVERIFY(main.StartLog(capture));
      std::vector<std::uint8_t> bytes = frame(1);
      const std::vector<std::uint8_t> second = frame(2);
      bytes.insert(bytes.end(), second.begin(), second.begin() + 12);
      device.Pty().Write(bytes);
      QVERIFY(WaitUntil([&] { return main.GetLink()->GoodFrameCount.load() == 1; }));
      QTest::qWait(100);  // the half frame read by the worker's next passes
    } else {
      QCOMPARE(device.Pty().Read(26).size(), 26u);
    }

    device.Unplug();
    QVERIFY(WaitUntil([&] { return main.StatusText_Port->isVisible(); }));
    QVERIFY2(main.StatusText_Port->text().startsWith(QStringLiteral("COM1 (")) &&
                 main.StatusText_Port->text().endsWith(QStringLiteral(") lost: waiting for it")),
             qPrintable(main.StatusText_Port->text()));
    QCOMPARE(main.StatusText_Port->toolTip(), QStringLiteral("COM1 (%1) lost: waiting for it").arg(path));
    QVERIFY(!main.StatusText_Link->isVisible());
    QVERIFY(sim->StaticText_PortState->isVisible());
    QVERIFY(sim->StaticText_PortState->text().contains(QStringLiteral("COM1 lost: waiting for it")));
    QCOMPARE(sim->StaticText_PortState->toolTip(), path);
    QVERIFY(OpenPattern(main));

    device.Replug();
    QVERIFY(
        WaitUntil([&] { return main.GetLink()->State() == TPortState::Open && !main.StatusText_Port->isVisible(); }));
    QVERIFY(!sim->StaticText_PortState->isVisible());
    if (mode == 0) {
      device.Pty().Write(frame(3));
      QList<QByteArray> lines;
      QVERIFY(WaitUntil([&] {
        QFile file(capture);
        lines = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
        return lines.size() >= 5;
      }));
      main.CloseLog();
      QCOMPARE(lines.size(), 5);  // two header lines, two frames, and the end of the last line
      for (int i : {2, 3}) QCOMPARE(lines[i].simplified().split(' ').value(1), QByteArray("0"));
      QVERIFY(lines[2].contains(">01 01 "));
      QVERIFY(lines[3].contains(">03 03 "));
    } else {
      QCOMPARE(device.Pty().Read(26).size(), 26u);
    }

    device.Unplug();
    QVERIFY(WaitUntil([&] { return main.StatusText_Port->isVisible(); }));
    Click(main.Button_Close);
    QCOMPARE(main.GetLink()->State(), TPortState::Closed);
    QVERIFY(WaitUntil([&] { return !main.StatusText_Port->isVisible() && !sim->StaticText_PortState->isVisible(); }));
    device.Replug();
    TComPort other;
    other.DevicePathOverride = device.Path();
    QVERIFY2(other.Open() == 1, "the closed port took the device back");
  }

  // Window > Bytes, in display mode only: the bytes read, a bad frame named.
  void bytesWindow() {
    TMainForm source;
    source.SetMode(1);
    QVERIFY(!source.WindowBytesItem->isVisible());

    TMainForm main;
    main.SetMode(0);
    QVERIFY(main.WindowBytesItem->isVisible());
    Click(main.Button_SaveConfiguration);
    Click(main.Button_Open);
    std::vector<std::uint8_t> bad = QuorlinkFrame(std::vector<std::uint8_t>(24, 0x11));
    bad.back() ^= 0x01;
    Pty->Write({0x55});
    Pty->Write(QuorlinkFrame(std::vector<std::uint8_t>(24, 0x22)));
    Pty->Write(bad);
    QVERIFY(WaitUntil([&] { return main.GetLink()->ChecksumErrorCount == 1; }));

    main.WindowBytesItem->trigger();
    TForm_QuorlinkBytes* bytes = main.GetBytesForm();
    QVERIFY(bytes && bytes->isVisible());
    QCOMPARE(TopLevels<TForm_QuorlinkBytes>().size(), 1);
    const QStringList rows = bytes->View->SelectedText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 4);  // 53 bytes
    QVERIFY2(rows[0].startsWith(QStringLiteral("00000000  ")), qPrintable(rows[0]));
    QVERIFY2(rows[0].contains(QStringLiteral(" 55|2F 22 22")), qPrintable(rows[0]));
    QVERIFY2(rows[1].contains(QStringLiteral("|2F 11 11")), qPrintable(rows[1]));
    QVERIFY2(rows[3].endsWith(QStringLiteral("checksum error (frame 0000001B-00000034)")), qPrintable(rows[3]));
    bytes->View->SelectRows(3, 3);
    bytes->Button_Copy->click();
    QCOMPARE(QApplication::clipboard()->text(), rows[3] + QLatin1Char('\n'));

    // Paused, it holds still while the line goes on; resumed, it catches up.
    bytes->Button_Pause->click();
    Pty->Write(QuorlinkFrame(std::vector<std::uint8_t>(24, 0x33)));
    QVERIFY(WaitUntil([&] { return main.GetLink()->ByteRing.Count() == 79; }));
    bytes->Timer_BytesTimer();
    QCOMPARE(bytes->View->ByteCount(), std::size_t(53));
    bytes->Button_Pause->click();
    QVERIFY(WaitUntil([&] { return bytes->View->ByteCount() == 79; }));

    bytes->close();
    main.WindowBytesItem->trigger();
    QCOMPARE(main.GetBytesForm(), bytes);
  }

  void hintsInStatusLine() {
    TMainForm main;
    main.SetMode(0);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QCOMPARE(main.SpeedButton2->toolTip(), QStringLiteral("Save"));
    QTest::mouseMove(main.SpeedButton2, main.SpeedButton2->rect().center());
    QVERIFY(WaitUntil([&] { return main.StatusLine->currentMessage() == QStringLiteral("Save"); }));
    main.HelpSearchItem->showStatusText(&main);
    QCOMPARE(main.StatusLine->currentMessage(), QStringLiteral("Search help file for a topic"));
  }

  void helpAndAbout() {
    TMainForm main;
    main.SetMode(0);
    main.show();
    main.HelpContentsItem->trigger();
    auto* help = main.findChild<THelpWindow*>();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(help->ListBox_Topics->count() > 5);
    // Search narrows the topic list to those holding every word.
    main.HelpSearchItem->trigger();
    QTest::keyClicks(help->Edit_Search, "dialout");
    const QStringList found = help->FindTopics("dialout");
    QVERIFY(found.contains("main-window"));
    QVERIFY(!found.contains("modes"));
    QCOMPARE(help->ListBox_Topics->count(), found.size());
    help->Edit_Search->clear();
    QTest::keyClicks(help->Edit_Search, "disk fills");
    QCOMPARE(help->FindTopics("disk fills"), QStringList{"capture"});
    QCOMPARE(help->ListBox_Topics->count(), 1);
    help->Edit_Search->clear();
    QTest::keyClicks(help->Edit_Search, "zeppelin");
    QCOMPARE(help->ListBox_Topics->count(), 1);
    QVERIFY(!(help->ListBox_Topics->item(0)->flags() & Qt::ItemIsSelectable));

    main.HelpHowToUseItem->trigger();
    QCOMPARE(help->ListBox_Topics->currentItem()->data(Qt::UserRole).toString(), QStringLiteral("using-help"));

    TAboutBox about(&main);
    AboutBox = &about;
    QString product, version;
    ModalScript script;
    script.On<TAboutBox>([&](TAboutBox* box) {
      product = box->ProductName->text();
      version = box->VersionNumber->text();
      QTest::keyClick(box, Qt::Key_Return);  // OK is the default button
    });
    main.HelpAboutItem->trigger();
    AboutBox = nullptr;
    Finish(script);
    QCOMPARE(product, QStringLiteral("QUORLINK_SIMULATOR"));
    QCOMPARE(version, QStringLiteral("2.0.1"));
  }
};

QUORLINK_APP_TEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
