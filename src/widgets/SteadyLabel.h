#pragma once
// SteadyLabel is a label whose size does not follow its text, for a text that
// changes every second: a new text repaints the label alone, where a plain
// label measures the text again and has its parents laid out again.

#include <QLabel>
#include <QStringList>

class SteadyLabel : public QLabel {
public:
  explicit SteadyLabel(QWidget* parent = nullptr);

  // Fixes its size to that of the longest of these texts, in its font and
  // margins as they are now. Without it, the label asks for one line's height,
  // takes the width its layout gives it when first shown, and keeps that size.
  void FitLongest(const QStringList& texts);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  QSize Fitted;
};
