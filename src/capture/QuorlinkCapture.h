#pragma once
// TForm_QuorlinkCapture lets the operator choose a capture file, start and stop
// the capture, and watch the good frames go by. It writes nothing itself: the
// main window's StartLog and CloseLog do, and every way out closes the file.

#include <QDialog>

class QFileDialog;
class QProgressBar;
class QPushButton;
class QTimer;
class TQUORLINK;

class TForm_QuorlinkCapture : public QDialog {
  Q_OBJECT
public:
  explicit TForm_QuorlinkCapture(QWidget* parent = nullptr);

  TQUORLINK* Link = nullptr;  // not owned; set before the window is shown

  bool Capturing() const;

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
};
