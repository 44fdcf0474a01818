#pragma once
// The truck simulator window. In source mode the operator sets the truck values
// that the link sends; in display mode the same controls show the values the
// link receives, with the receive status or the error of the last sample.
// Two timers drive it from creation on: every 500 ms the record goes to the link
// (source mode) and the receive status is sampled; every 100 ms the display moves.

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <memory>

#include "simulator/TruckDataMap.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class SpinEdit;
class StringGrid;
class TLinkFigures;
class TQUORLINK;
class TVrCheckLed;
class TVrSlider;

class TForm_QUORLINK : public QWidget {
  Q_OBJECT
public:
  explicit TForm_QUORLINK(QWidget* parent = nullptr);
  ~TForm_QUORLINK() override;

  TQUORLINK* Link = nullptr;  // not owned; set by the main window right after creation
  // Not owned; set by the main window with Link. In display mode the window
  // says when the link has gone quiet and greys the values it shows.
  const TLinkFigures* Figures = nullptr;

  int SetMode(int mode);
  int SetDisplayMode();
  // Over the status area while the port's device is lost or being opened
  // again: the headline ("COM1 lost: waiting for it") above the device. An
  // empty headline takes it away.
  void SetPortState(const QString& headline, const QString& device);
  void SetNumberBytes(int count);
  int SendTruckData();
  int ShowTruckData(int status);
  int PackTruckData();
  void UnpackTruckData();
  // The link may have something new to show: a receive event was handed over,
  // or the port was opened or closed. In display mode the display timer rests
  // while its ticks would find nothing new; this brings back the next tick of
  // its 100 ms beat. (Without it, the data-update tick notices within 500 ms.)
  void LinkChanged();

  // The window's copy of the record, its mode and the last sampled receive status.
  std::uint8_t TruckData[TruckDataMap::RecordSize] = {};
  int Mode = 0;
  int ReceiveStatus = 0;

  // The controls of a byte: the slider of bytes 0 to 20 but 14 (else null),
  // the edit box of bytes 0 to 23, and the LED of StatusFlags[led].
  TVrSlider* SliderOfByte(int byte) const;
  QLineEdit* EditOfByte(int byte) const;
  TVrCheckLed* Led(int led) const;

  QTabWidget* PageControl1;
  QWidget* TabSheet_Engine;
  QWidget* TabSheet_TruckControl;
  QWidget* TabSheet_Truck;
  QWidget* TabSheet_Motor;
  QWidget* TabSheet1;

  TVrSlider* VrSlider_EngineRPM;
  TVrSlider* VrSlider_EngineTemp;
  TVrSlider* VrSlider_EngineOilPressure;
  TVrSlider* VrSlider_GroundSpeed;
  TVrSlider* VrSlider_CruiseSetpoint;
  TVrSlider* VrSlider_ThrottlePedal;
  TVrSlider* VrSlider_RetardPedal;
  TVrSlider* VrSlider_SteeringAngle;
  TVrSlider* VrSlider_FuelLevel;
  TVrSlider* VrSlider_BatteryVoltage;
  TVrSlider* VrSlider_AirPressure;
  TVrSlider* VrSlider_SpeedLimit;
  TVrSlider* VrSlider_AnalogSpare;
  TVrSlider* VrSlider_AlternatorTemp;
  TVrSlider* VrSlider_Motor1Temp;
  TVrSlider* VrSlider_Motor2Temp;
  TVrSlider* VrSlider_LeftMotorCurrent;
  TVrSlider* VrSlider_LeftMotorSpeed;
  TVrSlider* VrSlider_RightMotorCurrent;
  TVrSlider* VrSlider_RightMotorSpeed;

  QLineEdit* Edit_GroundSpeed;
  QLineEdit* Edit_RPM;
  QLineEdit* Edit_EngineTemp;
  QLineEdit* Edit_AlternatorTemp;
  QLineEdit* Edit_Motor1Temp;
  QLineEdit* Edit_Motor2Temp;
  QLineEdit* Edit_CruiseSetpoint;
  QLineEdit* Edit_ThrottlePedal;
  QLineEdit* Edit_RetardPedal;
  QLineEdit* Edit_SteeringAngle;
  QLineEdit* Edit_LeftMotorCurrent;
  QLineEdit* Edit_LeftMotorSpeed;
  QLineEdit* Edit_RightMotorCurrent;
  QLineEdit* Edit_RightMotorSpeed;
  QLineEdit* Edit_FaultCode;
  QLineEdit* Edit_FuelLevel;
  QLineEdit* Edit_BatteryVoltage;
  QLineEdit* Edit_OilPressure;
  QLineEdit* Edit_AirPressure;
  QLineEdit* Edit_SpeedLimit;
  QLineEdit* Edit_AnalogSpare;
  QLineEdit* Edit_Status1;
  QLineEdit* Edit_Status2;
  QLineEdit* Edit_Status3;

  TVrCheckLed* VrCheckLed_DumpBody;
  TVrCheckLed* VrCheckLed_LowBrake;
  TVrCheckLed* VrCheckLed_LowSteering;
  TVrCheckLed* VrCheckLed_SteeringBrakeOvertemp;
  TVrCheckLed* VrCheckLed_CommFault;
  TVrCheckLed* VrCheckLed_ChopperFault;
  TVrCheckLed* VrCheckLed_InveterFault;
  TVrCheckLed* VrCheckLed_HandBrake;
  TVrCheckLed* VrCheckLed_PreHeatOn;
  TVrCheckLed* VrCheckLed_GearSelectReverse;
  TVrCheckLed* VrCheckLed_GearSelectNeutral;
  TVrCheckLed* VrCheckLed_GearSelectForward;
  TVrCheckLed* VrCheckLed_ServiceBrakeOn;
  TVrCheckLed* VrCheckLed_ParkBrakeOn;
  TVrCheckLed* VrCheckLed_InverterBAvail;
  TVrCheckLed* VrCheckLed_InverterAAvail;
  TVrCheckLed* VrCheckLed_Reserved2;
  TVrCheckLed* VrCheckLed_Reserved1;
  TVrCheckLed* VrCheckLed_Motor1CoolingAir;
  TVrCheckLed* VrCheckLed_Motor2CoolingAir;
  TVrCheckLed* VrCheckLed_DumpHydraulicOvertemp;
  TVrCheckLed* VrCheckLed_Brights;
  TVrCheckLed* VrCheckLed_RightBlinker;
  TVrCheckLed* VrCheckLed_LeftBlinker;

  QLabel* Label_FaultCode;
  SpinEdit* AdvSpinEdit_FaultCode;
  StringGrid* AdvStringGrid_Additional;

  QFrame* Panel1;
  QLabel* Label_NumberBytes;
  SpinEdit* AdvSpinEdit_NumberBytes;
  QPushButton* Button_Close;
  QLabel* StaticText_BusStatus;
  QProgressBar* ProgressBar_DataIn;
  QLabel* StaticText_QuorlinkError;
  QLabel* StaticText_LinkState;  // beside the tabs: "No frames for 12 s"
  QLabel* StaticText_PortState;  // see SetPortState

  QTimer* Timer_QuorlinkDataUpdate;
  QTimer* Timer_Display;

signals:
  // Source mode: the record just handed to the link for sending.
  void RecordSet(const std::uint8_t* record, int length);

protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Timer_QuorlinkDataUpdateTimer();
  void Timer_DisplayTimer();
  void AdvSpinEdit_NumberBytesChange(int value);
  void Button_CloseClick();
  void FormClose(QCloseEvent* event);

  void BuildEngineTab();
  void BuildTruckControlTab();
  void BuildTruckStatusTab();
  void BuildMotorTab();
  void BuildAdditionalTab();
  void BuildPanel();
  TVrSlider* AddSlider(QWidget* page, int byte, int centre, const QString& caption, QLineEdit*& edit);
  QLineEdit* AddEditBox(QWidget* page, int byte, int x, int y);
  void FitGrid();
  long long QuietSeconds(std::chrono::steady_clock::time_point now) const;
  void ShowLinkState(std::chrono::steady_clock::time_point now);
  void SetStale(bool stale);
  void RestDisplay(std::chrono::steady_clock::time_point now);
  void WakeDisplay(std::chrono::steady_clock::time_point at);

  class TControls;
  std::unique_ptr<TControls> Controls;
  TVrSlider* Sliders[TruckDataMap::AnalogBytes] = {};
  QLineEdit* Edits[TruckDataMap::NamedBytes] = {};
  TVrCheckLed* Leds[TruckDataMap::LedCount] = {};
  bool Stale = false;  // the values shown are those of a link gone quiet
  // What the display ticks last showed: the sampled status, the good frames
  // and the length behind the values, and the whole seconds of "No frames for".
  struct TShown {
    int Status = -1;
    std::uint32_t GoodFrames = 0;
    int Length = -1;
    bool operator==(const TShown&) const = default;
  };
  TShown Sample() const;
  TShown Shown;
  long long ShownQuietSeconds = -1;
  // Display mode: the beat the display ticks keep, and whether the timer
  // rests, with the tick it was set for when it rests until a time.
  std::chrono::steady_clock::time_point DisplayBeat;
  bool DisplayResting = false;
  std::chrono::steady_clock::time_point DisplayDue;
};
