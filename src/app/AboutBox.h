#pragma once
// TAboutBox names the program and its version; created hidden at start-up and
// shown modally from Help > About...

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* VersionNumber;
  QLabel* Copyright;
  QLabel* Comments;
  QPushButton* OKButton;
};

extern TAboutBox* AboutBox;
