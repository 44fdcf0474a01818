#include "serial/dialog/ComportConfiguration.h"

#include "serial/ComPort.h"
#include "serial/DeviceMap.h"
#include "serial/LineSettings.h"
#include "widgets/FormLayout.h"
#include "widgets/Messages.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <iterator>
#include <span>

using FormLayout::R;

namespace {

QRadioButton* Radio(QGroupBox* group, const char* name, const QString& caption, const QRect& geometry) {
  auto* b = new QRadioButton(caption, group);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  return b;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  // A button with the focus takes Enter; elsewhere Enter goes to Open Port.
  b->setAutoDefault(true);
  return b;
}

// Leaves no button of a group checked (radio buttons refuse that on their own).
void UncheckAll(std::initializer_list<QRadioButton*> group) {
  for (QRadioButton* b : group) {
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
  }
}

// The code of the first checked button of a group; current when none is.
int CheckedCode(std::span<const TForm_ComportConfiguration::TChoice> group, int current) {
  for (const auto& [button, code] : group)
    if (button->isChecked()) return code;
  return current;
}

// Checks the button of code, or fallback when no button stands for it.
void Check(std::span<const TForm_ComportConfiguration::TChoice> group, int code, QRadioButton* fallback) {
  for (const auto& [button, buttonCode] : group) {
    if (buttonCode == code) {
      button->setChecked(true);
      return;
    }
  }
  fallback->setChecked(true);
}

QString DescriptionOf(const std::vector<TSerialDeviceInfo>& devices, const std::string& path) {
  for (const TSerialDeviceInfo& d : devices)
    if (d.Path == path) return QString::fromStdString(d.Description);
  return QString();
}

}  // namespace

TForm_ComportConfiguration::TForm_ComportConfiguration(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form_ComportConfiguration"));
  setWindowTitle(QStringLiteral("Comport Configuration"));
  // Wider than the six groups alone need: the port group also names each COM
  // number's device.
  setFixedSize(FormLayout::Size(440, 317));

  // Made in the order of the tab chain: the top row, the bottom row, the buttons.
  CreatePortGroup();
  CreateFlowControlGroup();
  CreateBaudRateGroup();
  CreateParityGroup();
  CreateDataAndStopBitsGroups();
  CreateButtons();
  ShowDevices();
}

void TForm_ComportConfiguration::CreatePortGroup() {
  GroupBox_ComPort = new QGroupBox(QStringLiteral("Com Port:"), this);
  GroupBox_ComPort->setObjectName(QStringLiteral("GroupBox_ComPort"));
  GroupBox_ComPort->setGeometry(R(8, 8, 216, 156));
  QRadioButton** com[4] = {&RadioButton_COM1, &RadioButton_COM2, &RadioButton_COM3, &RadioButton_COM4};
  for (int i = 0; i < 4; ++i) {
    const int y = 22 + i * 30;
    const QByteArray name = "RadioButton_COM" + QByteArray::number(i + 1);
    *com[i] = Radio(GroupBox_ComPort, name.constData(), QStringLiteral("COM%1").arg(i + 1), R(10, y, 58, 17));
    PortChoices[i] = {*com[i], i + 1};
    Label_Device[i] = new QLabel(GroupBox_ComPort);
    Label_Device[i]->setObjectName(QStringLiteral("Label_Device%1").arg(i + 1));
    Label_Device[i]->setGeometry(R(70, y, 114, 17));
    Label_Device[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label_Device[i]->setStyleSheet(QStringLiteral("QLabel { padding-left: 2px; }"));
    Button_ChooseDevice[i] = new QToolButton(GroupBox_ComPort);
    Button_ChooseDevice[i]->setObjectName(QStringLiteral("Button_ChooseDevice%1").arg(i + 1));
    Button_ChooseDevice[i]->setText(QStringLiteral("..."));
    Button_ChooseDevice[i]->setGeometry(R(188, y - 1, 20, 19));
    Button_ChooseDevice[i]->setToolTip(QStringLiteral("Choose the device for COM%1").arg(i + 1));
    Button_ChooseDevice[i]->setStatusTip(Button_ChooseDevice[i]->toolTip());
    connect(Button_ChooseDevice[i], &QToolButton::clicked, this, [this, i] { ChooseDevice(i + 1); });
  }
  RadioButton_COM1->setChecked(true);
}

void TForm_ComportConfiguration::CreateFlowControlGroup() {
  GroupBox_FlowControl = new QGroupBox(QStringLiteral("Flow Control:"), this);
  GroupBox_FlowControl->setObjectName(QStringLiteral("GroupBox_FlowControl"));
  GroupBox_FlowControl->setGeometry(R(232, 8, 96, 156));
  RadioButton_FlowControlNone =
      Radio(GroupBox_FlowControl, "RadioButton_FlowControlNone", QStringLiteral("None"), R(10, 22, 80, 17));
  RadioButton_FlowControlHardware =
      Radio(GroupBox_FlowControl, "RadioButton_FlowControlHardware", QStringLiteral("Hardware"), R(10, 42, 80, 17));
  RadioButton_FlowControlXonXoff =
      Radio(GroupBox_FlowControl, "RadioButton_FlowControlXonXoff", QStringLiteral("Xon/Xoff"), R(10, 62, 80, 17));
  RadioButton_FlowControlNone->setChecked(true);
  // The link runs without flow control; offering these would promise what the
  // port never does.
  for (QRadioButton* b : {RadioButton_FlowControlHardware, RadioButton_FlowControlXonXoff}) {
    b->setEnabled(false);
    b->setToolTip(QStringLiteral("Not available: the Quorlink link runs without flow control"));
  }
}

void TForm_ComportConfiguration::CreateBaudRateGroup() {
  GroupBox_BaudRate = new QGroupBox(QStringLiteral("Baud Rate:"), this);
  GroupBox_BaudRate->setObjectName(QStringLiteral("GroupBox_BaudRate"));
  GroupBox_BaudRate->setGeometry(R(336, 8, 96, 156));
  QRadioButton** baud[std::size(OfferedRates)] = {&RadioButton_1200,  &RadioButton_2400,  &RadioButton_4800,
                                                  &RadioButton_9600,  &RadioButton_19200, &RadioButton_38400,
                                                  &RadioButton_57600, &RadioButton_115200};
  for (std::size_t i = 0; i < std::size(OfferedRates); ++i) {
    const int rate = OfferedRates[i];
    const QByteArray name = "RadioButton_" + QByteArray::number(rate);
    *baud[i] = Radio(GroupBox_BaudRate, name.constData(), QString::number(rate), R(10, 17 + int(i) * 17, 80, 17));
    RateChoices[i] = {*baud[i], rate};
  }
  RadioButton_9600->setChecked(true);
}

void TForm_ComportConfiguration::CreateParityGroup() {
  GroupBox2 = new QGroupBox(QStringLiteral("Parity:"), this);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(R(8, 170, 136, 108));
  // The dialog's own order, not the codes': even comes before odd.
  const struct {
    QRadioButton** Button;
    const char* Name;
    int Code;
  } parities[] = {{&RadioButton_ParityNone, "RadioButton_ParityNone", 0},
                  {&RadioButton_ParityEven, "RadioButton_ParityEven", 2},
                  {&RadioButton_ParityOdd, "RadioButton_ParityOdd", 1},
                  {&RadioButton_ParityMark, "RadioButton_ParityMark", 3},
                  {&RadioButton_ParitySpace, "RadioButton_ParitySpace", 4}};
  for (std::size_t i = 0; i < std::size(parities); ++i) {
    const QString caption = QString::fromLatin1(LineSettings::Parities[parities[i].Code].Caption);
    *parities[i].Button = Radio(GroupBox2, parities[i].Name, caption, R(10, 18 + int(i) * 17, 116, 17));
    ParityChoices[i] = {*parities[i].Button, parities[i].Code};
  }
  RadioButton_ParityNone->setChecked(true);
}

void TForm_ComportConfiguration::CreateDataAndStopBitsGroups() {
  GroupBox1 = new QGroupBox(QStringLiteral("Data Bits:"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(R(152, 170, 136, 60));
  RadioButton_7Bits = Radio(GroupBox1, "RadioButton_7Bits", QStringLiteral("7 Bits"), R(10, 18, 116, 17));
  RadioButton_8Bits = Radio(GroupBox1, "RadioButton_8Bits", QStringLiteral("8 Bits"), R(10, 36, 116, 17));
  RadioButton_8Bits->setChecked(true);
  DataBitsChoices = {{{RadioButton_7Bits, 7}, {RadioButton_8Bits, 8}}};

  GroupBox3 = new QGroupBox(QStringLiteral("Stop Bits:"), this);
  GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
  GroupBox3->setGeometry(R(296, 170, 136, 60));
  RadioButton_StopBits1 = Radio(GroupBox3, "RadioButton_StopBits1", QStringLiteral("1 Stop Bit"), R(10, 18, 116, 17));
  RadioButton_StopBits2 = Radio(GroupBox3, "RadioButton_StopBits2", QStringLiteral("2 Stop Bits"), R(10, 36, 116, 17));
  RadioButton_StopBits1->setChecked(true);
  StopBitsChoices = {{{RadioButton_StopBits1, LineSettings::StopBits[0].Code},
                      {RadioButton_StopBits2, LineSettings::StopBits[2].Code}}};
}

void TForm_ComportConfiguration::CreateButtons() {
  Button_OpenPort = Button(this, "Button_OpenPort", QStringLiteral("Open Port"), R(8, 286, 75, 25));
  Button_OpenPort->setAutoDefault(true);
  Button_OpenPort->setDefault(true);  // Enter opens the port
  Button_ClosePort = Button(this, "Button_ClosePort", QStringLiteral("Close Port"), R(91, 286, 75, 25));
  Button_ClosePort->setEnabled(false);
  Button_CloseWindow = Button(this, "Button_CloseWindow", QStringLiteral("Ok"), R(274, 286, 75, 25));
  Button_Cancel = Button(this, "Button_Cancel", QStringLiteral("Cancel"), R(357, 286, 75, 25));

  connect(Button_OpenPort, &QPushButton::clicked, this, &TForm_ComportConfiguration::Button_OpenPortClick);
  connect(Button_ClosePort, &QPushButton::clicked, this, &TForm_ComportConfiguration::Button_ClosePortClick);
  connect(Button_CloseWindow, &QPushButton::clicked, this, &TForm_ComportConfiguration::Button_CloseWindowClick);
  connect(Button_Cancel, &QPushButton::clicked, this, [this] { done(2); });
}

void TForm_ComportConfiguration::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm_ComportConfiguration::reject() { done(2); }

void TForm_ComportConfiguration::SetPortButtons(bool open) {
  Button_ClosePort->setEnabled(open);
  Button_OpenPort->setEnabled(!open);
}

void TForm_ComportConfiguration::FormShow() {
  if (!Port) return;
  PortToControls();
  SetPortButtons(Port->IsOpen != 0);
}

int TForm_ComportConfiguration::ControlsToPort() {
  if (!Port) return 0;
  Port->PortNumber = static_cast<std::uint8_t>(CheckedCode(PortChoices, Port->PortNumber));
  Port->BaudRate = CheckedCode(RateChoices, Port->BaudRate);
  Port->DataBits = static_cast<std::uint8_t>(CheckedCode(DataBitsChoices, Port->DataBits));
  Port->StopBits = static_cast<std::uint8_t>(CheckedCode(StopBitsChoices, Port->StopBits));
  // A stored flow-control code other than 0 shows no button checked and so
  // stays as it is.
  if (RadioButton_FlowControlNone->isChecked()) Port->FlowControl = 0;
  Port->Parity = static_cast<std::uint8_t>(CheckedCode(ParityChoices, Port->Parity));
  return 1;
}

int TForm_ComportConfiguration::PortToControls() {
  if (!Port) return 0;
  // A setting the dialog doesn't offer shows as the group's default.
  Check(PortChoices, Port->PortNumber, RadioButton_COM1);
  Check(RateChoices, Port->BaudRate, RadioButton_9600);
  Check(DataBitsChoices, Port->DataBits, RadioButton_8Bits);
  Check(StopBitsChoices, Port->StopBits, RadioButton_StopBits1);
  Check(ParityChoices, Port->Parity, RadioButton_ParityNone);
  if (Port->FlowControl == 0)
    RadioButton_FlowControlNone->setChecked(true);
  else
    UncheckAll({RadioButton_FlowControlNone, RadioButton_FlowControlHardware, RadioButton_FlowControlXonXoff});
  return 1;
}

void TForm_ComportConfiguration::Button_OpenPortClick() {
  if (!Port) return;
  ControlsToPort();
  // Where the COM number passed over an ended null-modem's port, the box says so.
  const auto withNotice = [this](QString text) {
    const QString notice = QString::fromStdString(Port->OpenNotice());
    if (notice.isEmpty()) return text;
    return text.isEmpty() ? notice : text + QLatin1Char('\n') + notice;
  };
  if (Port->Open()) {
    Messages::Show(this, QStringLiteral("Success"), QStringLiteral("Port Open Successfully"), withNotice(QString()));
    SetPortButtons(true);
  } else {
    Messages::Show(this, QStringLiteral("Error"), QStringLiteral("Cannot Open Comport"),
                   withNotice(QString::fromStdString(Port->LastError())));
    // Open Port stays available for another try; Close Port too, should the
    // port have been left holding the device.
    Button_OpenPort->setEnabled(true);
    Button_ClosePort->setEnabled(Port->IsOpen != 0);
  }
}

void TForm_ComportConfiguration::Button_ClosePortClick() {
  if (!Port) return;
  Port->Close();
  SetPortButtons(false);
}

void TForm_ComportConfiguration::Button_CloseWindowClick() {
  if (Port) ControlsToPort();
  done(1);
}

void TForm_ComportConfiguration::ShowDevices() {
  const std::vector<TSerialDeviceInfo> devices = ListSerialDevices();
  for (int i = 0; i < 4; ++i) {
    const std::string path = ComDevicePath(i + 1);
    const QString text = QString::fromStdString(path);
    QLabel* label = Label_Device[i];
    const int room = label->contentsRect().width() - 4;
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
    const QString description = DescriptionOf(devices, path);
    label->setToolTip(description.isEmpty() ? text : text + QStringLiteral("\n") + description);
    label->setStatusTip(QStringLiteral("COM%1 is %2").arg(i + 1).arg(text));
  }
}

void TForm_ComportConfiguration::ChooseDevice(int portNumber) {
  TComDeviceChooser chooser(portNumber, this);
  if (chooser.exec() != QDialog::Accepted) return;
  const QString path = chooser.Path();
  // The standard device is stored as "no mapping", so it follows the default.
  const bool isDefault = path.isEmpty() || path.toStdString() == DefaultComDevicePath(portNumber);
  if (!SetComDevicePath(portNumber, isDefault ? std::string() : path.toStdString())) {
    Messages::Show(this, QStringLiteral("Error"), QStringLiteral("Cannot store the device for COM%1").arg(portNumber),
                   QStringLiteral("The setting for %1 could not be written.").arg(path));
  }
  ShowDevices();
}

// Device chooser ---------------------------------------------------------------

TComDeviceChooser::TComDeviceChooser(int portNumber, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      PortNumber(portNumber) {
  setObjectName(QStringLiteral("ComDeviceChooser"));
  setWindowTitle(QStringLiteral("COM%1 Device").arg(portNumber));
  setFixedSize(FormLayout::Size(320, 116));

  auto* caption = new QLabel(QStringLiteral("Device for COM%1:").arg(portNumber), this);
  caption->setGeometry(R(8, 10, 304, 16));

  ComboBox_Device = new QComboBox(this);
  ComboBox_Device->setObjectName(QStringLiteral("ComboBox_Device"));
  ComboBox_Device->setGeometry(R(8, 28, 304, 22));
  ComboBox_Device->setEditable(true);
  ComboBox_Device->setInsertPolicy(QComboBox::NoInsert);
  Devices = ListSerialDevices();
  for (const TSerialDeviceInfo& d : Devices) {
    ComboBox_Device->addItem(QString::fromStdString(d.Path));
    ComboBox_Device->setItemData(ComboBox_Device->count() - 1, QString::fromStdString(d.Description), Qt::ToolTipRole);
  }
  ComboBox_Device->setEditText(QString::fromStdString(ComDevicePath(portNumber)));
  caption->setBuddy(ComboBox_Device);

  Label_Description = new QLabel(this);
  Label_Description->setObjectName(QStringLiteral("Label_Description"));
  Label_Description->setGeometry(R(8, 54, 304, 16));

  Button_Default = new QPushButton(QStringLiteral("Default"), this);
  Button_Default->setObjectName(QStringLiteral("Button_Default"));
  Button_Default->setGeometry(R(8, 84, 75, 25));
  Button_Default->setToolTip(
      QStringLiteral("Back to %1").arg(QString::fromStdString(DefaultComDevicePath(portNumber))));
  Button_Ok = new QPushButton(QStringLiteral("Ok"), this);
  Button_Ok->setObjectName(QStringLiteral("Button_Ok"));
  Button_Ok->setGeometry(R(154, 84, 75, 25));
  Button_Ok->setDefault(true);
  Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
  Button_Cancel->setObjectName(QStringLiteral("Button_Cancel"));
  Button_Cancel->setGeometry(R(237, 84, 75, 25));

  connect(Button_Default, &QPushButton::clicked, this,
          [this] { ComboBox_Device->setEditText(QString::fromStdString(DefaultComDevicePath(PortNumber))); });
  connect(Button_Ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ComboBox_Device, &QComboBox::editTextChanged, this, &TComDeviceChooser::Describe);
  Describe();
}

QString TComDeviceChooser::Path() const { return ComboBox_Device->currentText().trimmed(); }

void TComDeviceChooser::Describe() {
  const QString path = Path();
  QString text;
  if (path.isEmpty()) {
    text =
        QStringLiteral("Empty: the standard device %1").arg(QString::fromStdString(DefaultComDevicePath(PortNumber)));
  } else if (!QFileInfo::exists(path)) {
    text = QStringLiteral("No such device at present");
  } else {
    text = QStringLiteral("Not among the serial devices found");
    for (const TSerialDeviceInfo& d : Devices) {
      if (QString::fromStdString(d.Path) == path) {
        text = d.Description.empty() ? QStringLiteral("Serial device") : QString::fromStdString(d.Description);
        break;
      }
    }
  }
  Label_Description->setText(text);
}

// Launcher ------------------------------------------------------------------------

int ShowSettingsDialog(TComPort& port, QWidget* owner) {
  TForm_ComportConfiguration dialog(owner);
  dialog.Port = &port;
  return dialog.exec();
}
