#include "app/MainForm.h"

#include "app/AboutBox.h"
#include "app/Application.h"
#include "app/HelpWindow.h"
#include "capture/window/CaptureViewer.h"
#include "link/LinkFigures.h"
#include "link/QtHandOff.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "link/window/QuorlinkBytes.h"
#include "serial/dialog/ComportConfiguration.h"
#include "simulator/chart/ChartValues.h"
#include "simulator/trend/TrendWindow.h"
#include "simulator/window/FormQuorlink.h"
#include "widgets/FormLayout.h"
#include "widgets/Glyphs.h"
#include "widgets/Messages.h"
#include "widgets/SteadyLabel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdint>

using FormLayout::R;

TMainForm* MainForm = nullptr;

namespace {

const QString ConfigurationFilter = QStringLiteral("Quorlink Configuration Files (*.qlc)");

// "Short|Long": the short part becomes the tooltip, the long part the status line hint.
void SetHint(QWidget* w, const QString& hint) {
  const int bar = hint.indexOf(QLatin1Char('|'));
  w->setToolTip(bar < 0 ? hint : hint.left(bar));
  w->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

QAction* AddItem(QMenu* menu, const char* name, const QString& caption, const QString& hint) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  a->setStatusTip(hint);
  return a;
}

}  // namespace

template <class Sender, class Signal>
void TMainForm::Command(Sender* sender, Signal signal, void (TMainForm::*handler)()) {
  connect(sender, signal, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
}

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      Link(std::make_unique<TQUORLINK>()),
      Figures(std::make_unique<TLinkFigures>(*Link)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("QUORLINK SIMULATOR"));

  CreateMenus();
  CreateClientArea();
  CreateStatusLine();
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // as large as its parts, and not resizable
  move(FormLayout::S(291), FormLayout::S(174));
  ConnectCommands();

  PortWatch = new QSocketNotifier(static_cast<qintptr>(Link->StateDescriptor()), QSocketNotifier::Read, this);
  connect(PortWatch, &QSocketNotifier::activated, this, [this] {
    Link->ClearStateChange();
    ShowPortState();
  });
}

void TMainForm::CreateMenus() {
  FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  FileMenu->setObjectName(QStringLiteral("FileMenu"));
  FileNewItem = AddItem(FileMenu, "FileNewItem", QStringLiteral("&New"), QStringLiteral("Create a new file"));
  FileOpenItem = AddItem(FileMenu, "FileOpenItem", QStringLiteral("&Open..."), QStringLiteral("Open an existing file"));
  FileOpenCaptureItem = AddItem(FileMenu, "FileOpenCaptureItem", QStringLiteral("Open &Capture..."),
                                QStringLiteral("Plot a capture file and look at its lines"));
  FileSaveItem = AddItem(FileMenu, "FileSaveItem", QStringLiteral("&Save"), QStringLiteral("Save current file"));
  FileSaveAsItem = AddItem(FileMenu, "FileSaveAsItem", QStringLiteral("Save &As..."),
                           QStringLiteral("Save current file under a new name"));
  FileMenu->addSeparator();
  FilePrintItem = AddItem(FileMenu, "FilePrintItem", QStringLiteral("&Print"), QStringLiteral("Print current file"));
  FilePrintSetupItem = AddItem(FileMenu, "FilePrintSetupItem", QStringLiteral("P&rint Setup..."),
                               QStringLiteral("Change printer setup"));
  FileMenu->addSeparator();
  FileExitItem = AddItem(FileMenu, "FileExitItem", QStringLiteral("E&xit"), QStringLiteral("Exit this application"));

  MenuItem_Log = menuBar()->addMenu(QStringLiteral("Log"));
  MenuItem_Log->setObjectName(QStringLiteral("MenuItem_Log"));
  SavetoLogfile1 = AddItem(MenuItem_Log, "SavetoLogfile1", QStringLiteral("Save to Logfile"), QString());
  SavetoLogfile1->setEnabled(false);
  ReadFromLogfile1 = AddItem(MenuItem_Log, "ReadFromLogfile1", QStringLiteral("Read From Logfile"), QString());
  ReadFromLogfile1->setEnabled(false);

  WindowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
  WindowMenu->setObjectName(QStringLiteral("WindowMenu"));
  WindowTileItem = AddItem(WindowMenu, "WindowTileItem", QStringLiteral("&Tile"), QStringLiteral("Tile all windows"));
  WindowCascadeItem =
      AddItem(WindowMenu, "WindowCascadeItem", QStringLiteral("&Cascade"), QStringLiteral("Cascade all windows"));
  WindowArrangeItem = AddItem(WindowMenu, "WindowArrangeItem", QStringLiteral("&Arrange All"),
                              QStringLiteral("Arrange minimized windows"));
  WindowMenu->addSeparator();
  WindowTrendItem = AddItem(WindowMenu, "WindowTrendItem", QStringLiteral("Live T&rend"),
                            QStringLiteral("Plot values over time as frames come and go"));
  WindowBytesItem = AddItem(WindowMenu, "WindowBytesItem", QStringLiteral("&Bytes"),
                            QStringLiteral("Show the bytes the link received"));

  HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
  HelpContentsItem = AddItem(HelpMenu, "HelpContentsItem", QStringLiteral("&Contents"),
                             QStringLiteral("Display the help contents screen"));
  HelpSearchItem = AddItem(HelpMenu, "HelpSearchItem", QStringLiteral("&Search for Help On..."),
                           QStringLiteral("Search help file for a topic"));
  HelpHowToUseItem = AddItem(HelpMenu, "HelpHowToUseItem", QStringLiteral("&How to Use Help"),
                             QStringLiteral("Help on using the help system"));
  HelpMenu->addSeparator();
  HelpAboutItem =
      AddItem(HelpMenu, "HelpAboutItem", QStringLiteral("&About..."), QStringLiteral("Show program information"));
}

// The speed bar across the top, two columns of buttons below.
void TMainForm::CreateClientArea() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Client"));
  client->setFixedSize(FormLayout::Size(366, 188 - 23));
  setCentralWidget(client);

  SpeedBar = new QFrame(client);
  SpeedBar->setObjectName(QStringLiteral("SpeedBar"));
  SpeedBar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  SpeedBar->setGeometry(R(0, 0, 366, 33));

  auto speedButton = [this](const char* name, int x, const QIcon& glyph, const QString& hint) {
    auto* b = new QToolButton(SpeedBar);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(R(x, 4, 25, 25));
    b->setIcon(glyph);
    b->setIconSize(FormLayout::Size(16, 16));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    SetHint(b, hint);
    return b;
  };
  SpeedButton1 = speedButton("SpeedButton1", 8, Glyphs::OpenFolder(), QStringLiteral("Open|Open"));
  SpeedButton2 = speedButton("SpeedButton2", 32, Glyphs::Floppy(), QStringLiteral("Save|Save"));
  SpeedButton3 = speedButton("SpeedButton3", 56, Glyphs::NewPage(), QStringLiteral("New|New"));

  auto button = [client](const char* name, const QString& caption, const QRect& geometry) {
    auto* b = new QPushButton(caption, client);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
  };
  Button_OpenTruckSimulator =
      button("Button_OpenTruckSimulator", QStringLiteral("Open Truck Simulator"), R(208, 64, 121, 25));
  Button_OpenTruckSimulator->setEnabled(false);
  Button_Exit = button("Button_Exit", QStringLiteral("Exit"), R(208, 128, 121, 25));
  Button_Open = button("Button_Open", QStringLiteral("Open Port"), R(40, 63, 113, 25));
  Button_ComConfiguration = button("Button_ComConfiguration", QStringLiteral("Port Configuration"), R(40, 96, 113, 25));
  Button_Close = button("Button_Close", QStringLiteral("Close Port"), R(40, 128, 113, 25));
  Button_Close->setEnabled(false);
  Button_SaveConfiguration =
      button("Button_SaveConfiguration", QStringLiteral("Save Configuration"), R(208, 96, 121, 25));
}

void TMainForm::CreateStatusLine() {
  StatusLine = statusBar();
  StatusLine->setObjectName(QStringLiteral("StatusLine"));
  StatusLine->setSizeGripEnabled(false);
  StatusLine->setFixedHeight(FormLayout::S(23));
  // Normal items: a hint covers them while shown and they come back after.
  StatusText_Port = new QLabel(StatusLine);
  StatusText_Port->setObjectName(QStringLiteral("StatusText_Port"));
  StatusLine->addWidget(StatusText_Port, 1);
  StatusText_Port->hide();
  // Its figures change every second: a steady label repaints alone.
  StatusText_Link = new SteadyLabel(StatusLine);
  StatusText_Link->setObjectName(QStringLiteral("StatusText_Link"));
  StatusLine->addWidget(StatusText_Link, 1);
  Timer_LinkFigures = new QTimer(this);
  Timer_LinkFigures->setObjectName(QStringLiteral("Timer_LinkFigures"));
  Timer_LinkFigures->setInterval(1000);
  connect(Timer_LinkFigures, &QTimer::timeout, this, &TMainForm::Timer_LinkFiguresTimer);
}

void TMainForm::ConnectCommands() {
  Command(Button_Open, &QPushButton::clicked, &TMainForm::Button_OpenClick);
  Command(Button_ComConfiguration, &QPushButton::clicked, &TMainForm::Button_ComConfigurationClick);
  Command(Button_Close, &QPushButton::clicked, &TMainForm::Button_CloseClick);
  Command(Button_SaveConfiguration, &QPushButton::clicked, &TMainForm::Button_SaveConfigurationClick);
  Command(Button_Exit, &QPushButton::clicked, &TMainForm::Button_ExitClick);
  Command(Button_OpenTruckSimulator, &QPushButton::clicked, &TMainForm::Button_OpenTruckSimulatorClick);
  Command(SpeedButton1, &QToolButton::clicked, &TMainForm::FileOpen);
  Command(SpeedButton2, &QToolButton::clicked, &TMainForm::FileSave);
  Command(SpeedButton3, &QToolButton::clicked, &TMainForm::FileNew);
  Command(FileNewItem, &QAction::triggered, &TMainForm::FileNew);
  Command(FileOpenItem, &QAction::triggered, &TMainForm::FileOpen);
  Command(FileOpenCaptureItem, &QAction::triggered, &TMainForm::FileOpenCapture);
  Command(FileSaveItem, &QAction::triggered, &TMainForm::FileSave);
  Command(FileSaveAsItem, &QAction::triggered, &TMainForm::FileSaveAs);
  Command(FilePrintItem, &QAction::triggered, &TMainForm::FilePrint);
  Command(FilePrintSetupItem, &QAction::triggered, &TMainForm::FilePrintSetup);
  Command(FileExitItem, &QAction::triggered, &TMainForm::FileExit);
  Command(SavetoLogfile1, &QAction::triggered, &TMainForm::SavetoLogfile1Click);
  Command(WindowTileItem, &QAction::triggered, &TMainForm::WindowTile);
  Command(WindowCascadeItem, &QAction::triggered, &TMainForm::WindowCascade);
  Command(WindowArrangeItem, &QAction::triggered, &TMainForm::WindowArrange);
  Command(WindowTrendItem, &QAction::triggered, &TMainForm::WindowTrend);
  Command(WindowBytesItem, &QAction::triggered, &TMainForm::WindowBytes);
  Command(HelpContentsItem, &QAction::triggered, &TMainForm::HelpContents);
  Command(HelpSearchItem, &QAction::triggered, &TMainForm::HelpSearch);
  Command(HelpHowToUseItem, &QAction::triggered, &TMainForm::HelpHowToUse);
  Command(HelpAboutItem, &QAction::triggered, &TMainForm::HelpAbout);
}

TMainForm::~TMainForm() {
  // The worker first: once it is joined nothing else touches the link.
  StopLinkThread();
  HandOff.reset();
  LinkThread.reset();
  // The simulator and bytes windows' timers use the link; they go before it.
  SimulatorForm.reset();
  BytesForm.reset();
  LogFile.CloseLog();
}

int TMainForm::SetMode(int mode) {
  Link->Mode = mode;
  Mode = mode;
  MenuItem_Log->menuAction()->setVisible(mode == 0);
  // Display mode keeps the last bytes read, so that they are there to look
  // at when something went wrong.
  Link->ByteRing.SetEnabled(mode == 0);
  WindowBytesItem->setVisible(mode == 0);
  return 1;
}

void TMainForm::ShowHint(const QString& hint) { StatusLine->showMessage(hint); }

bool TMainForm::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip) {
    ShowHint(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  // The program ends here: stop receiving while the capture file is still open.
  StopLinkThread();
  e->accept();
  emit Closed();
}

void TMainForm::StopLinkThread() {
  if (!LinkThread || LinkThread->Terminated()) return;
  // A frame already received and waiting for its hand-over still gets its
  // capture line; the next pass is a beat away, time enough to stop first.
  LinkThread->RunPendingHandOff();
  LinkThread->Terminate();
  LinkThread->WaitFor();
}

// Port commands ------------------------------------------------------------

void TMainForm::ApplyOpenPattern() {
  Button_Open->setEnabled(false);
  Button_ComConfiguration->setEnabled(false);
  Button_Close->setEnabled(true);
  Button_OpenTruckSimulator->setEnabled(true);
}

void TMainForm::ApplyClosedPattern() {
  Button_Open->setEnabled(true);
  Button_ComConfiguration->setEnabled(true);
  Button_Close->setEnabled(false);
  Button_OpenTruckSimulator->setEnabled(false);
}

void TMainForm::ApplyPortPattern() {
  if (Link->IsOpen)
    ApplyOpenPattern();
  else
    ApplyClosedPattern();
}

QString TMainForm::Detail() const {
  const QString notice = QString::fromStdString(Link->OpenNotice());
  const QString error = Link->LastErrorKind() != TPortError::None
                            ? QString::fromStdString(Link->LastError())
                            : QStringLiteral("COM%1 (%2) could not be opened.")
                                  .arg(Link->PortNumber)
                                  .arg(QString::fromStdString(Link->DevicePath()));
  return notice.isEmpty() ? error : error + QLatin1Char('\n') + notice;
}

void TMainForm::Button_OpenClick() {
  const char* base = SettingsBasePath(Mode);
  Link->LoadConfiguration(base);
  if (!Link->SettingsLoaded) {
    // First use in this mode: the operator chooses the port before anything opens.
    ShowSettingsDialog(*Link, this);
    Link->SaveConfiguration(SettingsBasePath(Mode));
  } else if (!Link->Open()) {
    Messages::Show(this, QStringLiteral("Error"), QStringLiteral("Cannot Open Comport"), Detail());
  } else if (!Link->OpenNotice().empty()) {
    StatusLine->showMessage(QString::fromStdString(Link->OpenNotice()), 15000);
  }
  ApplyPortPattern();
  if (!LinkThread) StartLinkThread();
  SavetoLogfile1->setEnabled(true);
  if (Link->IsOpen) StartLinkFigures();
}

void TMainForm::Button_ComConfigurationClick() {
  Link->LoadConfiguration(SettingsBasePath(Mode));
  if (ShowSettingsDialog(*Link, this) == 1) Link->SaveConfiguration(SettingsBasePath(Mode));
  if (Link->IsOpen) {
    ApplyOpenPattern();
    if (!LinkThread) StartLinkThread();
    SavetoLogfile1->setEnabled(true);
    StartLinkFigures();
  } else {
    ApplyClosedPattern();
  }
}

void TMainForm::Button_CloseClick() {
  Link->Close();
  ApplyClosedPattern();
  SavetoLogfile1->setEnabled(false);
  StopLinkFigures();
}

void TMainForm::Button_SaveConfigurationClick() { Link->SaveConfiguration(SettingsBasePath(Mode)); }

void TMainForm::Button_ExitClick() { close(); }

void TMainForm::StartLinkThread() {
  LinkThread = std::make_unique<TThread_Quorlink>(true);
  LinkThread->Link = Link.get();
  LinkThread->SetReceiveHook(&TMainForm::ReceiveHook, this);
  LinkThread->SetWaitForBytes(true);
  LinkThread->SetPriority(TThread_Quorlink::tpHighest);
  HandOff = std::make_unique<TQtHandOff>(LinkThread.get());
  LinkThread->Resume();
}

// Port state -----------------------------------------------------------------------

namespace {
QString WaitReason(TPortError reason) {
  switch (reason) {
  case TPortError::Busy: return QStringLiteral(" (in use by another program)");
  case TPortError::Permission: return QStringLiteral(" (no permission)");
  case TPortError::Refused: return QStringLiteral(" (the line settings were refused)");
  default: return QString();
  }
}
}  // namespace

// The one place that tells the operator of a lost device and of its return:
// the status line, in place of the link's figures, and the simulator window.
void TMainForm::ShowPortState() {
  const TPortState state = Link->State();
  const bool wasLost = !PortHeadline.isEmpty();
  const QString port = QStringLiteral("COM%1").arg(Link->PortNumber);
  PortDevice = QString::fromStdString(Link->StateDevice());
  if (state == TPortState::Lost)
    PortHeadline = QStringLiteral("%1 lost: waiting for it%2").arg(port, WaitReason(Link->LossReason()));
  else if (state == TPortState::Reopening)
    PortHeadline = QStringLiteral("%1 is back: opening it again").arg(port);
  else
    PortHeadline.clear();

  if (!PortHeadline.isEmpty()) {
    const int colon = PortHeadline.indexOf(QLatin1Char(' '));
    const QString before = PortHeadline.left(colon), after = PortHeadline.mid(colon);
    const QFontMetrics metrics = StatusText_Port->fontMetrics();
    // The window's width is fixed by design, shown or not.
    const int room =
        FormLayout::S(366) - metrics.horizontalAdvance(before + after + QStringLiteral(" ()")) - FormLayout::S(16);
    StatusText_Port->setText(
        QStringLiteral("%1 (%2)%3")
            .arg(before, metrics.elidedText(PortDevice, Qt::ElideMiddle, std::max(room, 0)), after));
    StatusText_Port->setToolTip(QStringLiteral("%1 (%2)%3").arg(before, PortDevice, after));
  }
  StatusText_Port->setVisible(!PortHeadline.isEmpty());
  StatusText_Link->setVisible(PortHeadline.isEmpty());
  if (wasLost && state == TPortState::Open)
    StatusLine->showMessage(QStringLiteral("%1 (%2) is back").arg(port, PortDevice), 10000);
  if (SimulatorForm) SimulatorForm->SetPortState(PortHeadline, PortDevice);
  if (TrendForm && state == TPortState::Lost && !wasLost) TrendForm->AddEvent(ChartValues::PortLost);
}

// Link figures -------------------------------------------------------------------

void TMainForm::StartLinkFigures() {
  if (Mode != 0) return;
  Figures->Restart(TLinkFigures::Clock::now());
  Timer_LinkFigures->start();
  StatusText_Link->setText(LinkStatusText());
  if (SimulatorForm) SimulatorForm->LinkChanged();
}

void TMainForm::StopLinkFigures() {
  Figures->Stop();
  Timer_LinkFigures->stop();
  StatusText_Link->clear();
  if (SimulatorForm) SimulatorForm->LinkChanged();
}

void TMainForm::Timer_LinkFiguresTimer() {
  Figures->Sample(TLinkFigures::Clock::now());
  const QString text = LinkStatusText();
  if (StatusText_Link->text() != text) StatusText_Link->setText(text);
}

// What the status line says of the link: how long it has been quiet, or its
// frame rate; then the receive events by kind since Open Port.
QString TMainForm::LinkStatusText() const {
  const auto now = TLinkFigures::Clock::now();
  const QString state = Figures->Quiet(now)
                            ? QStringLiteral("No frames for %1")
                                  .arg(QString::fromStdString(TLinkFigures::AgeText(Figures->QuietFor(now))))
                            : QStringLiteral("%1 frames/s").arg(Figures->FramesPerSecond(), 0, 'f', 1);
  return QStringLiteral("%1 \u00B7 %2 good \u00B7 %3 CRC \u00B7 %4 length")
      .arg(state)
      .arg(Figures->GoodFrames())
      .arg(Figures->ChecksumErrors())
      .arg(Figures->LengthErrors());
}

void TMainForm::ReceiveHook(void* context, int status) {
  auto* self = static_cast<TMainForm*>(context);
  self->LogFrame(status);
  if (self->SimulatorForm) self->SimulatorForm->LinkChanged();
}

// Launchers ------------------------------------------------------------------

void TMainForm::Button_OpenTruckSimulatorClick() {
  if (!SimulatorForm) {
    SimulatorForm = std::make_unique<TForm_QUORLINK>(nullptr);
    SimulatorForm->Link = Link.get();
    SimulatorForm->Figures = Figures.get();
    SimulatorForm->SetMode(Mode);
    SimulatorForm->SetNumberBytes(Link->DataLength.load());
    SimulatorForm->SetPortState(PortHeadline, PortDevice);
    connect(SimulatorForm.get(), &TForm_QUORLINK::RecordSet, this, [this](const std::uint8_t* record, int length) {
      if (TrendForm) TrendForm->AddRecord(0, length, record);
    });
  }
  SimulatorForm->show();
  SimulatorForm->raise();
  SimulatorForm->activateWindow();
}

void TMainForm::SavetoLogfile1Click() { CreateCaptureWindow()->exec(); }

std::unique_ptr<TForm_QuorlinkCapture> TMainForm::CreateCaptureWindow() {
  auto capture = std::make_unique<TForm_QuorlinkCapture>(*this, this);
  capture->Link = Link.get();
  connect(this, &TMainForm::CaptureStopped, capture.get(), &TForm_QuorlinkCapture::CaptureStopped);
  return capture;
}

// Capture file -----------------------------------------------------------------

bool TMainForm::StartLog(const QString& fileName) {
  if (LogFile.StartLog(QFile::encodeName(fileName).toStdString())) return true;
  // A file that opened but refused its header is of no use; let it go.
  LogFile.CloseLog();
  return false;
}

void TMainForm::CloseLog() { LogFile.CloseLog(); }

bool TMainForm::LogOpen() const { return LogFile.IsOpen(); }

QString TMainForm::LogError() const { return QString::fromStdString(LogFile.LastError()); }

void TMainForm::LogFrame(int status) {
  std::uint8_t record[256];
  std::uint8_t length = 0;
  Link->GetRecord(record, sizeof record, &length);
  if (TrendForm) TrendForm->AddRecord(status, length, record);
  if (!LogFile.LogFrame(status, length, record)) ReportCaptureFailure(LogError());
}

void TMainForm::ReportCaptureFailure(const QString& reason) {
  // Everything written so far stays in the file; no further line is tried.
  const QString file = QString::fromStdString(LogFile.FileName());
  LogFile.CloseLog();
  emit CaptureStopped(reason);
  // Shown after the hand-over has returned, so the worker is not held up while
  // the operator reads it.
  QTimer::singleShot(0, this, [this, file, reason] {
    QWidget* parent = QApplication::activeModalWidget();
    Messages::Show(parent ? parent : this, QStringLiteral("Error"), QStringLiteral("The capture was stopped."),
                   reason.contains(file) ? reason : file + QStringLiteral(": ") + reason);
  });
}

// Menus --------------------------------------------------------------------------

void TMainForm::FileNew() {}

void TMainForm::FileOpen() {
  if (!OpenDialog) {
    OpenDialog = new QFileDialog(this, QStringLiteral("Open"));
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setNameFilter(ConfigurationFilter);
  }
  OpenDialog->exec();
}

void TMainForm::FileOpenCapture() {
  QFileDialog dialog(this, QStringLiteral("Open Capture"));
  dialog.setObjectName(QStringLiteral("OpenCaptureDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("Capture files (*.txt)"), QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  OpenCapture(dialog.selectedFiles().first());
}

CaptureViewer* TMainForm::OpenCapture(const QString& fileName) {
  // A window of its own that ends with the program at the latest.
  auto* viewer = new CaptureViewer(Mode, this);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->Open(fileName);
  viewer->show();
  return viewer;
}

void TMainForm::FileSave() {}

void TMainForm::FileSaveAs() {
  if (!SaveDialog) {
    SaveDialog = new QFileDialog(this, QStringLiteral("Save As"));
    SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
    SaveDialog->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setNameFilter(ConfigurationFilter);
  }
  SaveDialog->exec();
}

void TMainForm::FilePrint() {
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  dialog.exec();
}

void TMainForm::FilePrintSetup() {
  QPrinter printer;
  // The page setup needs a printer of the system; without one there is
  // nothing to set up, and saying so beats a dialog that never comes.
  if (printer.outputFormat() != QPrinter::NativeFormat) {
    Messages::Show(this, QStringLiteral("Print Setup"), QStringLiteral("No printer is installed on this system."));
    return;
  }
  QPageSetupDialog dialog(&printer, this);
  dialog.setObjectName(QStringLiteral("PrintSetupDialog"));
  dialog.exec();
}

void TMainForm::FileExit() { close(); }

// This is not a multi-document window: it has no children to arrange.
void TMainForm::WindowTile() {}
void TMainForm::WindowCascade() {}
void TMainForm::WindowArrange() {}

void TMainForm::WindowTrend() {
  if (!TrendForm) TrendForm = std::make_unique<TrendWindow>(Mode);
  TrendForm->show();
  TrendForm->raise();
  TrendForm->activateWindow();
}

void TMainForm::WindowBytes() {
  if (!BytesForm) {
    BytesForm = std::make_unique<TForm_QuorlinkBytes>(nullptr);
    BytesForm->Link = Link.get();
  }
  BytesForm->show();
  BytesForm->raise();
  BytesForm->activateWindow();
}

THelpWindow& TMainForm::Help() {
  if (!HelpWindow) HelpWindow = new THelpWindow(this);
  return *HelpWindow;
}

void TMainForm::HelpContents() { Help().ShowContents(); }

void TMainForm::HelpSearch() { Help().ShowSearch(); }

void TMainForm::HelpHowToUse() { Help().ShowTopic(QStringLiteral("using-help")); }

void TMainForm::HelpAbout() {
  if (AboutBox) {
    AboutBox->exec();
  } else {
    TAboutBox box(this);
    box.exec();
  }
}
