#include "widgets/FormLayout.h"

#include <QApplication>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace FormLayout {
namespace {
double Override = 0.0;

double Computed() {
  // The design gives "Open Truck Simulator" 103 pixels and a line 14: the
  // widest captions fit their buttons while the UI font needs no more.
  const QFontMetrics fm(QApplication::font());
  const double byWidth = fm.horizontalAdvance(QStringLiteral("Open Truck Simulator")) / 103.0;
  const double byHeight = fm.height() / 14.0;
  const double s = std::max({1.0, byWidth, byHeight});
  return std::ceil(s * 8.0) / 8.0;  // whole eighths keep 1-pixel lines sharp more often
}
}  // namespace

double Scale() {
  if (Override > 0.0) return Override;
  static const double computed = Computed();
  return computed;
}

void SetScale(double scale) { Override = scale; }

QFont PixelFont(int designPixels, bool bold) {
  QFont f = QApplication::font();
  f.setPixelSize(S(designPixels));
  f.setBold(bold);
  return f;
}

}  // namespace FormLayout
