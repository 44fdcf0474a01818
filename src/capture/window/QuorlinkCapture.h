#pragma once
// TForm_QuorlinkCapture lets the operator choose a capture file, start and stop
// the capture, and watch the good frames go by. It writes nothing itself: the
// capture file's owner does, through TCaptureLog, and every way out closes the
// file.

#include <QDialog>
#include <QString>

class QFileDialog;
class QProgressBar;
class QPushButton;
class QTimer;
class TQUORLINK;

// What the capture window needs of the owner of the capture file.
class TCaptureLog {
public:
  // False when the file cannot be opened or its header not written; LogError
  // then says why, and no capture is running.
  virtual bool StartLog(const QString& fileName) = 0;
  virtual void CloseLog() = 0;
  virtual QString LogError() const = 0;

protected:
  ~TCaptureLog() = default;
};

class TForm_QuorlinkCapture : public QDialog {
  Q_OBJECT
public:
  // log must outlive the window.
  explicit TForm_QuorlinkCapture(TCaptureLog& log, QWidget* parent = nullptr);

  TQUORLINK* Link = nullptr;  // not owned; set before the window is shown

  bool Capturing() const;
  // The owner's word that the capture stopped by itself (a line could not be
  // written, the file is closed): the window is ready for a new one.
  void CaptureStopped();

  void Button_StartClick();
  void Button_StopClick();
  void Button_DoneClick();
  void Timer1Timer();
  void FormClose();

  QPushButton* Button_Start;
  QPushButton* Button_Stop;
  QPushButton* Button_Done;
  QFileDialog* SaveDialog1;
  QProgressBar* ProgressBar_DataIn;
  QTimer* Timer1;

public slots:
  void done(int result) override;  // every way out closes the capture file

private:
  void EnterReady();
  void EnterCapturing();

  TCaptureLog& Log;
};
