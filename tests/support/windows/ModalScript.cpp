#include "ModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

namespace {
ModalScript* Current = nullptr;  // the newest script answers; older ones wait
}

ModalScript::ModalScript() : Previous(Current) {
  Current = this;
  Timer.setInterval(25);
  connect(&Timer, &QTimer::timeout, this, &ModalScript::Poll);
  Timer.start();
}

ModalScript::~ModalScript() {
  Timer.stop();
  if (Current == this) Current = Previous;
}

void ModalScript::Poll() {
  if (Current != this) return;
  QWidget* w = QApplication::activeModalWidget();
  if (!w || !w->isVisible() || Busy.value(w) > 0) return;
  if (Steps.empty() || !Steps.front().Matches(w)) {
    Unexpected.append(
        QStringLiteral("%1 \"%2\" (expected %3)")
            .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle(),
                 Steps.empty() ? QStringLiteral("nothing") : QString::fromLatin1(Steps.front().Expected)));
    if (auto* d = qobject_cast<QDialog*>(w))
      d->reject();
    else
      w->close();
    return;
  }
  Step step = std::move(Steps.front());
  Steps.pop_front();
  ++Busy[w];
  ++Running;
  QPointer<QWidget> guard(w);
  QTimer::singleShot(0, this, [this, step, guard, w] {
    if (guard) step.Act(w);
    if (--Busy[w] <= 0) Busy.remove(w);
    --Running;
  });
}

ModalScript& ModalScript::Message(SeenMessage* seen, QMessageBox::StandardButton press) {
  return On<QMessageBox>([seen, press](QMessageBox* box) {
    seen->Caption = box->windowTitle();
    seen->Text = box->text();
    seen->Detail = box->informativeText();
    seen->Icon = box->icon();
    seen->ButtonCount = static_cast<int>(box->buttons().size());
    seen->Seen = true;
    if (QAbstractButton* b = box->button(press))
      Click(b);
    else
      box->reject();
  });
}

ModalScript& ModalScript::ChooseFile(const QString& name, QStringList* filters, QString* offered) {
  return On<QFileDialog>([name, filters, offered](QFileDialog* dialog) {
    if (filters) *filters = dialog->nameFilters();
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (offered && edit) *offered = edit->text();
    if (edit) {
      edit->selectAll();
      QTest::keyClicks(edit, name);
      QTest::keyClick(edit, Qt::Key_Return);
    } else {
      dialog->selectFile(name);
      QMetaObject::invokeMethod(dialog, "accept");
    }
  });
}

ModalScript& ModalScript::Cancel(const char* className) {
  Steps.push_back(Step{[className](QWidget* w) { return w->inherits(className); },
                       [](QWidget* w) {
                         if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
                       },
                       className});
  return *this;
}

void Click(QAbstractButton* button) {
  // Radio buttons and check boxes take clicks on their mark and caption only.
  const bool marked = button->inherits("QRadioButton") || button->inherits("QCheckBox");
  const QPoint at = marked ? QPoint(qMin(8, button->width() / 2), button->height() / 2) : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}
