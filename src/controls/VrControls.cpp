#include "VrControls.h"

#include <QApplication>
#include <QEnterEvent>
#include <QPaintEvent>
#include <QPalette>
#include <algorithm>
#include <cmath>

QColor ColorToQColor(TColor c, const QWidget* w) {
  if ((c & clSystemColor) == 0) return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));

  // Always the active group: a disabled control keeps its frames and LED colours.
  const QPalette pal = w ? w->palette() : QApplication::palette();
  auto role = [&pal](QPalette::ColorRole r) { return pal.color(QPalette::Active, r); };
  switch (c & 0xFF) {
  case 0:   // scroll bar
  case 4:   // menu
  case 10:  // active border
  case 11:  // inactive border
  case 15:  // button face
    return role(QPalette::Button);
  case 1:   // desktop
  case 12:  // application workspace
    return role(QPalette::Window);
  case 2:   // active caption
  case 13:  // highlight
    return role(QPalette::Highlight);
  case 3:   // inactive caption
  case 16:  // button shadow
    return role(QPalette::Dark);
  case 5:  // window
    return role(QPalette::Base);
  case 6:   // window frame
  case 21:  // 3-D dark shadow
    return role(QPalette::Shadow);
  case 7:  // menu text
  case 8:  // window text
    return role(QPalette::WindowText);
  case 9:   // caption text
  case 14:  // highlighted text
    return role(QPalette::HighlightedText);
  case 17:  // grey text
    return pal.color(QPalette::Disabled, QPalette::Text);
  case 18:  // button text
    return role(QPalette::ButtonText);
  case 19:  // inactive caption text
    return pal.color(QPalette::Inactive, QPalette::WindowText);
  case 20:  // button highlight
    return role(QPalette::Light);
  case 22:  // 3-D light
    return role(QPalette::Midlight);
  case 23:  // tool tip text
    return role(QPalette::ToolTipText);
  case 24:  // tool tip background
    return role(QPalette::ToolTipBase);
  default: return role(QPalette::Button);
  }
}

TColor QColorToColor(const QColor& c) {
  const QRgb rgb = c.rgb();
  return TColor(qRed(rgb)) | (TColor(qGreen(rgb)) << 8) | (TColor(qBlue(rgb)) << 16);
}

void DrawFrame3D(QPainter& canvas, QRect& rect, QColor topColor, QColor bottomColor, int width) {
  for (int i = 0; i < width; ++i) {
    if (rect.width() > 0 && rect.height() > 0) {
      const int l = rect.left(), t = rect.top(), w = rect.width(), h = rect.height();
      // The top colour owns the left column and top row up to the last pixel;
      // the bottom colour owns the right column and bottom row whole.
      canvas.fillRect(QRect(l, t, 1, h - 1), topColor);
      canvas.fillRect(QRect(l, t, w - 1, 1), topColor);
      canvas.fillRect(QRect(l + w - 1, t, 1, h), bottomColor);
      canvas.fillRect(QRect(l, t + h - 1, w, 1), bottomColor);
    }
    rect.adjust(1, 1, -1, -1);
  }
}

QImage CreateDitherPattern(QColor first, QColor second) {
  QImage image(8, 8, QImage::Format_RGB32);
  const QRgb a = first.rgb(), b = second.rgb();
  for (int y = 0; y < 8; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < 8; ++x) line[x] = ((x + y) % 2 == 0) ? a : b;
  }
  return image;
}

// ---------------------------------------------------------------------------

TVrPersistent::TVrPersistent(QObject* parent) : QObject(parent) {}

void TVrPersistent::BeginUpdate() { ++FUpdateCount; }

void TVrPersistent::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TVrPersistent::Changed() {
  if (FUpdateCount == 0) emit OnChange(this);
}

// ---------------------------------------------------------------------------

TVrPalette::TVrPalette(QObject* parent) : TVrPersistent(parent) {}

void TVrPalette::SetLow(TColor value) {
  if (FLow == value) return;
  FLow = value;
  Changed();
}

void TVrPalette::SetHigh(TColor value) {
  if (FHigh == value) return;
  FHigh = value;
  Changed();
}

TColor TVrPalette::GetColors(int index) const { return index <= 0 ? FLow : FHigh; }

void TVrPalette::Assign(const TVrPalette& source) {
  BeginUpdate();
  SetLow(source.Low());
  SetHigh(source.High());
  EndUpdate();
}

// ---------------------------------------------------------------------------

TVrBevel::TVrBevel(QObject* parent) : TVrPersistent(parent) {}

template <typename T>
void TVrBevel::Store(T& field, T value) {
  if (field == value) return;
  field = value;
  Changed();
}

void TVrBevel::SetBorderWidth(int value) { Store(FBorderWidth, value); }
void TVrBevel::SetBorderColor(TColor value) { Store(FBorderColor, value); }
void TVrBevel::SetInnerShadow(TColor value) { Store(FInnerShadow, value); }
void TVrBevel::SetInnerHighlight(TColor value) { Store(FInnerHighlight, value); }
void TVrBevel::SetInnerWidth(int value) { Store(FInnerWidth, value); }
void TVrBevel::SetInnerStyle(TVrBevelStyle value) { Store(FInnerStyle, value); }
void TVrBevel::SetInnerOutline(TVrBevelOutlineStyle value) { Store(FInnerOutline, value); }
void TVrBevel::SetInnerSpace(int value) { Store(FInnerSpace, value); }
void TVrBevel::SetInnerColor(TColor value) { Store(FInnerColor, value); }
void TVrBevel::SetOuterShadow(TColor value) { Store(FOuterShadow, value); }
void TVrBevel::SetOuterHighlight(TColor value) { Store(FOuterHighlight, value); }
void TVrBevel::SetOuterWidth(int value) { Store(FOuterWidth, value); }
void TVrBevel::SetOuterStyle(TVrBevelStyle value) { Store(FOuterStyle, value); }
void TVrBevel::SetOuterOutline(TVrBevelOutlineStyle value) { Store(FOuterOutline, value); }
void TVrBevel::SetOuterSpace(int value) { Store(FOuterSpace, value); }
void TVrBevel::SetOuterColor(TColor value) { Store(FOuterColor, value); }
void TVrBevel::SetVisible(bool value) { Store(FVisible, value); }

void TVrBevel::Assign(const TVrBevel& source) {
  BeginUpdate();
  if (&source != this) {
    SetBorderWidth(source.BorderWidth());
    SetBorderColor(source.BorderColor());
    SetInnerShadow(source.InnerShadow());
    SetInnerHighlight(source.InnerHighlight());
    SetInnerWidth(source.InnerWidth());
    SetInnerStyle(source.InnerStyle());
    SetInnerOutline(source.InnerOutline());
    SetInnerSpace(source.InnerSpace());
    SetInnerColor(source.InnerColor());
    SetOuterShadow(source.OuterShadow());
    SetOuterHighlight(source.OuterHighlight());
    SetOuterWidth(source.OuterWidth());
    SetOuterStyle(source.OuterStyle());
    SetOuterOutline(source.OuterOutline());
    SetOuterSpace(source.OuterSpace());
    SetOuterColor(source.OuterColor());
    SetVisible(source.Visible());
  }
  EndUpdate();
}

// The setters take any value; a negative width or space is drawn as none, and
// counted as none, so TotalWidth always equals what Paint takes.
int TVrBevel::TotalWidth() const {
  if (!FVisible) return 0;
  int total = std::max(FBorderWidth, 0) + std::max(FOuterSpace, 0) + std::max(FInnerSpace, 0);
  if (FOuterOutline != osNone) ++total;
  if (FInnerOutline != osNone) ++total;
  if (FOuterStyle != bsNone) total += std::max(FOuterWidth, 0);
  if (FInnerStyle != bsNone) total += std::max(FInnerWidth, 0);
  return total;
}

void TVrBevel::GetVisibleArea(QRect& rect) const {
  const int t = TotalWidth();
  rect.adjust(t, t, -t, -t);
}

void TVrBevel::Paint(QPainter& canvas, QRect& rect, const QWidget* w) const {
  if (!FVisible) return;
  const QColor black = ColorToQColor(clBlack, w);
  auto styled = [&](TVrBevelStyle style, TColor highlight, TColor shadow, int width) {
    if (style == bsNone) return;
    const QColor hi = ColorToQColor(highlight, w), sh = ColorToQColor(shadow, w);
    if (style == bsRaised)
      DrawFrame3D(canvas, rect, hi, sh, width);
    else
      DrawFrame3D(canvas, rect, sh, hi, width);
  };
  auto solid = [&](TColor c, int width) {
    const QColor q = ColorToQColor(c, w);
    DrawFrame3D(canvas, rect, q, q, width);
  };

  if (FBorderWidth > 0) solid(FBorderColor, FBorderWidth);
  if (FOuterOutline == osOuter) DrawFrame3D(canvas, rect, black, black, 1);
  styled(FOuterStyle, FOuterHighlight, FOuterShadow, FOuterWidth);
  if (FOuterOutline == osInner) DrawFrame3D(canvas, rect, black, black, 1);
  solid(FOuterColor, FOuterSpace);
  if (FInnerOutline == osOuter) DrawFrame3D(canvas, rect, black, black, 1);
  styled(FInnerStyle, FInnerHighlight, FInnerShadow, FInnerWidth);
  if (FInnerOutline == osInner) DrawFrame3D(canvas, rect, black, black, 1);
  solid(FInnerColor, FInnerSpace);
}

// ---------------------------------------------------------------------------

TVrCustomControl::TVrCustomControl(QWidget* parent) : QWidget(parent) {
  // The controls paint their whole area, so Qt need not erase it first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Hover states need moves without a button held.
  setMouseTracking(true);
}

void TVrCustomControl::UpdateControlCanvas() {
  if (FLoading || FUpdateCount != 0) return;
  repaint();
}

void TVrCustomControl::BeginUpdate() { ++FUpdateCount; }

void TVrCustomControl::EndUpdate() {
  // An unpaired EndUpdate must not hold back repaints for good.
  if (FUpdateCount > 0) --FUpdateCount;
  UpdateControlCanvas();
}

void TVrCustomControl::BeginLoading() { FLoading = true; }

void TVrCustomControl::EndLoading() {
  if (!FLoading) return;
  FLoading = false;
  Loaded();
  UpdateControlCanvas();
}

void TVrCustomControl::SetCaption(const QString& value) {
  if (FCaption == value) return;
  FCaption = value;
  TextChanged();
}

void TVrCustomControl::SetColor(TColor value) {
  if (FColor == value) return;
  FColor = value;
  ColorChanged();
}

void TVrCustomControl::SetTabStop(bool value) {
  if (TabStop() == value) return;
  setFocusPolicy(value ? Qt::StrongFocus : Qt::NoFocus);
  TabStopChanged();
}

void TVrCustomControl::MouseEnter() { emit OnMouseEnter(this); }
void TVrCustomControl::MouseLeave() { emit OnMouseLeave(this); }
void TVrCustomControl::FontChanged() { emit OnFontChanged(this); }
void TVrCustomControl::TextChanged() { emit OnTextChanged(this); }
void TVrCustomControl::ColorChanged() { UpdateControlCanvas(); }
void TVrCustomControl::SystemColorsChanged() { UpdateControlCanvas(); }

void TVrCustomControl::paintEvent(QPaintEvent*) {
  ++FPaintCount;
  Paint();
}

void TVrCustomControl::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  MouseEnter();
}

void TVrCustomControl::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  MouseLeave();
}

void TVrCustomControl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
  case QEvent::FontChange: FontChanged(); break;
  case QEvent::PaletteChange: SystemColorsChanged(); break;
  case QEvent::EnabledChange: UpdateControlCanvas(); break;
  default: break;
  }
}

// ---------------------------------------------------------------------------

TVrCustomImageControl::TVrCustomImageControl(QWidget* parent) : TVrCustomControl(parent) {}

TVrCustomImageControl::~TVrCustomImageControl() { EndBitmapCanvas(); }

QPainter& TVrCustomImageControl::GetBitmapCanvas() {
  if (!FCanvas) FCanvas = std::make_unique<QPainter>();
  if (!FCanvas->isActive() && !FBitmap.isNull()) {
    FCanvas->begin(&FBitmap);
    // Drawn the same whatever the reading order of the control.
    FCanvas->setLayoutDirection(Qt::LeftToRight);
  }
  return *FCanvas;
}

void TVrCustomImageControl::EndBitmapCanvas() {
  if (FCanvas && FCanvas->isActive()) FCanvas->end();
}

void TVrCustomImageControl::ClearBitmapCanvas() {
  EndBitmapCanvas();
  const qreal dpr = devicePixelRatioF();
  const QSize device(std::max(1, int(std::ceil(width() * dpr))), std::max(1, int(std::ceil(height() * dpr))));
  if (FBitmap.size() != device || FBitmap.devicePixelRatio() != dpr) {
    FBitmap = QImage(device, QImage::Format_RGB32);
    FBitmap.setDevicePixelRatio(dpr);
  }
  FBitmap.fill(ToQColor(Color()));
}

void TVrCustomImageControl::Paint() {
  EndBitmapCanvas();
  if (FBitmap.isNull()) return;
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(QPoint(0, 0), FBitmap);
}
