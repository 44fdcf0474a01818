#pragma once
// TMainForm is the operator's control panel and the owner of the shared state:
// the one link object, the worker thread that drives it and the capture file.
// From here the operator opens, configures, closes and saves the port for the
// mode chosen at start-up, and opens the simulator and capture windows.

#include "capture/CaptureWriter.h"
#include "capture/window/QuorlinkCapture.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <memory>

class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSocketNotifier;
class QStatusBar;
class QTimer;
class QToolButton;
class CaptureViewer;
class TForm_QUORLINK;
class TForm_QuorlinkBytes;
class TLinkFigures;
class TQUORLINK;
class TQtHandOff;
class TThread_Quorlink;
class THelpWindow;
class TrendWindow;

class TMainForm : public QMainWindow, public TCaptureLog {
  Q_OBJECT
public:
  explicit TMainForm(QWidget* parent = nullptr);
  // Stops and joins the worker thread, then closes the capture file and the port.
  ~TMainForm() override;

  int SetMode(int mode);

  // Capture file (display mode). StartLog returns false when the file cannot be
  // opened or its header not written; LogError then says why.
  bool StartLog(const QString& fileName) override;
  void CloseLog() override;
  void LogFrame(int status);
  bool LogOpen() const;
  QString LogError() const override;
  // A capture window on this window's capture file and link, told when the
  // capture stops by itself; Log > Save to Logfile shows one modally.
  std::unique_ptr<TForm_QuorlinkCapture> CreateCaptureWindow();

  // Read-only views for the windows this one launches and for tests.
  TQUORLINK* GetLink() const { return Link.get(); }
  TThread_Quorlink* GetLinkThread() const { return LinkThread.get(); }
  TForm_QUORLINK* GetSimulatorForm() const { return SimulatorForm.get(); }
  TrendWindow* GetTrendWindow() const { return TrendForm.get(); }
  TForm_QuorlinkBytes* GetBytesForm() const { return BytesForm.get(); }
  TLinkFigures& GetLinkFigures() const { return *Figures; }
  int GetMode() const { return Mode; }

  QStatusBar* StatusLine;
  // In the status line while the port's device is lost or being opened again,
  // in place of the link's figures: "COM1 (/dev/ttyUSB0) lost: waiting for it".
  QLabel* StatusText_Port;
  // In the status line where hints don't stay: in display mode, while the
  // port is open, the link's figures or how long it has been quiet.
  QLabel* StatusText_Link;
  QTimer* Timer_LinkFigures;  // once a second while the figures run
  QFrame* SpeedBar;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;
  QToolButton* SpeedButton3;
  QPushButton* Button_OpenTruckSimulator;
  QPushButton* Button_Exit;
  QPushButton* Button_Open;
  QPushButton* Button_ComConfiguration;
  QPushButton* Button_Close;
  QPushButton* Button_SaveConfiguration;

  QMenu* FileMenu;
  QMenu* MenuItem_Log;
  QMenu* WindowMenu;
  QMenu* HelpMenu;
  QAction* FileNewItem;
  QAction* FileOpenItem;
  QAction* FileOpenCaptureItem;
  QAction* FileSaveItem;
  QAction* FileSaveAsItem;
  QAction* FilePrintItem;
  QAction* FilePrintSetupItem;
  QAction* FileExitItem;
  QAction* SavetoLogfile1;
  QAction* ReadFromLogfile1;
  QAction* WindowTileItem;
  QAction* WindowCascadeItem;
  QAction* WindowArrangeItem;
  QAction* WindowTrendItem;
  QAction* WindowBytesItem;
  QAction* HelpContentsItem;
  QAction* HelpSearchItem;
  QAction* HelpHowToUseItem;
  QAction* HelpAboutItem;

  // File dialogs, created on first use; the chosen names are not used.
  QFileDialog* OpenDialog = nullptr;
  QFileDialog* SaveDialog = nullptr;

  void ShowHint(const QString& hint);

  void Button_OpenClick();
  void Button_ComConfigurationClick();
  void Button_CloseClick();
  void Button_SaveConfigurationClick();
  void Button_ExitClick();
  void Button_OpenTruckSimulatorClick();
  void SavetoLogfile1Click();

  void FileNew();
  void FileOpen();
  void FileOpenCapture();
  // A new capture viewer on the file, shown; it goes when closed.
  CaptureViewer* OpenCapture(const QString& fileName);
  void FileSave();
  void FileSaveAs();
  void FilePrint();
  void FilePrintSetup();
  void FileExit();
  void WindowTile();
  void WindowCascade();
  void WindowArrange();
  void WindowTrend();
  void WindowBytes();
  void Timer_LinkFiguresTimer();
  void HelpContents();
  void HelpSearch();
  void HelpHowToUse();
  void HelpAbout();

signals:
  // The capture stopped by itself because a line could not be written; the
  // file is closed and holds every line written before.
  void CaptureStopped(const QString& reason);
  // The window was closed: the program ends.
  void Closed();

protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  // Connects a control's signal to a command handler run through RunCommand.
  template <class Sender, class Signal>
  void Command(Sender* sender, Signal signal, void (TMainForm::*handler)());
  void CreateMenus();
  void CreateClientArea();
  void CreateStatusLine();
  void ConnectCommands();
  void ApplyOpenPattern();
  void ApplyClosedPattern();
  void ApplyPortPattern();
  void ShowPortState();
  void StartLinkFigures();
  void StopLinkFigures();
  QString LinkStatusText() const;
  void StartLinkThread();
  void StopLinkThread();
  void ReportCaptureFailure(const QString& reason);
  QString Detail() const;
  static void ReceiveHook(void* context, int status);
  THelpWindow& Help();  // the help window, made on first use

  // The one link, made with the window and never null; what uses it goes
  // first, in the order ~TMainForm spells out.
  const std::unique_ptr<TQUORLINK> Link;
  const std::unique_ptr<TLinkFigures> Figures;  // of Link, since Open Port
  int Mode = 0;
  TCaptureWriter LogFile;
  std::unique_ptr<TThread_Quorlink> LinkThread;    // from the first Open Port on; never stopped before the end
  std::unique_ptr<TQtHandOff> HandOff;             // runs LinkThread's hand-overs here
  std::unique_ptr<TForm_QUORLINK> SimulatorForm;   // a window of its own, hidden rather than closed
  std::unique_ptr<TrendWindow> TrendForm;          // the same, from the first Window > Live Trend on
  std::unique_ptr<TForm_QuorlinkBytes> BytesForm;  // the same, made on first use

  THelpWindow* HelpWindow = nullptr;  // a child: Qt deletes it

  QSocketNotifier* PortWatch;  // the link's state changes
  QString PortHeadline;        // what the simulator window shows of the port; empty while all is well
  QString PortDevice;
};

// The program's main window while RunProgram runs it; null otherwise.
extern TMainForm* MainForm;
