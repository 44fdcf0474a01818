#include "VrSlider.h"

#include <QBitmap>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <climits>

namespace {

// 'X' black, '-' white, anything else transparent; the finger tip is at (10, 5).
constexpr std::array<const char*, 32> HandPointArt = {
    "",
    "",
    "",
    "",
    ".........XX",
    "........X--X",
    "........X--X",
    "........X--X",
    "........X--X",
    "........X--XXX",
    "........X--X--XXX",
    "........X--X--X--XX",
    "........X--X--X--X-X",
    "...XX...X--X--X--X--X",
    "..X--X..X-----------X",
    "..X---X.X-----------X",
    "...X---XX-----------X",
    "....X---------------X",
    ".....X--------------X",
    "......X------------X",
    "......X------------X",
    ".......X----------X",
    ".......X----------X",
    "........X--------X",
    "........XXXXXXXXXX",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
};

QCursor MakeHandPointCursor() {
  QImage shape(32, 32, QImage::Format_MonoLSB);
  QImage mask(32, 32, QImage::Format_MonoLSB);
  // Bit 1 is Qt::color1 (black) in a bitmap: shape 1 + mask 1 draws black,
  // shape 0 + mask 1 white, mask 0 leaves the screen alone.
  for (QImage* image : {&shape, &mask}) {
    image->setColor(0, QColor(Qt::white).rgb());
    image->setColor(1, QColor(Qt::black).rgb());
    image->fill(0);
  }
  for (int y = 0; y < 32; ++y) {
    const char* row = HandPointArt[size_t(y)];
    for (int x = 0; x < 32 && row[x]; ++x) {
      if (row[x] == 'X') {
        shape.setPixel(x, y, 1);
        mask.setPixel(x, y, 1);
      } else if (row[x] == '-') {
        mask.setPixel(x, y, 1);
      }
    }
  }
  return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 10, 5);
}

// A raised grey knob, long side along x, with an engraved groove along its
// middle. Drawn in logical pixels, so every feature stays pixel-sharp at any
// whole device pixel ratio.
QImage DrawKnob(int width, int height, qreal dpr, bool transpose) {
  const QColor black(0, 0, 0), white(255, 255, 255), face(192, 192, 192), dark(128, 128, 128);
  const QSize logical = transpose ? QSize(height, width) : QSize(width, height);
  QImage image(QSize(qRound(logical.width() * dpr), qRound(logical.height() * dpr)), QImage::Format_RGB32);
  image.setDevicePixelRatio(dpr);
  image.fill(black);
  QPainter p(&image);
  if (transpose) {
    // Mirror along the diagonal: x <-> y.
    p.setTransform(QTransform(0, 1, 1, 0, 0, 0));
  }
  QRect r(0, 0, width, height);
  DrawFrame3D(p, r, black, black, 1);
  DrawFrame3D(p, r, white, dark, 1);
  p.fillRect(r, face);
  const int mid = height / 2;
  QRect groove(4, mid - 1, width - 8, 3);
  DrawFrame3D(p, groove, dark, white, 1);
  p.fillRect(groove, black);
  return image;
}

constexpr Qt::KeyboardModifiers StepBlockers = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

}  // namespace

QCursor VrHandPointCursor() {
  static const QCursor cursor = MakeHandPointCursor();
  return cursor;
}

QImage VrSliderThumbImage(const QString& name, qreal devicePixelRatio) {
  if (name == QLatin1String("VRSLIDERTHUMB_HORI")) return DrawKnob(30, 13, devicePixelRatio, false);
  if (name == QLatin1String("VRSLIDERTHUMB_VERT")) return DrawKnob(30, 13, devicePixelRatio, true);
  return {};
}

// ---------------------------------------------------------------------------

TVrSlider::TVrSlider(QWidget* parent) : TVrCustomImageControl(parent) {
  FBevel = new TVrBevel(this);
  FBevel->SetInnerWidth(2);
  FBevel->SetInnerColor(clBlack);
  FPalette = new TVrPalette(this);
  connect(FBevel, &TVrPersistent::OnChange, this, &TVrSlider::PartsChanged);
  connect(FPalette, &TVrPersistent::OnChange, this, &TVrSlider::PartsChanged);
  FChangeLink.OnChange = [this](TVrBitmapList*) {
    if (!Loading()) {
      LoadThumb();
      UpdateControlCanvas();
    }
  };

  setGeometry(0, 0, 36, 171);
  SetColor(clBlack);
  SetTabStop(false);
  LoadThumb();
}

TVrSlider::~TVrSlider() {
  // The change link detaches itself from the list in its own destructor.
  disconnect(FBitmapListGone);
}

// ---------------------------------------------------------------------------
// Properties

void TVrSlider::SetMaxValue(int value) {
  if (value == FMaxValue) return;
  FMaxValue = value;
  ClampPositionToRange();
}

void TVrSlider::SetMinValue(int value) {
  if (value == FMinValue) return;
  FMinValue = value;
  ClampPositionToRange();
}

// Position follows a bound that moved past it. Clamping to both bounds (not
// only the one that moved) also brings Position back after the range was
// turned upside down for a while. The thumb's place depends on the range, so
// the control repaints even when Position stays.
void TVrSlider::ClampPositionToRange() {
  const int before = FPosition;
  SetPosition(FPosition);
  if (FPosition == before) UpdateControlCanvas();
}

void TVrSlider::SetPosition(int value) {
  if (value < FMinValue) value = FMinValue;
  // The upper bound last, so MinValue above MaxValue leaves Position at MaxValue.
  if (value > FMaxValue) value = FMaxValue;
  if (value == FPosition) return;
  FPosition = value;
  UpdateControlCanvas();
  Changed();
}

void TVrSlider::SetSpacing(int value) {
  if (value == FSpacing || value < 0) return;
  FSpacing = value;
  UpdateControlCanvas();
}

void TVrSlider::SetTickWidth(int value) {
  if (value == FTickWidth || value <= 0) return;
  FTickWidth = value;
  UpdateControlCanvas();
}

void TVrSlider::SetOrientation(TVrOrientation value) {
  if (value == FOrientation) return;
  FOrientation = value;
  if (Loading()) return;
  // Left and top stay; a square control keeps its size and is redrawn below.
  resize(height(), width());
  LoadThumb();
  UpdateControlCanvas();
}

void TVrSlider::SetSolidFill(bool value) {
  if (value == FSolidFill) return;
  FSolidFill = value;
  UpdateControlCanvas();
}

void TVrSlider::SetStyle(TVrSliderStyle value) {
  if (value == FStyle) return;
  FStyle = value;
  UpdateControlCanvas();
}

void TVrSlider::SetThumbStates(int value) {
  if (value == FThumbStates || value < 1 || value > 4) return;
  FThumbStates = value;
  if (!Loading()) LoadThumb();
  UpdateControlCanvas();
}

void TVrSlider::SetOptions(TVrSliderOptions value) {
  if (value == FOptions) return;
  FOptions = value;
  if (FHandShown && !FOptions.testFlag(soHandPoint)) UpdateHandCursor(false);
  UpdateControlCanvas();
}

void TVrSlider::SetKeyIncrement(int value) { FKeyIncrement = value; }

void TVrSlider::SetBorderColor(TColor value) {
  if (value == FBorderColor) return;
  FBorderColor = value;
  UpdateControlCanvas();
}

void TVrSlider::SetBorderWidth(int value) {
  if (value == FBorderWidth || value < 0) return;
  FBorderWidth = value;
  UpdateControlCanvas();
}

void TVrSlider::SetFocusColor(TColor value) {
  if (value == FFocusColor) return;
  FFocusColor = value;
  UpdateControlCanvas();
}

void TVrSlider::SetBevel(const TVrBevel& value) { FBevel->Assign(value); }

void TVrSlider::SetPalette(const TVrPalette& value) { FPalette->Assign(value); }

void TVrSlider::SetThumbImageIndex(int value) {
  if (value == FThumbImageIndex) return;
  FThumbImageIndex = value;
  if (!Loading()) LoadThumb();
  UpdateControlCanvas();
}

void TVrSlider::SetThumbIndent(int value) {
  if (value == FThumbIndent || value < 0) return;
  FThumbIndent = value;
  UpdateControlCanvas();
}

void TVrSlider::SetBitmapList(TVrBitmapList* value) {
  if (FBitmapList) FBitmapList->RemoveLink(&FChangeLink);
  disconnect(FBitmapListGone);
  FBitmapList = value;
  if (FBitmapList) {
    FBitmapList->InsertLink(&FChangeLink);
    FBitmapListGone = connect(FBitmapList, &QObject::destroyed, this, &TVrSlider::BitmapListDestroyed);
  }
  if (!Loading()) {
    LoadThumb();
    UpdateControlCanvas();
  }
}

void TVrSlider::BitmapListDestroyed() {
  // The list has already let go of our link; only forget it.
  FBitmapList = nullptr;
  if (!Loading()) {
    LoadThumb();
    UpdateControlCanvas();
  }
}

void TVrSlider::PartsChanged() {
  // The track images follow at the next paint when their inputs changed.
  UpdateControlCanvas();
}

void TVrSlider::ColorChanged() { UpdateControlCanvas(); }

void TVrSlider::SystemColorsChanged() { UpdateControlCanvas(); }

// A tab stop takes the focus by the Tab key and by a left press
// (mousePressEvent); Qt's own click focus would answer every button.
void TVrSlider::TabStopChanged() {
  if (TabStop()) setFocusPolicy(Qt::TabFocus);
}

void TVrSlider::Changed() { emit OnChange(this); }

// ---------------------------------------------------------------------------
// Geometry

VrSliderGeometry::Travel TVrSlider::MakeTravel() const {
  VrSliderGeometry::Travel t;
  t.ClientWidth = width();
  t.ClientHeight = height();
  t.BorderWidth = FBorderWidth;
  t.ThumbIndent = FThumbIndent;
  t.ThumbWidth = FThumbWidth;
  t.ThumbHeight = FThumbHeight;
  t.MinValue = FMinValue;
  t.MaxValue = FMaxValue;
  t.Orientation = FOrientation;
  t.Style = FStyle;
  return t;
}

QRect TVrSlider::ThumbRect() const {
  const VrSliderGeometry::Travel t = MakeTravel();
  const int edge = t.ValueToEdge(FPosition);
  const int across = t.ThumbAcross();
  if (FOrientation == voVertical) return QRect(across, edge, FThumbWidth, FThumbHeight);
  return QRect(edge, across, FThumbWidth, FThumbHeight);
}

QRect TVrSlider::TrackArea() const {
  QRect r = rect().adjusted(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
  FBevel->GetVisibleArea(r);
  return r;
}

void TVrSlider::MoveThumbTo(int edge) { SetPosition(MakeTravel().MoveThumbValue(edge)); }

// ---------------------------------------------------------------------------
// Images

void TVrSlider::LoadThumb() {
  QImage image;
  if (FBitmapList) image = FBitmapList->GetBitmap(FThumbImageIndex);
  FThumbBuiltIn = image.isNull();
  if (FThumbBuiltIn)
    image = VrSliderThumbImage(
        FOrientation == voVertical ? QStringLiteral("VRSLIDERTHUMB_HORI") : QStringLiteral("VRSLIDERTHUMB_VERT"),
        devicePixelRatioF());
  FThumb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QSizeF logical = FThumb.deviceIndependentSize();
  FThumbWidth = int(logical.width()) / FThumbStates;
  FThumbHeight = int(logical.height());

  // The colour of the bottom-left pixel is left out of the thumb unless
  // soThumbOpaque asks for it.
  FThumbMasked = image.convertToFormat(QImage::Format_ARGB32);
  if (!FThumbMasked.isNull()) {
    const QRgb transparent = FThumbMasked.pixel(0, FThumbMasked.height() - 1) & RGB_MASK;
    for (int y = 0; y < FThumbMasked.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(FThumbMasked.scanLine(y));
      for (int x = 0; x < FThumbMasked.width(); ++x)
        if ((line[x] & RGB_MASK) == transparent) line[x] = 0;
    }
    FThumbMasked = FThumbMasked.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  }
}

QImage TVrSlider::DrawTrack(const QSize& size, qreal dpr, const QColor& tick, const QColor& background) const {
  QImage image(QSize(qRound(size.width() * dpr), qRound(size.height() * dpr)), QImage::Format_RGB32);
  image.setDevicePixelRatio(dpr);
  image.fill(background);
  QPainter p(&image);
  const bool vertical = FOrientation == voVertical;
  const int length = vertical ? size.height() : size.width();
  const int step = FTickWidth + FSpacing;
  const int n = length / step + 1;
  // Ticks start at the minimum end; those past the far end are clipped.
  const bool fromFar = (vertical && FStyle == ssBottomLeft) || (!vertical && FStyle == ssTopRight);
  QBrush dither;
  if (!FSolidFill) dither = QBrush(CreateDitherPattern(tick, background));
  for (int i = 0; i <= n; ++i) {
    const int at = fromFar ? length - FTickWidth - i * step : i * step;
    const QRect r = vertical ? QRect(0, at, size.width(), FTickWidth) : QRect(at, 0, FTickWidth, size.height());
    if (FSolidFill) {
      p.fillRect(r, tick);
    } else {
      // Each tick starts with the tick colour at its top-left pixel.
      p.setBrushOrigin(r.topLeft());
      p.fillRect(r, dither);
    }
  }
  return image;
}

void TVrSlider::EnsureTrackImages(const QRect& area) {
  TrackKey key;
  key.Size = area.size();
  key.Dpr = devicePixelRatioF();
  key.Orientation = FOrientation;
  key.Style = FStyle;
  key.TickWidth = FTickWidth;
  key.Spacing = FSpacing;
  key.SolidFill = FSolidFill;
  const QColor background = ToQColor(Color());
  const QColor low = ToQColor(FPalette->GetColors(0));
  const QColor high = ToQColor(FPalette->GetColors(1));
  key.Background = background.rgb();
  key.Low = low.rgb();
  key.High = high.rgb();
  if (key == FTrackKey && !FTrackLow.isNull()) return;
  FTrackKey = key;
  if (area.width() <= 0 || area.height() <= 0) {
    FTrackLow = FTrackHigh = QImage();
    return;
  }
  FTrackLow = DrawTrack(area.size(), key.Dpr, low, background);
  FTrackHigh = DrawTrack(area.size(), key.Dpr, high, background);
  ++FTrackRebuildCount;
}

void TVrSlider::Loaded() {
  LoadThumb();
  EnsureTrackImages(TrackArea());
}

// ---------------------------------------------------------------------------
// Painting

void TVrSlider::Paint() {
  if (FThumbBuiltIn && FThumb.devicePixelRatio() != devicePixelRatioF())
    LoadThumb();  // moved to a screen of another pixel ratio

  ClearBitmapCanvas();
  QPainter& canvas = GetBitmapCanvas();
  QRect r = rect();
  if (FBorderWidth > 0) {
    const QColor frame = ToQColor(FHasFocus ? FFocusColor : FBorderColor);
    DrawFrame3D(canvas, r, frame, frame, FBorderWidth);
  }
  FBevel->Paint(canvas, r, this);

  const QRect area = r;
  EnsureTrackImages(area);
  const QRect thumb = ThumbRect();
  if (!FTrackLow.isNull()) {
    canvas.drawImage(area.topLeft(), FTrackLow);

    // The high image from the minimum end up to the thumb's middle.
    QRect lit;
    if (FOrientation == voVertical) {
      if (FStyle == ssBottomLeft)
        lit = QRect(QPoint(area.left(), thumb.top() + FThumbHeight / 2), area.bottomRight());
      else
        lit = QRect(area.topLeft(), QPoint(area.right(), thumb.top() + FThumbHeight - FThumbHeight / 2 - 1));
    } else {
      if (FStyle == ssBottomLeft)
        lit = QRect(area.topLeft(), QPoint(thumb.left() + FThumbWidth / 2 - 1, area.bottom()));
      else
        lit = QRect(QPoint(thumb.left() + FThumbWidth - FThumbWidth / 2, area.top()), area.bottomRight());
    }
    lit &= area;
    if (!lit.isEmpty()) {
      const qreal dpr = FTrackHigh.devicePixelRatio();
      const QRectF source(QPointF(lit.topLeft() - area.topLeft()) * dpr, QSizeF(lit.size()) * dpr);
      canvas.drawImage(QRectF(lit), FTrackHigh, source);
    }
  }

  if (FThumbWidth > 0 && FThumbHeight > 0) {
    int cell = 0;
    if (!isEnabled()) cell = 1;
    if (FDragging) cell = 2;
    if (FMouseOverThumb && !FDragging) cell = 3;
    if (cell > FThumbStates - 1) cell = 0;
    const QImage& image = FOptions.testFlag(soThumbOpaque) ? FThumb : FThumbMasked;
    const qreal dpr = image.devicePixelRatio();
    const QRectF source(cell * FThumbWidth * dpr, 0, FThumbWidth * dpr, FThumbHeight * dpr);
    canvas.drawImage(QRectF(thumb), image, source);
  }

  TVrCustomImageControl::Paint();
}

// ---------------------------------------------------------------------------
// Input

void TVrSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    TVrCustomImageControl::mousePressEvent(event);
    return;
  }
  event->accept();
  if (TabStop()) setFocus(Qt::MouseFocusReason);
  const QPoint p = event->position().toPoint();
  const bool vertical = FOrientation == voVertical;
  const QRect thumb = ThumbRect();
  if (thumb.contains(p)) {
    FDragging = true;
    FHitOffset = vertical ? p.y() - thumb.top() : p.x() - thumb.left();
    if (FOptions.testFlag(soMouseClip)) FClipOn = true;
    UpdateControlCanvas();
  } else if (FOptions.testFlag(soActiveClick)) {
    FHitOffset = vertical ? p.y() - FThumbHeight / 2 : p.x() - FThumbWidth / 2;
    MoveThumbTo(FHitOffset);
  }
}

void TVrSlider::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  QPoint p = event->position().toPoint();
  if (FClipOn && width() > 0 && height() > 0) {
    // No window system call confines the pointer here, so keep it inside by
    // hand; where moving the pointer is not allowed the clamped point still
    // drives the thumb.
    const QPoint inside(std::clamp(p.x(), 0, width() - 1), std::clamp(p.y(), 0, height() - 1));
    if (inside != p) {
      QCursor::setPos(mapToGlobal(inside));
      p = inside;
    }
  }
  if (FDragging) {
    MoveThumbTo((FOrientation == voVertical ? p.y() : p.x()) - FHitOffset);
  } else {
    const bool over = ThumbRect().contains(p);
    if (over != FMouseOverThumb) {
      FMouseOverThumb = over;
      UpdateControlCanvas();
    }
  }
  UpdateHandCursor(ThumbRect().contains(p));
}

void TVrSlider::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  EndDrag();
}

void TVrSlider::EndDrag() {
  if (FDragging) {
    FDragging = false;
    UpdateControlCanvas();
  }
  FClipOn = false;
}

void TVrSlider::MouseLeave() {
  TVrCustomImageControl::MouseLeave();
  // Without this the hover cell would stay lit until the pointer came back.
  if (!FDragging && FMouseOverThumb) {
    FMouseOverThumb = false;
    UpdateControlCanvas();
  }
  UpdateHandCursor(false);
}

void TVrSlider::UpdateHandCursor(bool overThumb) {
  const bool want = overThumb && FOptions.testFlag(soHandPoint);
  if (want == FHandShown) return;
  if (want) {
    FCursorBeforeHand.reset();
    if (testAttribute(Qt::WA_SetCursor)) FCursorBeforeHand = cursor();
    setCursor(VrHandPointCursor());
  } else if (FCursorBeforeHand) {
    setCursor(*FCursorBeforeHand);
  } else {
    unsetCursor();
  }
  FHandShown = want;
}

void TVrSlider::keyPressEvent(QKeyEvent* event) {
  if (!(event->modifiers() & StepBlockers)) {
    const bool vertical = FOrientation == voVertical;
    long long step = 0;
    switch (event->key()) {
    case Qt::Key_Home: SetPosition(FMinValue); break;
    case Qt::Key_End: SetPosition(FMaxValue); break;
    case Qt::Key_Left:
      if (!vertical) step = -FKeyIncrement;
      break;
    case Qt::Key_Right:
      if (!vertical) step = FKeyIncrement;
      break;
    case Qt::Key_Up:
      if (vertical) step = FKeyIncrement;
      break;
    case Qt::Key_Down:
      if (vertical) step = -FKeyIncrement;
      break;
    default: break;
    }
    if (step != 0) {
      // The thumb always moves in the arrow's direction.
      if (FStyle == ssTopRight) step = -step;
      SetPosition(int(std::clamp<long long>(FPosition + step, INT_MIN, INT_MAX)));
    }
  }
  // The slider consumes no key: the parent sees every one.
  TVrCustomImageControl::keyPressEvent(event);
}

void TVrSlider::focusInEvent(QFocusEvent*) {
  if (!FHasFocus) {
    FHasFocus = true;
    UpdateControlCanvas();
  }
}

void TVrSlider::focusOutEvent(QFocusEvent*) {
  if (FHasFocus) {
    FHasFocus = false;
    UpdateControlCanvas();
  }
}

void TVrSlider::changeEvent(QEvent* event) {
  // A control disabled mid-drag gets no release; end the drag here.
  if (event->type() == QEvent::EnabledChange && !isEnabled() && FDragging) {
    FDragging = false;
    FClipOn = false;
  }
  TVrCustomImageControl::changeEvent(event);
}
