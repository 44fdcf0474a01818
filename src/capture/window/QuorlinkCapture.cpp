#include "capture/window/QuorlinkCapture.h"

#include "link/Quorlink.h"
#include "widgets/FormLayout.h"
#include "widgets/Messages.h"

#include <QFileDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using FormLayout::R;

TForm_QuorlinkCapture::TForm_QuorlinkCapture(TCaptureLog& log, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      Log(log) {
  setObjectName(QStringLiteral("Form_QuorlinkCapture"));
  setWindowTitle(QStringLiteral("Quorlink Capture"));
  setFixedSize(FormLayout::Size(222, 147));
  move(FormLayout::S(327), FormLayout::S(197));

  auto button = [this](const char* name, const QString& caption, const QRect& geometry) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
  };
  Button_Start = button("Button_Start", QStringLiteral("Start"), R(75, 19, 75, 25));
  Button_Stop = button("Button_Stop", QStringLiteral("Stop"), R(77, 63, 75, 25));
  Button_Stop->setEnabled(false);
  Button_Done = button("Button_Done", QStringLiteral("Done"), R(76, 104, 75, 25));

  SaveDialog1 = new QFileDialog(this, QStringLiteral("Save Capture As"));
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
  SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
  SaveDialog1->setNameFilter(QStringLiteral("Text Files (*.txt)"));
  SaveDialog1->selectFile(QStringLiteral("Quorlink_Capture.txt"));

  ProgressBar_DataIn = new QProgressBar(this);
  ProgressBar_DataIn->setObjectName(QStringLiteral("ProgressBar_DataIn"));
  ProgressBar_DataIn->setOrientation(Qt::Vertical);
  ProgressBar_DataIn->setGeometry(R(183, 21, 16, 110));
  ProgressBar_DataIn->setRange(0, 100);
  ProgressBar_DataIn->setValue(0);
  ProgressBar_DataIn->setTextVisible(false);
  ProgressBar_DataIn->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);

  connect(Button_Start, &QPushButton::clicked, this, &TForm_QuorlinkCapture::Button_StartClick);
  connect(Button_Stop, &QPushButton::clicked, this, &TForm_QuorlinkCapture::Button_StopClick);
  connect(Button_Done, &QPushButton::clicked, this, &TForm_QuorlinkCapture::Button_DoneClick);
  connect(Timer1, &QTimer::timeout, this, &TForm_QuorlinkCapture::Timer1Timer);
}

bool TForm_QuorlinkCapture::Capturing() const { return Button_Stop->isEnabled(); }

void TForm_QuorlinkCapture::CaptureStopped() {
  if (Capturing()) EnterReady();
}

void TForm_QuorlinkCapture::EnterReady() {
  Button_Start->setEnabled(true);
  Button_Stop->setEnabled(false);
  Timer1->stop();
  ProgressBar_DataIn->hide();
}

void TForm_QuorlinkCapture::EnterCapturing() {
  Button_Start->setEnabled(false);
  Button_Stop->setEnabled(true);
  Timer1->start();
  ProgressBar_DataIn->show();
}

void TForm_QuorlinkCapture::Button_StartClick() {
  if (SaveDialog1->exec() != QDialog::Accepted) return;
  const QString fileName = SaveDialog1->selectedFiles().value(0);
  if (!Log.StartLog(fileName)) {
    Messages::Show(this, QStringLiteral("Error"), QStringLiteral("The capture could not be started."), Log.LogError());
    return;  // stays ready for another try
  }
  EnterCapturing();
}

void TForm_QuorlinkCapture::Button_StopClick() {
  EnterReady();
  Log.CloseLog();
}

void TForm_QuorlinkCapture::Button_DoneClick() {
  Log.CloseLog();
  done(2);
}

void TForm_QuorlinkCapture::Timer1Timer() {
  if (Link) ProgressBar_DataIn->setValue(static_cast<int>(Link->GoodFrameCount % 100));
}

void TForm_QuorlinkCapture::FormClose() {
  Timer1->stop();
  Log.CloseLog();
}

void TForm_QuorlinkCapture::done(int result) {
  FormClose();
  QDialog::done(result == QDialog::Accepted ? result : 2);
}
