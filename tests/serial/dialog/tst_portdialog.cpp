// The port configuration dialog: the mapping both ways, its port buttons on a
// real pseudo-terminal, its answers, and the COM device chooser.

#include "AppTest.h"
#include "ModalScript.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "serial/ComPort.h"
#include "serial/DeviceMap.h"
#include "serial/dialog/ComportConfiguration.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <memory>

namespace {

// The checked button of a group, by caption; empty when none is.
QString Checked(QWidget* group) {
  QString found;
  for (QRadioButton* b : group->findChildren<QRadioButton*>())
    if (b->isChecked()) found += (found.isEmpty() ? "" : "+") + b->text();
  return found;
}

}  // namespace

class TestPortDialog : public QObject {
  Q_OBJECT
  PtyAppFixture Fixture;
  std::unique_ptr<TestSettings>& Settings = Fixture.Settings;
  std::unique_ptr<PtyPair>& Pty = Fixture.Pty;

  void Finish(ModalScript& script) { QUORLINK_FINISH_SCRIPT(script); }

private slots:
  void init() { QVERIFY(Fixture.Up()); }
  void cleanup() { Fixture.Down(); }

  // Stored settings to buttons, and what "Ok" then writes back untouched.
  void settingsShowAndRoundTrip_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QStringList>("shown");  // port, baud, data, stop, parity, flow
    QTest::addColumn<QList<int>>("stored");  // port, baud, data, stop, parity, flow after Ok
    QTest::newRow("all offered values") << 4 << 115200 << 7 << 2 << 1 << 0
                                        << QStringList{"COM4", "115200", "7 Bits", "2 Stop Bits", "Odd Parity", "None"}
                                        << QList<int>{4, 115200, 7, 2, 1, 0};
    QTest::newRow("even and mark") << 2 << 1200 << 8 << 0 << 2 << 0
                                   << QStringList{"COM2", "1200", "8 Bits", "1 Stop Bit", "Even Parity", "None"}
                                   << QList<int>{2, 1200, 8, 0, 2, 0};
    QTest::newRow("space") << 3 << 57600 << 8 << 0 << 4 << 0
                           << QStringList{"COM3", "57600", "8 Bits", "1 Stop Bit", "Space Parity", "None"}
                           << QList<int>{3, 57600, 8, 0, 4, 0};
    QTest::newRow("values not offered") << 9 << 14400 << 5 << 1 << 7 << 0
                                        << QStringList{"COM1", "9600", "8 Bits", "1 Stop Bit", "No Parity", "None"}
                                        << QList<int>{1, 9600, 8, 0, 0, 0};
    QTest::newRow("flow control kept") << 1 << 9600 << 8 << 0 << 3 << 2
                                       << QStringList{"COM1", "9600", "8 Bits", "1 Stop Bit", "Mark Parity", ""}
                                       << QList<int>{1, 9600, 8, 0, 3, 2};
  }
  void settingsShowAndRoundTrip() {
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(int, flow);
    QFETCH(QStringList, shown);
    QFETCH(QList<int>, stored);
    TComPort com;
    com.PortNumber = static_cast<std::uint8_t>(port);
    com.BaudRate = baud;
    com.DataBits = static_cast<std::uint8_t>(dataBits);
    com.StopBits = static_cast<std::uint8_t>(stopBits);
    com.Parity = static_cast<std::uint8_t>(parity);
    com.FlowControl = static_cast<std::uint8_t>(flow);
    QStringList seen;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([&seen](TForm_ComportConfiguration* d) {
      seen = QStringList{Checked(d->GroupBox_ComPort), Checked(d->GroupBox_BaudRate), Checked(d->GroupBox1),
                         Checked(d->GroupBox3),        Checked(d->GroupBox2),         Checked(d->GroupBox_FlowControl)};
      Click(d->Button_CloseWindow);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 1);
    Finish(script);
    QCOMPARE(seen, shown);
    QCOMPARE((QList<int>{com.PortNumber, com.BaudRate, com.DataBits, com.StopBits, com.Parity, com.FlowControl}),
             stored);
    QVERIFY(!com.IsOpen);
  }

  // Cancel, the close box and Escape answer 2 and copy nothing.
  void cancelCopiesNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "escape";
  }
  void cancelCopiesNothing() {
    QFETCH(QString, how);
    TComPort com;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([how](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_COM2);
      Click(d->RadioButton_ParityEven);
      if (how == "cancel")
        Click(d->Button_Cancel);
      else if (how == "close")
        d->close();
      else
        QTest::keyClick(d, Qt::Key_Escape);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 2);
    Finish(script);
    QCOMPARE(int(com.PortNumber), 1);
    QCOMPARE(int(com.Parity), 0);
  }

  // Open Port copies the buttons and opens; the choice stays even when the
  // dialog is then cancelled. Enter presses Open Port, not Ok.
  void openPortThenCancel() {
    TComPort com;
    SeenMessage success;
    bool openDisabled = false, closeEnabled = false, stillShown = false, closedAtFirst = false;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      closedAtFirst = d->Button_OpenPort->isEnabled() && !d->Button_ClosePort->isEnabled();
      Click(d->RadioButton_38400);
      QTest::keyClick(d, Qt::Key_Return);
    });
    script.Message(&success);
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      stillShown = d->isVisible();
      openDisabled = !d->Button_OpenPort->isEnabled();
      closeEnabled = d->Button_ClosePort->isEnabled();
      Click(d->Button_Cancel);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 2);
    Finish(script);
    QCOMPARE(success.Caption, QStringLiteral("Success"));
    QCOMPARE(success.Text, QStringLiteral("Port Open Successfully"));
    QCOMPARE(success.ButtonCount, 1);
    QVERIFY(closedAtFirst);
    QVERIFY(stillShown);
    QVERIFY(openDisabled);
    QVERIFY(closeEnabled);
    QVERIFY(com.IsOpen);
    QCOMPARE(com.BaudRate, 38400);

    // Shown again while open: Close Port is the one to press, and it closes.
    bool reopenState = false;
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      reopenState = !d->Button_OpenPort->isEnabled() && d->Button_ClosePort->isEnabled();
      Click(d->Button_ClosePort);
      reopenState = reopenState && d->Button_OpenPort->isEnabled() && !d->Button_ClosePort->isEnabled();
      Click(d->Button_CloseWindow);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 1);
    Finish(script);
    QVERIFY(reopenState);
    QVERIFY(!com.IsOpen);
  }

  // Enter on a button that has the focus presses that button; only elsewhere
  // does it fall to Open Port.
  void enterPressesTheFocusedButton_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("result");
    QTest::newRow("Cancel") << "Button_Cancel" << 2;
    QTest::newRow("Ok") << "Button_CloseWindow" << 1;
  }
  void enterPressesTheFocusedButton() {
    QFETCH(QString, focus);
    QFETCH(int, result);
    TComPort com;
    bool focused = false;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_2400);
      auto* button = d->findChild<QPushButton*>(focus);
      button->setFocus(Qt::TabFocusReason);
      focused = button->hasFocus();
      QTest::keyClick(button, Qt::Key_Return);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), result);
    Finish(script);
    QVERIFY(focused);
    QVERIFY(!com.IsOpen);
    QCOMPARE(com.BaudRate, result == 1 ? 2400 : 9600);
  }

  void openPortFailureNamesTheDevice() {
    QVERIFY(SetComDevicePath(2, "/dev/quorlink-no-such-tty"));
    TComPort com;
    SeenMessage error;
    bool openEnabled = false, closeDisabled = false;
    ModalScript script;
    script.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_COM2);
      Click(d->Button_OpenPort);
    });
    script.Message(&error);
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      openEnabled = d->Button_OpenPort->isEnabled();
      closeDisabled = !d->Button_ClosePort->isEnabled();
      Click(d->Button_CloseWindow);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 1);
    Finish(script);
    QCOMPARE(error.Caption, QStringLiteral("Error"));
    QCOMPARE(error.Text, QStringLiteral("Cannot Open Comport"));
    QCOMPARE(error.Icon, QMessageBox::NoIcon);
    QVERIFY2(error.Detail.contains("/dev/quorlink-no-such-tty"), qPrintable(error.Detail));
    QVERIFY(openEnabled);
    QVERIFY(closeDisabled);
    QCOMPARE(int(com.PortNumber), 2);
  }

  // "..." beside a COM button: choose or type a device; Default goes back.
  void deviceChooser() {
    TComPort com;
    QString shownBefore, shownAfter, shownDefault;
    const QString path = QString::fromStdString(Pty->SlavePath());
    ModalScript script;
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      shownBefore = d->Label_Device[2]->toolTip();
      Click(d->Button_ChooseDevice[2]);
    });
    script.On<TComDeviceChooser>([&](TComDeviceChooser* c) {
      c->ComboBox_Device->lineEdit()->clear();
      QTest::keyClicks(c->ComboBox_Device->lineEdit(), path);
      Click(c->Button_Ok);
    });
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      shownAfter = d->Label_Device[2]->toolTip();
      Click(d->Button_ChooseDevice[2]);
    });
    script.On<TComDeviceChooser>([&](TComDeviceChooser* c) {
      Click(c->Button_Default);
      Click(c->Button_Ok);
    });
    script.On<TForm_ComportConfiguration>([&](TForm_ComportConfiguration* d) {
      shownDefault = d->Label_Device[2]->toolTip();
      Click(d->Button_ChooseDevice[2]);
    });
    script.On<TComDeviceChooser>([&](TComDeviceChooser* c) {
      QTest::keyClicks(c->ComboBox_Device->lineEdit(), "-ignored");
      c->Button_Cancel->setFocus(Qt::TabFocusReason);  // Enter on Cancel cancels
      QTest::keyClick(c->Button_Cancel, Qt::Key_Return);
    });
    script.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) { Click(d->Button_Cancel); });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 2);
    Finish(script);
    QVERIFY(shownBefore.startsWith(QString::fromStdString(DefaultComDevicePath(3))));
    QVERIFY(shownAfter.startsWith(path));
    QVERIFY(shownDefault.startsWith(QString::fromStdString(DefaultComDevicePath(3))));
    QCOMPARE(ComDevicePath(3), DefaultComDevicePath(3));

    // The mapping is what the port opens.
    ModalScript again;
    again.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) { Click(d->Button_ChooseDevice[1]); });
    again.On<TComDeviceChooser>([&](TComDeviceChooser* c) {
      c->ComboBox_Device->setEditText(path);
      Click(c->Button_Ok);
    });
    again.On<TForm_ComportConfiguration>([](TForm_ComportConfiguration* d) {
      Click(d->RadioButton_COM2);
      Click(d->Button_CloseWindow);
    });
    QCOMPARE(ShowSettingsDialog(com, nullptr), 1);
    Finish(again);
    QCOMPARE(ComDevicePath(2), Pty->SlavePath());
    QCOMPARE(com.Open(), 1);
  }
};

QUORLINK_APP_TEST_MAIN(TestPortDialog)
#include "tst_portdialog.moc"
