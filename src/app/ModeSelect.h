#pragma once
// TForm_ModeSelect asks, before any other window exists, whether this run plays
// the truck (source mode, 1) or listens to one (display mode, 0).

#include <QDialog>

class QGroupBox;
class QPushButton;
class QRadioButton;

class TForm_ModeSelect : public QDialog {
  Q_OBJECT
public:
  explicit TForm_ModeSelect(QWidget* parent = nullptr);

  // The mode chosen with "Ok": 1 source, 0 display; 0 until then.
  int GetMode() const { return Mode; }

  QGroupBox* GroupBox1;
  QRadioButton* RadioButton_Source;
  QRadioButton* RadioButton_QuorlinkDisplay;
  QPushButton* Button_Ok;
  QPushButton* Button_Cancel;

  void Button_OkClick();
  void Button_CancelClick();

private:
  int Mode = 0;
};

extern TForm_ModeSelect* Form_ModeSelect;
