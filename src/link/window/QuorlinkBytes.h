#pragma once
// TForm_QuorlinkBytes is the Bytes window of display mode: the last bytes the
// receiver read, as a hex dump with frame starts marked and bad frames shaded
// and named. It reads the link's byte ring on its own timer while shown and
// not paused; the worker thread never waits for it.

#include "link/RxByteRing.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;
class TQUORLINK;
class TRxBytesView;

class TForm_QuorlinkBytes : public QWidget {
  Q_OBJECT
public:
  explicit TForm_QuorlinkBytes(QWidget* parent = nullptr);
  ~TForm_QuorlinkBytes() override;

  TQUORLINK* Link = nullptr;  // not owned; set before the window is shown

  // Reads what the ring holds beyond what is shown (the timer's work).
  void Timer_BytesTimer();
  void Button_PauseClick();
  void Button_CopyClick();  // the selected rows, or all, to the clipboard
  bool Paused() const;

  TRxBytesView* View;
  QPushButton* Button_Pause;
  QPushButton* Button_Copy;
  QPushButton* Button_Close;
  QLabel* Label_Count;
  QTimer* Timer_Bytes;

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  void UpdateTimer();
  // Room for a whole ring's worth, so one read never allocates more.
  std::unique_ptr<TRxByteRing::TEntry[]> Buffer;
};
