#pragma once
// Value logic of TVrSlider, free of any widget: where the thumb sits for a
// value, and which value a thumb position stands for.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

enum TVrOrientation { voVertical, voHorizontal };
enum TVrSliderStyle { ssBottomLeft, ssTopRight };

namespace VrSliderGeometry {

// Nearest integer, halves to the even neighbour. Written out rather than
// std::nearbyint so the result never depends on the FPU rounding mode.
inline double RoundHalfEven(double x) {
  const double lower = std::floor(x);
  const double diff = x - lower;
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1.0;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

inline int ClampToInt(double x) {
  if (!(x > double(std::numeric_limits<int>::min()))) return std::numeric_limits<int>::min();
  if (!(x < double(std::numeric_limits<int>::max()))) return std::numeric_limits<int>::max();
  return int(x);
}

// A rectangle in the Windows sense: Right and Bottom lie just outside.
struct Bounds {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

// Everything the mappings depend on. Thumb sizes are those of one cell.
struct Travel {
  int ClientWidth = 36;
  int ClientHeight = 171;
  int BorderWidth = 1;
  int ThumbIndent = 2;
  int ThumbWidth = 30;
  int ThumbHeight = 13;
  int MinValue = 0;
  int MaxValue = 100;
  TVrOrientation Orientation = voVertical;
  TVrSliderStyle Style = ssBottomLeft;

  bool Vertical() const { return Orientation == voVertical; }

  // The client rectangle shrunk by BorderWidth + ThumbIndent on every side.
  Bounds SliderRect() const {
    const int inset = BorderWidth + ThumbIndent;
    return {inset, inset, ClientWidth - inset, ClientHeight - inset};
  }
  int Origin() const {
    const Bounds r = SliderRect();
    return std::max(Vertical() ? r.Top : r.Left, 0);
  }
  int Length() const {
    const Bounds r = SliderRect();
    return Vertical() ? r.Height() - ThumbHeight : r.Width() - ThumbWidth;
  }
  std::int64_t Range() const { return std::int64_t(MaxValue) - MinValue; }

  // With no range or no room to move, the thumb rests at the minimum end
  // and every thumb position stands for MinValue.
  bool Degenerate() const { return Range() == 0 || Length() <= 0; }

  // Leading edge of the thumb (top, or left) for value v.
  int ValueToEdge(int v) const {
    double b = Origin();
    if (!Degenerate()) {
      const double part = (double(v) - double(MinValue)) / double(Range());
      b += RoundHalfEven(double(Length()) * part);
    }
    const Bounds r = SliderRect();
    const int base = ClampToInt(b);
    if (Vertical() && Style == ssBottomLeft) return r.Top + r.Bottom - base - ThumbHeight;
    if (!Vertical() && Style == ssTopRight) return r.Left + r.Right - base - ThumbWidth;
    return base;
  }

  // Value for a leading edge o, before the ssTopRight reversal.
  int EdgeToValue(int o) const {
    if (Degenerate()) return MinValue;
    const double offset = Vertical() ? double(ClientHeight) - o - ThumbHeight : double(o);
    double v = RoundHalfEven((offset - Origin()) * double(Range()) / double(Length()));
    v = std::max(v, 0.0) + MinValue;
    v = std::min(v, double(MaxValue));
    return ClampToInt(v);
  }

  // The value a drag or a track click to leading edge o sets.
  int MoveThumbValue(int o) const {
    if (Degenerate()) return MinValue;
    const int first = Origin();
    const int last = first + Length();
    const int v = EdgeToValue(std::clamp(o, first, last));
    if (Style == ssTopRight) return int(std::int64_t(MaxValue) + MinValue - v);
    return v;
  }

  // The thumb's offset across the travel, which centres it.
  int ThumbAcross() const { return Vertical() ? (ClientWidth - ThumbWidth) / 2 : (ClientHeight - ThumbHeight) / 2; }
};

}  // namespace VrSliderGeometry
