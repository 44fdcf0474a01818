#pragma once
// The windows are laid out in design pixels: the places and sizes drawn for an
// 8-point UI font at 96 dpi. On a desktop whose font is wider, everything is
// scaled by one factor so that no caption is clipped and the arrangement stays.

#include <QFont>
#include <QRect>
#include <QSize>

namespace FormLayout {

// Design pixels to logical pixels; 1.0 when the UI font fits the design.
double Scale();
// Overrides the factor (tests and screenshots); 0 returns to the computed one.
void SetScale(double scale);

inline int S(int designPixels) { return static_cast<int>(designPixels * Scale() + 0.5); }
inline QRect R(int x, int y, int w, int h) { return QRect(S(x), S(y), S(w), S(h)); }
inline QSize Size(int w, int h) { return QSize(S(w), S(h)); }
// A font of the given design pixel height, scaled like the layout.
QFont PixelFont(int designPixels, bool bold = false);

}  // namespace FormLayout
