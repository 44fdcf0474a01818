// Start-up: the mode dialog, the program entry, and errors that reach the
// event loop.

#include "AppTest.h"
#include "ModalScript.h"
#include "TestSettings.h"
#include "app/AboutBox.h"
#include "app/MainForm.h"
#include "app/ModeSelect.h"
#include "app/Program.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "serial/DeviceMap.h"
#include "serial/Registry.h"
#include "serial/dialog/ComportConfiguration.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <memory>

// An event handler that fails the way the settings layer does.
class Thrower : public QObject {
public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw ERegistryException("Settings value \"ComPort\" is not a 32-bit integer");
    return QObject::event(e);
  }
};

class TestStartup : public QObject {
  Q_OBJECT
  std::unique_ptr<TestSettings> Settings;

private slots:
  void init() { Settings = std::make_unique<TestSettings>(); }
  void cleanup() { Settings.reset(); }

  void modeDialogAnswers_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("mode");
    QTest::newRow("Ok untouched") << "ok" << 1 << 0;
    QTest::newRow("source, Ok") << "source" << 1 << 1;
    QTest::newRow("Cancel") << "cancel" << 2 << 0;
    QTest::newRow("close box") << "close" << 0 << 0;
    QTest::newRow("Enter") << "enter" << 1 << 0;
    QTest::newRow("Enter on Cancel") << "enter on cancel" << 2 << 0;
  }
  void modeDialogAnswers() {
    QFETCH(QString, answer);
    QFETCH(int, result);
    QFETCH(int, mode);
    TForm_ModeSelect dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Quorlink Simulator Mode Select"));
    QVERIFY(dialog.RadioButton_QuorlinkDisplay->isChecked());
    QVERIFY(!dialog.RadioButton_Source->isChecked());
    ModalScript script;
    script.On<TForm_ModeSelect>([answer](TForm_ModeSelect* d) {
      if (answer.startsWith(QLatin1String("source"))) Click(d->RadioButton_Source);
      if (answer == QLatin1String("cancel"))
        Click(d->Button_Cancel);
      else if (answer == QLatin1String("close"))
        d->close();
      else if (answer == QLatin1String("enter"))
        QTest::keyClick(d, Qt::Key_Return);
      else if (answer == QLatin1String("enter on cancel")) {
        d->Button_Cancel->setFocus(Qt::TabFocusReason);  // the operator tabbed to it
        QTest::keyClick(d->Button_Cancel, Qt::Key_Return);
      } else
        Click(d->Button_Ok);
    });
    QCOMPARE(dialog.exec(), result);
    QCOMPARE(dialog.GetMode(), mode);
    QVERIFY(script.Done());
    QVERIFY2(script.Unexpected.isEmpty(), qPrintable(script.Unexpected.join("; ")));
  }

  // The whole program: mode dialog, then the main window in the chosen mode
  // until it is closed; exit code 0.
  void runInEachMode_data() {
    QTest::addColumn<bool>("source");
    QTest::newRow("display (default)") << false;
    QTest::newRow("source") << true;
  }
  void runInEachMode() {
    QFETCH(bool, source);
    bool sawMain = false, logVisible = true, aboutHidden = false;
    int linkMode = -1;
    ModalScript script;
    script.On<TForm_ModeSelect>([source](TForm_ModeSelect* d) {
      if (source) Click(d->RadioButton_Source);
      Click(d->Button_Ok);
    });
    // Once the main window is up, look at it and close it like the operator.
    QTimer probe;
    probe.setInterval(25);
    connect(&probe, &QTimer::timeout, this, [&] {
      TMainForm* main = MainForm;
      if (!main || !main->isVisible() || sawMain) return;
      sawMain = true;
      logVisible = main->MenuItem_Log->menuAction()->isVisible();
      linkMode = main->GetLink()->Mode;
      aboutHidden = AboutBox && !AboutBox->isVisible();
      Click(main->Button_Exit);
    });
    probe.start();
    QCOMPARE(RunProgram(), 0);
    probe.stop();
    QVERIFY(sawMain);
    QCOMPARE(linkMode, source ? 1 : 0);
    QCOMPARE(logVisible, !source);
    QVERIFY(aboutHidden);
    QVERIFY(MainForm == nullptr);  // destroyed on the way out
    QVERIFY(TopLevels<TMainForm>().isEmpty());
    QVERIFY2(script.Unexpected.isEmpty(), qPrintable(script.Unexpected.join("; ")));
  }

  void cancelEndsAtOnce_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
  }
  void cancelEndsAtOnce() {
    QFETCH(bool, closeBox);
    bool mainSeen = false;
    QTimer probe;
    probe.setInterval(10);
    connect(&probe, &QTimer::timeout, this,
            [&] { mainSeen = mainSeen || MainForm || !TopLevels<TMainForm>().isEmpty(); });
    probe.start();
    ModalScript script;
    script.On<TForm_ModeSelect>([closeBox](TForm_ModeSelect* d) {
      if (closeBox)
        d->close();
      else
        Click(d->Button_Cancel);
    });
    QCOMPARE(RunProgram(), 0);
    QVERIFY(!mainSeen);
    QVERIFY(Form_ModeSelect == nullptr);
    // No settings were read or written: the settings folder is still empty.
    QVERIFY(QDir(Settings->Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
  }

  // Whatever throws in an event handler is shown, and the loop goes on.
  void errorReachingTheEventLoop() {
    Thrower thrower;
    SeenMessage first, second;
    ModalScript script;
    script.Message(&first).Message(&second);
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QVERIFY(WaitUntil([&] { return first.Seen; }));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QVERIFY(WaitUntil([&] { return script.Done(); }));
    QCOMPARE(first.Icon, QMessageBox::Critical);
    QCOMPARE(first.Text, QStringLiteral("Settings value \"ComPort\" is not a 32-bit integer"));
    QCOMPARE(second.Text, first.Text);
  }

  // A stored value of the wrong type makes the settings layer throw while
  // Open Port runs; the operator sees the reason and the program goes on.
  void settingsErrorIsShownAndProgramGoesOn() {
    {
      QSettings ini(Settings->FilePath(), QSettings::IniFormat);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Quorlink Configuration/Quorlink_DataLength", 24);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration/ComPort", 1);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration/BaudRate", "fast");
    }
    TMainForm main;
    main.SetMode(0);
    main.show();
    SeenMessage error;
    ModalScript script;
    script.Message(&error);
    Click(main.Button_Open);
    QVERIFY(WaitUntil([&] { return script.Done(); }));
    QVERIFY(error.Seen);
    QCOMPARE(error.Icon, QMessageBox::Critical);
    QVERIFY2(error.Text.contains("BaudRate"), qPrintable(error.Text));
    QVERIFY2(error.Text.contains("fast"), qPrintable(error.Text));
    // The command stopped where the error arose: nothing opened, no thread.
    QVERIFY(!main.GetLink()->IsOpen);
    QVERIFY(main.GetLinkThread() == nullptr);
    QVERIFY(main.Button_Open->isEnabled());

    // Mended settings work at once, in the same run.
    {
      QSettings ini(Settings->FilePath(), QSettings::IniFormat);
      ini.setValue("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration/BaudRate", 19200);
    }
    SetComDevicePath(1, "/nonexistent/quorlink-test-tty");
    SeenMessage cannotOpen;
    script.Message(&cannotOpen);
    Click(main.Button_Open);
    QVERIFY(WaitUntil([&] { return script.Done(); }));
    QCOMPARE(cannotOpen.Text, QStringLiteral("Cannot Open Comport"));
    QCOMPARE(main.GetLink()->BaudRate, 19200);
    QVERIFY(main.GetLinkThread() != nullptr);
    QVERIFY2(script.Unexpected.isEmpty(), qPrintable(script.Unexpected.join("; ")));
  }

  // Settings that can't be read are said, the defaults are used, and nothing
  // is written over them. (A folder in the file's place: unreadable as a
  // settings file even for root.)
  void unreadableSettingsAreSaidAndNotWrittenOver() {
    QVERIFY(QDir().mkpath(Settings->FilePath()));
    TMainForm main;
    main.SetMode(0);
    main.show();
    SeenMessage read, saved;
    ModalScript script;
    script.Message(&read)
        .On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) { Click(d->Button_Cancel); })
        .Message(&saved);
    Click(main.Button_Open);
    QVERIFY(WaitUntil([&] { return script.Done(); }));
    QVERIFY2(script.Unexpected.isEmpty(), qPrintable(script.Unexpected.join("; ")));
    QCOMPARE(read.Text, QStringLiteral("The settings could not be read."));
    QVERIFY2(read.Detail.contains(Settings->FilePath()) && read.Detail.contains("a folder"), qPrintable(read.Detail));
    QCOMPARE(saved.Text, QStringLiteral("The settings could not be saved."));
    QVERIFY2(saved.Detail.contains("nothing was written"), qPrintable(saved.Detail));
    QVERIFY(QFileInfo(Settings->FilePath()).isDir());
  }
};

QUORLINK_APP_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
