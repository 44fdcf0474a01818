#include "VrCheckLed.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QShortcutEvent>
#include <QVector>

TVrCheckLed::TVrCheckLed(QWidget* parent) : TVrCustomImageControl(parent), FPalette(new TVrPalette(this)) {
  setGeometry(0, 0, 125, 25);
  SetColor(clBtnFace);
  setFocusPolicy(Qt::NoFocus);
  connect(FPalette, &TVrPersistent::OnChange, this, [this] { UpdateControlCanvas(); });
  CalcLayout();
}

void TVrCheckLed::SetCheckWidth(int value) {
  if (FCheckWidth == value) return;
  FCheckWidth = value;
  AdjustBounds();
}

void TVrCheckLed::SetCheckHeight(int value) {
  if (FCheckHeight == value) return;
  FCheckHeight = value;
  AdjustBounds();
}

void TVrCheckLed::SetLayout(TVrImageTextLayout value) {
  if (FLayout == value) return;
  FLayout = value;
  AdjustBounds();
}

void TVrCheckLed::SetMargin(int value) {
  if (FMargin == value) return;
  FMargin = value;
  AdjustBounds();
}

void TVrCheckLed::SetSpacing(int value) {
  if (FSpacing == value) return;
  FSpacing = value;
  AdjustBounds();
}

void TVrCheckLed::SetPalette(const TVrPalette& value) { FPalette->Assign(value); }

void TVrCheckLed::SetChecked(bool value) {
  if (FChecked == value) return;
  FChecked = value;
  UpdateControlCanvas();
  if (FCheckStyle == csRadioButton && value && parentWidget()) {
    // Guarded copies: a sibling's OnChange may add or delete controls, this one included.
    const QPointer<TVrCheckLed> self(this);
    QVector<QPointer<TVrCheckLed>> siblings;
    for (QObject* child : parentWidget()->children())
      if (auto* led = qobject_cast<TVrCheckLed*>(child); led && led != this) siblings.append(led);
    for (const QPointer<TVrCheckLed>& led : siblings)
      if (led && led->CheckStyle() == csRadioButton) led->SetChecked(false);
    if (!self) return;
  }
  Change();
}

void TVrCheckLed::Change() { emit OnChange(this); }

void TVrCheckLed::AdjustBounds() {
  if (Loading()) return;
  CalcLayout();
  UpdateControlCanvas();
}

QRect TVrCheckLed::GlyphRect() const {
  if (FLayoutSize != size() && !Loading()) CalcLayout();
  return FGlyphRect;
}

QRect TVrCheckLed::TextRect() const {
  if (FLayoutSize != size() && !Loading()) CalcLayout();
  return FTextRect;
}

// Places the LED and the caption in the client area. The reading order plays
// no part: a right-to-left LED is laid out like any other.
void TVrCheckLed::CalcLayout() const {
  const int W = width(), H = height();
  const int gw = FCheckWidth, gh = FCheckHeight;
  const QString caption = Caption();
  const QSize text = caption.isEmpty() ? QSize(0, 0) : QFontMetrics(font()).size(Qt::TextShowMnemonic, caption);
  const int tw = text.width(), th = text.height();
  int m = FMargin, s = FSpacing;
  const bool horizontal = FLayout == ImageLeft || FLayout == ImageRight;

  QPoint glyph, textPos;
  if (horizontal) {
    glyph.setY((H - gh + 1) / 2);
    textPos.setY((H - th + 1) / 2);
  } else {
    glyph.setX((W - gw + 1) / 2);
    textPos.setX((W - tw + 1) / 2);
  }
  if (caption.isEmpty() || gw == 0) s = 0;
  const int room = horizontal ? W : H;
  const int glyphSize = horizontal ? gw : gh;
  const int textSize = horizontal ? tw : th;
  if (m == -1 && s == -1)
    m = s = (room - (glyphSize + textSize)) / 3;
  else if (m == -1)
    m = (room - (glyphSize + s + textSize) + 1) / 2;
  else if (s == -1)
    s = (room - m - glyphSize - textSize) / 2;

  switch (FLayout) {
  case ImageLeft:
    glyph.setX(m);
    textPos.setX(glyph.x() + gw + s);
    break;
  case ImageRight:
    glyph.setX(W - m - gw);
    textPos.setX(glyph.x() - s - tw);
    break;
  case ImageTop:
    glyph.setY(m);
    textPos.setY(glyph.y() + gh + s);
    break;
  case ImageBottom:
    glyph.setY(H - m - gh);
    textPos.setY(glyph.y() - s - th);
    break;
  }
  const QPoint offset = rect().topLeft() + QPoint(1, 1);
  FGlyphRect = QRect(glyph + offset, QSize(gw, gh));
  FTextRect = QRect(textPos + offset, QSize(tw, th));
  FLayoutSize = size();
}

void TVrCheckLed::Loaded() {
  CalcLayout();
  UpdateMnemonic();
}

void TVrCheckLed::Paint() {
  ClearBitmapCanvas();
  QPainter& canvas = GetBitmapCanvas();

  // 0 dark, 1 hover checkerboard, 2 lit.
  const int state = (FMouseOverGlyph && !FChecked) ? 1 : FChecked ? 2 : 0;
  const QColor black = ToQColor(clBlack), highlight = ToQColor(clBtnHighlight);
  const QColor shadow = ToQColor(clBtnShadow), face = ToQColor(clBtnFace);
  QRect r = GlyphRect();
  const QRect textRect = TextRect();
  if (state == 2)
    DrawFrame3D(canvas, r, black, highlight, 1);
  else
    DrawFrame3D(canvas, r, highlight, black, 1);
  DrawFrame3D(canvas, r, highlight, shadow, 1);
  DrawFrame3D(canvas, r, face, face, 1);
  DrawFrame3D(canvas, r, black, highlight, 1);
  if (r.width() > 0 && r.height() > 0) {
    const QColor low = ToQColor(FPalette->Low()), high = ToQColor(FPalette->High());
    if (state == 0) {
      canvas.fillRect(r, low);
    } else if (state == 2) {
      canvas.fillRect(r, high);
    } else {
      // The checkerboard is anchored at the control's top-left corner.
      canvas.setBrushOrigin(0, 0);
      canvas.fillRect(r, QBrush(CreateDitherPattern(low, high)));
    }
  }

  const QString caption = Caption();
  if (!caption.isEmpty()) {
    canvas.setFont(font());
    if (isEnabled()) {
      canvas.setPen(palette().color(QPalette::WindowText));
      canvas.drawText(textRect, Qt::AlignAbsolute | Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                      caption);
    } else {
      const int flags = Qt::AlignAbsolute | Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic;
      canvas.setPen(highlight);
      canvas.drawText(textRect.translated(1, 1), flags, caption);
      canvas.setPen(shadow);
      canvas.drawText(textRect, flags, caption);
    }
  }

  if (hasFocus()) {
    // Dotted and inverting, like the desktop's own focus rectangle.
    const QRect focus = textRect.adjusted(-2, -2, 2, 2);
    QPen pen(Qt::white, 0, Qt::DotLine);
    canvas.setPen(pen);
    canvas.setBrush(Qt::NoBrush);
    canvas.setCompositionMode(QPainter::RasterOp_NotDestination);
    canvas.drawRect(focus.adjusted(0, 0, -1, -1));
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
  }

  TVrCustomImageControl::Paint();
}

void TVrCheckLed::MouseLeave() {
  TVrCustomImageControl::MouseLeave();
  FMouseOverGlyph = false;
  UpdateControlCanvas();
}

void TVrCheckLed::FontChanged() {
  TVrCustomImageControl::FontChanged();
  AdjustBounds();
}

void TVrCheckLed::TextChanged() {
  TVrCustomImageControl::TextChanged();
  AdjustBounds();
  UpdateMnemonic();
}

void TVrCheckLed::TabStopChanged() { UpdateMnemonic(); }

void TVrCheckLed::UpdateMnemonic() {
  if (Loading()) return;
  if (FShortcutId != 0) {
    releaseShortcut(FShortcutId);
    FShortcutId = 0;
  }
  const QKeySequence key = QKeySequence::mnemonic(Caption());
  if (!key.isEmpty()) FShortcutId = grabShortcut(key);
}

bool TVrCheckLed::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    auto* shortcut = static_cast<QShortcutEvent*>(event);
    if (FShortcutId != 0 && shortcut->shortcutId() == FShortcutId && isEnabled()) {
      // Without TabStop the mnemonic still works; only the focus stays put.
      if (TabStop()) setFocus(Qt::ShortcutFocusReason);
      SetChecked(!FChecked);
      return true;
    }
  }
  return TVrCustomImageControl::event(event);
}

void TVrCheckLed::resizeEvent(QResizeEvent* event) {
  TVrCustomImageControl::resizeEvent(event);
  AdjustBounds();
}

void TVrCheckLed::mousePressEvent(QMouseEvent* event) {
  TVrCustomImageControl::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && isEnabled() && GlyphRect().contains(event->position().toPoint())) {
    FPressed = true;
    FSavedChecked = FChecked;
    // Shown at once; OnChange and the radio handling wait for the release.
    FChecked = !FChecked;
    UpdateControlCanvas();
  }
}

void TVrCheckLed::mouseMoveEvent(QMouseEvent* event) {
  TVrCustomImageControl::mouseMoveEvent(event);
  const bool over = GlyphRect().contains(event->position().toPoint());
  if (over != FMouseOverGlyph) {
    FMouseOverGlyph = over;
    UpdateControlCanvas();
  }
}

void TVrCheckLed::mouseReleaseEvent(QMouseEvent* event) {
  TVrCustomImageControl::mouseReleaseEvent(event);
  if (!FPressed) return;
  FPressed = false;
  FChecked = FSavedChecked;
  if (GlyphRect().contains(event->position().toPoint()))
    SetChecked(!FSavedChecked);
  else
    UpdateControlCanvas();
}

void TVrCheckLed::keyPressEvent(QKeyEvent* event) {
  if (event->text() == QLatin1String(" ")) {
    FChecked = !FChecked;
    UpdateControlCanvas();
  }
  TVrCustomImageControl::keyPressEvent(event);
}

void TVrCheckLed::focusInEvent(QFocusEvent* event) {
  TVrCustomImageControl::focusInEvent(event);
  UpdateControlCanvas();
}

void TVrCheckLed::focusOutEvent(QFocusEvent* event) {
  UpdateControlCanvas();
  TVrCustomImageControl::focusOutEvent(event);
}
