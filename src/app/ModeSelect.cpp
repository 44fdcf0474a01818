#include "app/ModeSelect.h"

#include "widgets/FormLayout.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

using FormLayout::R;

TForm_ModeSelect* Form_ModeSelect = nullptr;

TForm_ModeSelect::TForm_ModeSelect(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form_ModeSelect"));
  setWindowTitle(QStringLiteral("Quorlink Simulator Mode Select"));
  setFixedSize(FormLayout::Size(272, 129));
  move(FormLayout::S(240), FormLayout::S(132));

  GroupBox1 = new QGroupBox(QStringLiteral("Mode:"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(R(32, 16, 209, 73));

  RadioButton_Source = new QRadioButton(QStringLiteral("Quorlink Data Source"), GroupBox1);
  RadioButton_Source->setObjectName(QStringLiteral("RadioButton_Source"));
  RadioButton_Source->setGeometry(R(32, 24, 121, 17));

  RadioButton_QuorlinkDisplay = new QRadioButton(QStringLiteral("Quorlink Data Display"), GroupBox1);
  RadioButton_QuorlinkDisplay->setObjectName(QStringLiteral("RadioButton_QuorlinkDisplay"));
  RadioButton_QuorlinkDisplay->setGeometry(R(32, 40, 121, 17));
  RadioButton_QuorlinkDisplay->setChecked(true);

  Button_Ok = new QPushButton(QStringLiteral("Ok"), this);
  Button_Ok->setObjectName(QStringLiteral("Button_Ok"));
  Button_Ok->setGeometry(R(48, 96, 75, 25));
  Button_Ok->setDefault(true);

  Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
  Button_Cancel->setObjectName(QStringLiteral("Button_Cancel"));
  Button_Cancel->setGeometry(R(152, 96, 75, 25));

  connect(Button_Ok, &QPushButton::clicked, this, &TForm_ModeSelect::Button_OkClick);
  connect(Button_Cancel, &QPushButton::clicked, this, &TForm_ModeSelect::Button_CancelClick);
}

void TForm_ModeSelect::Button_OkClick() {
  Mode = RadioButton_Source->isChecked() ? 1 : 0;
  done(QDialog::Accepted);  // modal result OK (1)
}

void TForm_ModeSelect::Button_CancelClick() { done(2); }
