#pragma once
// The spin edits of the simulator window: an integer value that can be shown
// and typed in upper-case hexadecimal, or changed only by stepping (the arrows,
// the arrow keys, or PageUp/PageDown for ten steps).

#include <QSpinBox>

class SpinEdit : public QSpinBox {
  Q_OBJECT
public:
  explicit SpinEdit(QWidget* parent = nullptr);

  void setHexadecimal(bool on);
  bool isHexadecimal() const { return displayIntegerBase() == 16; }
  // With typing off the text part is read-only; stepping still works.
  void setTypingEnabled(bool on);
  bool isTypingEnabled() const;

protected:
  QString textFromValue(int value) const override;
  // Hexadecimal text is upper case, also while it is typed.
  QValidator::State validate(QString& input, int& pos) const override;
};
