#pragma once
// TForm_ComportConfiguration edits a port's line settings, and opens or closes
// the port on the spot. Beside each COM button it shows the device that COM
// number stands for on this machine, and its "..." button changes that.

#include "serial/DeviceMap.h"
#include "serial/LineSettings.h"

#include <QDialog>
#include <array>
#include <iterator>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;
class TComPort;

// Runs the port configuration dialog on port, owned by owner, and returns its
// modal result: 1 Ok, 2 Cancel. The caller saves the settings on 1.
int ShowSettingsDialog(TComPort& port, QWidget* owner);

class TForm_ComportConfiguration : public QDialog {
  Q_OBJECT
public:
  explicit TForm_ComportConfiguration(QWidget* owner = nullptr);

  TComPort* Port = nullptr;  // not owned; every handler does nothing while it is null

  int ControlsToPort();
  int PortToControls();

  void FormShow();
  void Button_OpenPortClick();
  void Button_ClosePortClick();
  void Button_CloseWindowClick();
  // Lets the operator pick the device behind COM portNumber.
  void ChooseDevice(int portNumber);

  QGroupBox* GroupBox_ComPort;
  QRadioButton* RadioButton_COM1;
  QRadioButton* RadioButton_COM2;
  QRadioButton* RadioButton_COM3;
  QRadioButton* RadioButton_COM4;
  QLabel* Label_Device[4];  // device path of COM1 to COM4
  QToolButton* Button_ChooseDevice[4];

  QGroupBox* GroupBox_FlowControl;
  QRadioButton* RadioButton_FlowControlNone;
  QRadioButton* RadioButton_FlowControlHardware;
  QRadioButton* RadioButton_FlowControlXonXoff;

  QGroupBox* GroupBox_BaudRate;
  QRadioButton* RadioButton_1200;
  QRadioButton* RadioButton_2400;
  QRadioButton* RadioButton_4800;
  QRadioButton* RadioButton_9600;
  QRadioButton* RadioButton_19200;
  QRadioButton* RadioButton_38400;
  QRadioButton* RadioButton_57600;
  QRadioButton* RadioButton_115200;

  QGroupBox* GroupBox2;
  QRadioButton* RadioButton_ParityNone;
  QRadioButton* RadioButton_ParityEven;
  QRadioButton* RadioButton_ParityOdd;
  QRadioButton* RadioButton_ParityMark;
  QRadioButton* RadioButton_ParitySpace;

  QGroupBox* GroupBox1;
  QRadioButton* RadioButton_7Bits;
  QRadioButton* RadioButton_8Bits;

  QGroupBox* GroupBox3;
  QRadioButton* RadioButton_StopBits1;
  QRadioButton* RadioButton_StopBits2;

  QPushButton* Button_OpenPort;
  QPushButton* Button_ClosePort;
  QPushButton* Button_CloseWindow;
  QPushButton* Button_Cancel;

  // The baud rates the dialog offers, in its order.
  static constexpr const auto& OfferedRates = LineSettings::OfferedRates;

  // A radio button and the setting code it stands for.
  struct TChoice {
    QRadioButton* Button;
    int Code;
  };

public slots:
  void reject() override;  // close box and Escape: modal result 2

protected:
  void showEvent(QShowEvent* e) override;

private:
  void CreatePortGroup();
  void CreateFlowControlGroup();
  void CreateBaudRateGroup();
  void CreateParityGroup();
  void CreateDataAndStopBitsGroups();
  void CreateButtons();
  void ShowDevices();
  void SetPortButtons(bool open);

  // Each group's buttons in the dialog's order: ControlsToPort takes the first
  // checked one, PortToControls checks the one of the stored code.
  std::array<TChoice, 4> PortChoices{};
  std::array<TChoice, std::size(OfferedRates)> RateChoices{};
  std::array<TChoice, 5> ParityChoices{};
  std::array<TChoice, 2> DataBitsChoices{};
  std::array<TChoice, 2> StopBitsChoices{};
};

// The small chooser behind a COM row's "..." button: an editable list of the
// serial devices present; "Default" goes back to the standard device.
class TComDeviceChooser : public QDialog {
  Q_OBJECT
public:
  TComDeviceChooser(int portNumber, QWidget* parent = nullptr);
  // The path typed or chosen, trimmed.
  QString Path() const;

  QComboBox* ComboBox_Device;
  QLabel* Label_Description;
  QPushButton* Button_Default;
  QPushButton* Button_Ok;
  QPushButton* Button_Cancel;

private:
  void Describe();
  int PortNumber;
  std::vector<TSerialDeviceInfo> Devices;
};
