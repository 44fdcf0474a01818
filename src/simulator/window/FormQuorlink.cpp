#include "simulator/window/FormQuorlink.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"
#include "link/LinkFigures.h"
#include "link/Quorlink.h"
#include "simulator/window/SpinEdit.h"
#include "simulator/window/StringGrid.h"
#include "widgets/FormLayout.h"
#include "widgets/SteadyLabel.h"

using FormLayout::R;
using namespace TruckDataMap;

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds DisplayPeriod{100};

const QString SourceCaption = QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Source Mode)");
const QString DisplayCaption = QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Display Mode)");

// Design places on a tab page: caption, slider, edit box.
constexpr int LabelTop = 10;
constexpr int SliderTop = 42;
constexpr int EditTop = 220;
constexpr int EditWidth = 40;
constexpr int EditHeight = 21;
constexpr int CellWidth = 50;
constexpr int CellHeight = 21;
constexpr int GridLeft = 8;
constexpr int GridTop = 8;

void SetTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}
}  // namespace

// A see-through veil over a page while the link is quiet; it takes no clicks.
class TStaleVeil final : public QWidget {
public:
  explicit TStaleVeil(QWidget* page) : QWidget(page) {
    setObjectName(QStringLiteral("StaleVeil"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(page->rect());
    page->installEventFilter(this);
    raise();
    show();
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return false;
  }
  void paintEvent(QPaintEvent*) override {
    QColor veil = palette().color(QPalette::Window);
    veil.setAlpha(130);
    QPainter(this).fillRect(rect(), veil);
  }
};

// The window's controls as the truck data map reads and sets them.
class TForm_QUORLINK::TControls final : public TruckDataControls {
public:
  explicit TControls(TForm_QUORLINK& form) : Form(form) {}
  int NumberBytes() const override;
  int SliderPosition(int byte) const override { return Form.Sliders[byte]->Position(); }
  void SetSliderPosition(int byte, int position) override { Form.Sliders[byte]->SetPosition(position); }
  int FaultCodeValue() const override;
  void SetFaultCodeValue(int value) override;
  bool LedChecked(int led) const override { return Form.Leds[led]->Checked(); }
  void SetLedChecked(int led, bool checked) override { Form.Leds[led]->SetChecked(checked); }
  void SetEditText(int byte, const QString& text) override { SetTextIfChanged(Form.Edits[byte], text); }
  QString CellText(int column, int row) const override;
  void SetCellText(int column, int row, const QString& text) override;

private:
  TForm_QUORLINK& Form;
};

int TForm_QUORLINK::TControls::NumberBytes() const { return Form.AdvSpinEdit_NumberBytes->value(); }
int TForm_QUORLINK::TControls::FaultCodeValue() const { return Form.AdvSpinEdit_FaultCode->value(); }
void TForm_QUORLINK::TControls::SetFaultCodeValue(int value) { Form.AdvSpinEdit_FaultCode->setValue(value); }
QString TForm_QUORLINK::TControls::CellText(int column, int row) const {
  return Form.AdvStringGrid_Additional->Cells(column, row);
}
void TForm_QUORLINK::TControls::SetCellText(int column, int row, const QString& text) {
  Form.AdvStringGrid_Additional->SetCells(column, row, text);
}

TForm_QUORLINK::TForm_QUORLINK(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      Controls(std::make_unique<TControls>(*this)) {
  setObjectName(QStringLiteral("Form_QUORLINK"));
  // Closing only hides this window; it never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(FormLayout::Size(612, 360));
  move(142, 132);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(R(0, 0, 612, 300));
  const auto addPage = [this](const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    // Pages in the button face, like the controls standing on them.
    page->setAutoFillBackground(true);
    PageControl1->addTab(page, caption);
    return page;
  };
  TabSheet_Engine = addPage("TabSheet_Engine", QStringLiteral("Engine"));
  TabSheet_TruckControl = addPage("TabSheet_TruckControl", QStringLiteral("Truck Controls"));
  TabSheet_Truck = addPage("TabSheet_Truck", QStringLiteral("Truck Status"));
  TabSheet_Motor = addPage("TabSheet_Motor", QStringLiteral("Motor"));
  TabSheet1 = addPage("TabSheet1", QStringLiteral("Additional"));

  // A new age every second repaints this label alone: opaque, the tabs
  // beneath need no repaint, and steady, they are not laid out again.
  auto* linkState = new SteadyLabel(PageControl1);
  StaticText_LinkState = linkState;
  StaticText_LinkState->setObjectName(QStringLiteral("StaticText_LinkState"));
  StaticText_LinkState->setContentsMargins(0, 0, FormLayout::S(8), 0);
  StaticText_LinkState->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  StaticText_LinkState->setAutoFillBackground(true);
  QFont stateFont = StaticText_LinkState->font();
  stateFont.setBold(true);
  StaticText_LinkState->setFont(stateFont);
  linkState->FitLongest({QStringLiteral("No frames for 119 min"), QStringLiteral("No frames for 9999 h")});
  PageControl1->setCornerWidget(StaticText_LinkState, Qt::TopRightCorner);
  StaticText_LinkState->hide();

  BuildPanel();
  BuildEngineTab();
  BuildTruckControlTab();
  BuildTruckStatusTab();
  BuildMotorTab();
  BuildAdditionalTab();
  PageControl1->setCurrentIndex(0);

  setWindowTitle(SourceCaption);

  Timer_QuorlinkDataUpdate = new QTimer(this);
  Timer_QuorlinkDataUpdate->setObjectName(QStringLiteral("Timer_QuorlinkDataUpdate"));
  Timer_QuorlinkDataUpdate->setInterval(500);
  connect(Timer_QuorlinkDataUpdate, &QTimer::timeout, this, &TForm_QUORLINK::Timer_QuorlinkDataUpdateTimer);
  Timer_Display = new QTimer(this);
  Timer_Display->setObjectName(QStringLiteral("Timer_Display"));
  Timer_Display->setInterval(DisplayPeriod.count());
  Timer_Display->setTimerType(Qt::PreciseTimer);  // a tick after a rest comes on the beat, never before
  connect(Timer_Display, &QTimer::timeout, this, &TForm_QUORLINK::Timer_DisplayTimer);
  Timer_QuorlinkDataUpdate->start();
  Timer_Display->start();
  DisplayBeat = Clock::now();
}

TForm_QUORLINK::~TForm_QUORLINK() = default;

TVrSlider* TForm_QUORLINK::SliderOfByte(int byte) const {
  return byte >= 0 && byte < AnalogBytes ? Sliders[byte] : nullptr;
}

QLineEdit* TForm_QUORLINK::EditOfByte(int byte) const { return byte >= 0 && byte < NamedBytes ? Edits[byte] : nullptr; }

TVrCheckLed* TForm_QUORLINK::Led(int led) const { return led >= 0 && led < LedCount ? Leds[led] : nullptr; }

QLineEdit* TForm_QUORLINK::AddEditBox(QWidget* page, int byte, int x, int y) {
  auto* edit = new QLineEdit(QStringLiteral("0"), page);
  edit->setGeometry(R(x, y, EditWidth, EditHeight));
  edit->setAlignment(Qt::AlignCenter);
  edit->setEnabled(false);  // a display in both modes, but a readable one
  QPalette p = edit->palette();
  p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
  edit->setPalette(p);
  Edits[byte] = edit;
  return edit;
}

TVrSlider* TForm_QUORLINK::AddSlider(QWidget* page, int byte, int centre, const QString& caption, QLineEdit*& edit) {
  auto* label = new QLabel(caption, page);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  label->setGeometry(R(centre - 31, LabelTop, 62, 28));

  auto* slider = new TVrSlider(page);
  slider->BeginLoading();
  slider->setGeometry(R(centre - 18, SliderTop, 36, 171));
  slider->SetMaxValue(255);
  TVrPalette palette;
  palette.SetLow(clGreen);
  palette.SetHigh(clLime);
  slider->SetPalette(palette);
  TVrBevel bevel;
  bevel.Assign(*slider->Bevel());
  bevel.SetInnerShadow(clBtnShadow);
  bevel.SetInnerHighlight(clBtnHighlight);
  bevel.SetInnerWidth(2);
  bevel.SetInnerStyle(bsLowered);
  bevel.SetInnerSpace(1);
  bevel.SetInnerColor(clBlack);
  bevel.SetOuterShadow(clBtnShadow);
  bevel.SetOuterHighlight(clBtnHighlight);
  bevel.SetOuterStyle(bsRaised);
  bevel.SetOuterOutline(osOuter);
  slider->SetBevel(bevel);
  slider->EndLoading();
  Sliders[byte] = slider;

  edit = AddEditBox(page, byte, centre - EditWidth / 2, EditTop);
  return slider;
}

void TForm_QUORLINK::BuildEngineTab() {
  QWidget* page = TabSheet_Engine;
  VrSlider_EngineRPM = AddSlider(page, EngineRPM, 54, QStringLiteral("Engine RPM"), Edit_RPM);
  VrSlider_EngineTemp = AddSlider(page, EngineTemp, 144, QStringLiteral("Engine Temp"), Edit_EngineTemp);
  VrSlider_EngineOilPressure =
      AddSlider(page, EngineOilPressure, 234, QStringLiteral("Oil Pressure"), Edit_OilPressure);
}

void TForm_QUORLINK::BuildTruckControlTab() {
  QWidget* page = TabSheet_TruckControl;
  int centre = 34;
  const auto add = [&](int byte, const char* caption, QLineEdit*& edit) {
    TVrSlider* s = AddSlider(page, byte, centre, QString::fromLatin1(caption), edit);
    centre += 60;
    return s;
  };
  VrSlider_GroundSpeed = add(GroundSpeed, "Ground\nSpeed", Edit_GroundSpeed);
  VrSlider_CruiseSetpoint = add(CruiseSetpoint, "Cruise\nSetpoint", Edit_CruiseSetpoint);
  VrSlider_ThrottlePedal = add(ThrottlePedal, "Throttle\nPedal", Edit_ThrottlePedal);
  VrSlider_RetardPedal = add(RetardPedal, "Retard\nPedal", Edit_RetardPedal);
  VrSlider_SteeringAngle = add(SteeringAngle, "Steering\nAngle", Edit_SteeringAngle);
  VrSlider_FuelLevel = add(FuelLevel, "Fuel\nLevel", Edit_FuelLevel);
  VrSlider_BatteryVoltage = add(BatteryVoltage, "Battery\nVoltage", Edit_BatteryVoltage);
  VrSlider_AirPressure = add(AirPressure, "Air\nPressure", Edit_AirPressure);
  VrSlider_SpeedLimit = add(SpeedLimit, "Speed\nLimit", Edit_SpeedLimit);
  VrSlider_AnalogSpare = add(AnalogSpare, "Analog\nSpare", Edit_AnalogSpare);
}

void TForm_QUORLINK::BuildTruckStatusTab() {
  QWidget* page = TabSheet_Truck;
  TVrCheckLed** named[LedCount] = {
      &VrCheckLed_DumpBody,
      &VrCheckLed_LowBrake,
      &VrCheckLed_LowSteering,
      &VrCheckLed_SteeringBrakeOvertemp,
      &VrCheckLed_CommFault,
      &VrCheckLed_ChopperFault,
      &VrCheckLed_InveterFault,
      &VrCheckLed_HandBrake,
      &VrCheckLed_PreHeatOn,
      &VrCheckLed_GearSelectReverse,
      &VrCheckLed_GearSelectNeutral,
      &VrCheckLed_GearSelectForward,
      &VrCheckLed_ServiceBrakeOn,
      &VrCheckLed_ParkBrakeOn,
      &VrCheckLed_InverterBAvail,
      &VrCheckLed_InverterAAvail,
      &VrCheckLed_Reserved2,
      &VrCheckLed_Reserved1,
      &VrCheckLed_Motor1CoolingAir,
      &VrCheckLed_Motor2CoolingAir,
      &VrCheckLed_DumpHydraulicOvertemp,
      &VrCheckLed_Brights,
      &VrCheckLed_RightBlinker,
      &VrCheckLed_LeftBlinker,
  };
  constexpr int ColumnLeft[StatusBytes] = {20, 220, 420};
  for (int column = 0; column < StatusBytes; ++column) {
    for (int place = 0; place < 8; ++place) {
      const int led = StatusColumnOrder[column][place];
      auto* l = new TVrCheckLed(page);
      l->BeginLoading();
      l->setGeometry(R(ColumnLeft[column], 10 + 25 * place, 170, 25));
      TVrPalette palette;
      palette.SetLow(clGreen);
      palette.SetHigh(clLime);
      l->SetPalette(palette);
      l->SetCaption(QString::fromLatin1(StatusFlags[led].Caption));
      l->SetMargin(FormLayout::S(2));  // LEDs line up down each column
      l->EndLoading();
      Leds[led] = l;
      *named[led] = l;
    }
  }
  // One LED reads right to left; the control lays it out like the others.
  VrCheckLed_HandBrake->setLayoutDirection(Qt::RightToLeft);

  Edit_Status1 = AddEditBox(page, Status1, ColumnLeft[0] + 2, EditTop);
  Edit_Status2 = AddEditBox(page, Status2, ColumnLeft[1] + 2, EditTop);
  Edit_Status3 = AddEditBox(page, Status3, ColumnLeft[2] + 2, EditTop);
}

void TForm_QUORLINK::BuildMotorTab() {
  QWidget* page = TabSheet_Motor;
  int centre = 40;
  const auto add = [&](int byte, const char* caption, QLineEdit*& edit) {
    TVrSlider* s = AddSlider(page, byte, centre, QString::fromLatin1(caption), edit);
    centre += 64;
    return s;
  };
  VrSlider_AlternatorTemp = add(AlternatorTemp, "Alternator\nTemp", Edit_AlternatorTemp);
  VrSlider_Motor1Temp = add(Motor1Temp, "Motor 1\nTemp", Edit_Motor1Temp);
  VrSlider_Motor2Temp = add(Motor2Temp, "Motor 2\nTemp", Edit_Motor2Temp);
  VrSlider_LeftMotorCurrent = add(LeftMotorCurrent, "Left Motor\nCurrent", Edit_LeftMotorCurrent);
  VrSlider_LeftMotorSpeed = add(LeftMotorSpeed, "Left Motor\nSpeed", Edit_LeftMotorSpeed);
  VrSlider_RightMotorCurrent = add(RightMotorCurrent, "Right Motor\nCurrent", Edit_RightMotorCurrent);
  VrSlider_RightMotorSpeed = add(RightMotorSpeed, "Right Motor\nSpeed", Edit_RightMotorSpeed);

  Label_FaultCode = new QLabel(QStringLiteral("Fault Code:"), page);
  Label_FaultCode->setGeometry(R(478, 24, 90, 16));
  AdvSpinEdit_FaultCode = new SpinEdit(page);
  AdvSpinEdit_FaultCode->setObjectName(QStringLiteral("AdvSpinEdit_FaultCode"));
  AdvSpinEdit_FaultCode->setHexadecimal(true);
  AdvSpinEdit_FaultCode->setRange(0, 255);
  AdvSpinEdit_FaultCode->setValue(0);
  AdvSpinEdit_FaultCode->setGeometry(R(478, SliderTop, 65, 21));
  Label_FaultCode->setBuddy(AdvSpinEdit_FaultCode);
  Edit_FaultCode = AddEditBox(page, FaultCode, 478, SliderTop + 28);
}

void TForm_QUORLINK::BuildAdditionalTab() {
  AdvStringGrid_Additional = new StringGrid(1 + GridDataColumns, GridRowsFor(MaxDataLength), TabSheet1);
  AdvStringGrid_Additional->setObjectName(QStringLiteral("AdvStringGrid_Additional"));
  AdvStringGrid_Additional->SetCellSize(FormLayout::S(CellWidth), FormLayout::S(CellHeight));
  AdvStringGrid_Additional->move(FormLayout::S(GridLeft), FormLayout::S(GridTop));
  // The page gets its size when the window is first laid out.
  TabSheet1->installEventFilter(this);
  FitGrid();
}

void TForm_QUORLINK::BuildPanel() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Raised);
  Panel1->setGeometry(R(0, 300, 612, 60));

  Label_NumberBytes = new QLabel(QStringLiteral("Number of Bytes:"), Panel1);
  Label_NumberBytes->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label_NumberBytes->setGeometry(R(8, 19, 100, 21));
  AdvSpinEdit_NumberBytes = new SpinEdit(Panel1);
  AdvSpinEdit_NumberBytes->setObjectName(QStringLiteral("AdvSpinEdit_NumberBytes"));
  AdvSpinEdit_NumberBytes->setRange(MinDataLength, MaxDataLength);
  AdvSpinEdit_NumberBytes->setValue(MinDataLength);
  AdvSpinEdit_NumberBytes->setTypingEnabled(false);
  AdvSpinEdit_NumberBytes->setGeometry(R(112, 19, 52, 21));
  Label_NumberBytes->setBuddy(AdvSpinEdit_NumberBytes);
  connect(AdvSpinEdit_NumberBytes, &QSpinBox::valueChanged, this, &TForm_QUORLINK::AdvSpinEdit_NumberBytesChange);

  StaticText_BusStatus = new QLabel(QStringLiteral("Receive Status"), Panel1);
  StaticText_BusStatus->setObjectName(QStringLiteral("StaticText_BusStatus"));
  StaticText_BusStatus->setGeometry(R(196, 8, 240, 17));
  ProgressBar_DataIn = new QProgressBar(Panel1);
  ProgressBar_DataIn->setObjectName(QStringLiteral("ProgressBar_DataIn"));
  ProgressBar_DataIn->setRange(0, 100);
  ProgressBar_DataIn->setValue(0);
  ProgressBar_DataIn->setTextVisible(false);
  ProgressBar_DataIn->setGeometry(R(196, 28, 240, 18));

  StaticText_QuorlinkError = new QLabel(QStringLiteral("Quorlink Error"), Panel1);
  StaticText_QuorlinkError->setObjectName(QStringLiteral("StaticText_QuorlinkError"));
  StaticText_QuorlinkError->setFont(FormLayout::PixelFont(27, true));
  StaticText_QuorlinkError->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StaticText_QuorlinkError->setGeometry(R(172, 6, 350, 46));
  StaticText_QuorlinkError->hide();

  StaticText_PortState = new QLabel(Panel1);
  StaticText_PortState->setObjectName(QStringLiteral("StaticText_PortState"));
  StaticText_PortState->setGeometry(R(172, 4, 350, 52));
  StaticText_PortState->setTextFormat(Qt::RichText);
  StaticText_PortState->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StaticText_PortState->setAutoFillBackground(true);  // covers the receive status beneath
  StaticText_PortState->hide();

  Button_Close = new QPushButton(QStringLiteral("Close"), Panel1);
  Button_Close->setObjectName(QStringLiteral("Button_Close"));
  Button_Close->setGeometry(R(526, 17, 75, 25));
  connect(Button_Close, &QPushButton::clicked, this, &TForm_QUORLINK::Button_CloseClick);
}

void TForm_QUORLINK::FitGrid() {
  StringGrid* grid = AdvStringGrid_Additional;
  grid->SetVisibleRows(GridRowsFor(AdvSpinEdit_NumberBytes->value()));
  QSize size = grid->FullSize();
  const int room = TabSheet1->height() - 2 * FormLayout::S(GridTop);
  if (room > 0 && size.height() > room) {
    // Taller than its tab: scroll, and make room for the bar.
    size.setHeight(room);
    size.setWidth(size.width() + grid->verticalScrollBar()->sizeHint().width());
  }
  if (grid->size() != size) grid->resize(size);
}

int TForm_QUORLINK::SetMode(int mode) {
  Mode = mode;
  if (mode == 0) {
    StaticText_BusStatus->setText(QStringLiteral("Receive Status"));
    return SetDisplayMode();
  }
  StaticText_BusStatus->setText(QStringLiteral("Transmit Status"));
  if (DisplayResting) {  // the sent-frame count moves the bar on every tick
    DisplayResting = false;
    Timer_Display->start(DisplayPeriod.count());
  }
  return 1;
}

int TForm_QUORLINK::SetDisplayMode() {
  setWindowTitle(DisplayCaption);
  for (TVrSlider* s : Sliders)
    if (s) s->setEnabled(false);
  for (TVrCheckLed* l : Leds) l->setEnabled(false);
  AdvSpinEdit_FaultCode->setEnabled(false);
  AdvStringGrid_Additional->setEnabled(false);
  return 1;
}

void TForm_QUORLINK::SetPortState(const QString& headline, const QString& device) {
  if (headline.isEmpty()) {
    StaticText_PortState->hide();
    return;
  }
  QFont big = StaticText_PortState->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  const int room = StaticText_PortState->contentsRect().width() - 4;
  const QString shown = StaticText_PortState->fontMetrics().elidedText(device, Qt::ElideMiddle, room);
  StaticText_PortState->setText(QStringLiteral("<span style=\"font-size:%1pt; font-weight:bold\">%2</span><br>%3")
                                    .arg(big.pointSizeF())
                                    .arg(headline.toHtmlEscaped(), shown.toHtmlEscaped()));
  StaticText_PortState->setToolTip(device);
  StaticText_PortState->raise();
  StaticText_PortState->show();
}

void TForm_QUORLINK::SetNumberBytes(int count) {
  // The spin edit clamps a stored length outside 24 to 100; the link then
  // gets the value the spin edit shows, so both agree.
  AdvSpinEdit_NumberBytes->setValue(count);
  if (Link) Link->DataLength = static_cast<std::uint8_t>(AdvSpinEdit_NumberBytes->value() & 0xFF);
}

int TForm_QUORLINK::SendTruckData() {
  if (!Link) return 0;
  const std::uint8_t n = static_cast<std::uint8_t>(AdvSpinEdit_NumberBytes->value() & 0xFF);
  int result = 1;
  if (Mode != 0) {
    result = Link->SetRecord(TruckData, n);
    if (result) emit RecordSet(TruckData, n);
  } else {
    Link->DataLength = n;
  }
  ReceiveStatus = Link->RxStatus;
  return result;
}

int TForm_QUORLINK::ShowTruckData(int status) {
  if (status != 0) {
    StaticText_QuorlinkError->show();
    StaticText_BusStatus->hide();
    ProgressBar_DataIn->hide();
    ProgressBar_DataIn->setValue(0);
    switch (status) {
    case 1: StaticText_QuorlinkError->setText(QStringLiteral("Quorlink Error CRC")); break;
    case 2: StaticText_QuorlinkError->setText(QStringLiteral("Quorlink Error Start")); break;
    case 3: StaticText_QuorlinkError->setText(QStringLiteral("Quorlink Error Length")); break;
    default: break;
    }
    return 1;
  }
  StaticText_QuorlinkError->hide();
  StaticText_BusStatus->show();
  ProgressBar_DataIn->show();
  if (!Link) return 1;
  ProgressBar_DataIn->setValue(static_cast<int>(Link->GoodFrameCount % 100));
  // The link's length may briefly exceed the record after a settings load;
  // never copy past it.
  Link->GetRecord(TruckData, sizeof TruckData);
  UnpackTruckData();
  return 1;
}

int TForm_QUORLINK::PackTruckData() {
  if (Mode == 0) return 0;
  Pack(*Controls, TruckData);
  return 1;
}

void TForm_QUORLINK::UnpackTruckData() { Unpack(TruckData, *Controls); }

void TForm_QUORLINK::Timer_QuorlinkDataUpdateTimer() {
  PackTruckData();
  SendTruckData();
  // A new status, or news nobody told the display of.
  if (Mode == 0 && DisplayResting) {
    const Clock::time_point now = Clock::now();
    if (!(Sample() == Shown) || QuietSeconds(now) != ShownQuietSeconds) WakeDisplay(now);
  }
}

// The values change only with a good frame (counted after the record is
// stored), the status with a sample, the bytes shown with the length.
TForm_QUORLINK::TShown TForm_QUORLINK::Sample() const {
  return {ReceiveStatus, Link ? Link->GoodFrameCount.load() : 0u, Link ? int(Link->DataLength.load()) : -1};
}

void TForm_QUORLINK::Timer_DisplayTimer() {
  if (Mode != 0) {
    if (Link) ProgressBar_DataIn->setValue(static_cast<int>(Link->SentFrameCount % 100));
    return;
  }
  const Clock::time_point now = Clock::now();
  const TShown sample = Sample();
  const bool news = !(sample == Shown);
  if (news) {
    Shown = sample;
    ShowTruckData(ReceiveStatus);
  }
  ShowLinkState(now);
  if (!news) {
    RestDisplay(now);
  } else if (DisplayResting) {
    DisplayResting = false;
    Timer_Display->start(DisplayPeriod.count());
  }
}

// Until something is new the timer rests: it wakes only when the age of a
// quiet link shows a new value, or when told of news (LinkChanged, a new
// status sampled).
void TForm_QUORLINK::RestDisplay(Clock::time_point now) {
  DisplayResting = true;
  Timer_Display->stop();
  if (!Figures || !Figures->Started()) return;
  const Clock::duration quietFor = Figures->QuietFor(now);
  Clock::duration next = Clock::duration(TLinkFigures::QuietAfter) + std::chrono::milliseconds(1);
  if (quietFor > TLinkFigures::QuietAfter) {
    const long long shown = QuietSeconds(now);
    next = std::chrono::seconds(shown + TLinkFigures::AgeStep(shown));
  }
  WakeDisplay(now - quietFor + next);
}

// The first tick of the display's beat at or after the given time, and no
// later than one already due.
void TForm_QUORLINK::WakeDisplay(Clock::time_point at) {
  if (Mode != 0 || !DisplayResting) return;
  const Clock::time_point now = Clock::now();
  if (at < now) at = now;
  const Clock::duration period = DisplayPeriod;
  const Clock::time_point due = DisplayBeat + ((at - DisplayBeat + period - Clock::duration(1)) / period) * period;
  if (Timer_Display->isActive() && DisplayDue <= due) return;
  DisplayDue = due;
  Timer_Display->start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
}

void TForm_QUORLINK::LinkChanged() { WakeDisplay(Clock::now()); }

// How long the link has been quiet, in whole seconds down to what its text
// shows (a new value means a new text); -1 while it is not quiet.
long long TForm_QUORLINK::QuietSeconds(Clock::time_point now) const {
  const Clock::duration quietFor = Figures ? Figures->QuietFor(now) : Clock::duration::zero();
  if (quietFor <= TLinkFigures::QuietAfter) return -1;
  const long long seconds = std::chrono::floor<std::chrono::seconds>(quietFor).count();
  return seconds - seconds % TLinkFigures::AgeStep(seconds);
}

void TForm_QUORLINK::ShowLinkState(Clock::time_point now) {
  const long long seconds = QuietSeconds(now);
  if (seconds == ShownQuietSeconds) return;  // the same text as shown
  ShownQuietSeconds = seconds;
  const bool quiet = seconds >= 0;
  if (quiet)
    StaticText_LinkState->setText(
        QStringLiteral("No frames for %1")
            .arg(QString::fromStdString(TLinkFigures::AgeText(std::chrono::seconds(seconds)))));
  StaticText_LinkState->setVisible(quiet);
  SetStale(quiet);
}

// Stale values stay readable, only faded, so the operator still sees what
// the link said last. A veil over each page rather than an opacity effect:
// the gauges paint at once and opaquely, which an effect would smear.
void TForm_QUORLINK::SetStale(bool stale) {
  if (stale == Stale) return;
  Stale = stale;
  for (int i = 0; i < PageControl1->count(); ++i) {
    QWidget* page = PageControl1->widget(i);
    if (stale)
      new TStaleVeil(page);
    else
      delete page->findChild<QWidget*>(QStringLiteral("StaleVeil"), Qt::FindDirectChildrenOnly);
  }
}

void TForm_QUORLINK::AdvSpinEdit_NumberBytesChange(int value) {
  if (Link) Link->DataLength = static_cast<std::uint8_t>(value & 0xFF);
  FitGrid();
  WakeDisplay(Clock::now());
}

bool TForm_QUORLINK::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TabSheet1 && event->type() == QEvent::Resize) FitGrid();
  return QWidget::eventFilter(watched, event);
}

void TForm_QUORLINK::Button_CloseClick() { close(); }

void TForm_QUORLINK::closeEvent(QCloseEvent* event) { FormClose(event); }

void TForm_QUORLINK::FormClose(QCloseEvent* event) {
  // Only hidden: the values, the tab and both timers carry on.
  event->accept();
}
