#include "simulator/window/SpinEdit.h"

#include <QLineEdit>

SpinEdit::SpinEdit(QWidget* parent) : QSpinBox(parent) {}

void SpinEdit::setHexadecimal(bool on) { setDisplayIntegerBase(on ? 16 : 10); }

void SpinEdit::setTypingEnabled(bool on) { lineEdit()->setReadOnly(!on); }

bool SpinEdit::isTypingEnabled() const { return !lineEdit()->isReadOnly(); }

QString SpinEdit::textFromValue(int value) const { return QString::number(value, displayIntegerBase()).toUpper(); }

QValidator::State SpinEdit::validate(QString& input, int& pos) const {
  if (isHexadecimal()) input = input.toUpper();
  return QSpinBox::validate(input, pos);
}
