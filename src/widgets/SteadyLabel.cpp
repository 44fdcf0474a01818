#include "widgets/SteadyLabel.h"

SteadyLabel::SteadyLabel(QWidget* parent) : QLabel(parent) {}

void SteadyLabel::FitLongest(const QStringList& texts) {
  const QString shown = text();
  Fitted = QSize();
  QSize longest;
  for (const QString& t : texts) {
    setText(t);
    longest = longest.expandedTo(QLabel::sizeHint());
  }
  setText(shown);
  Fitted = longest;
  setFixedSize(Fitted);
}

QSize SteadyLabel::sizeHint() const {
  if (Fitted.isValid()) return Fitted;
  const QRect inside = contentsRect();
  return {width() - inside.width(), fontMetrics().height() + height() - inside.height()};
}

QSize SteadyLabel::minimumSizeHint() const { return sizeHint(); }

void SteadyLabel::showEvent(QShowEvent* event) {
  QLabel::showEvent(event);
  // Laid out by now. Only a fixed size spares the parents: any other has them
  // laid out again at every new text.
  if (!Fitted.isValid() && !size().isEmpty()) {
    Fitted = size();
    setFixedSize(Fitted);
  }
}
