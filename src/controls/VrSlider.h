#pragma once
// A slider that holds an integer Position between MinValue and MaxValue and
// shows it as a thumb on a track of ticks, lit from the minimum end up to the
// thumb's middle. Dragged with the mouse, clicked, or stepped with the keys.

#include "VrBitmapList.h"
#include "VrControls.h"
#include "VrSliderGeometry.h"

#include <QCursor>
#include <QFlags>
#include <optional>

enum TVrSliderOption {
  soActiveClick = 0x1,
  soMouseClip = 0x2,
  soHandPoint = 0x4,
  soThumbOpaque = 0x8,
};
Q_DECLARE_FLAGS(TVrSliderOptions, TVrSliderOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TVrSliderOptions)

// Cursor number of the hand shown over a slider's thumb.
inline constexpr int crHandPoint = 99;
// Our 32 x 32 monochrome pointing hand, hot spot (10, 5) at the finger tip.
QCursor VrHandPointCursor();
// The built-in thumb images, "VRSLIDERTHUMB_HORI" (30 x 13, for vertical
// sliders) and "VRSLIDERTHUMB_VERT" (13 x 30, for horizontal ones), drawn at
// the given device pixel ratio; a null image for any other name.
QImage VrSliderThumbImage(const QString& name, qreal devicePixelRatio = 1.0);

class TVrSlider : public TVrCustomImageControl {
  Q_OBJECT
public:
  explicit TVrSlider(QWidget* parent = nullptr);
  ~TVrSlider() override;

  int MaxValue() const { return FMaxValue; }
  void SetMaxValue(int value);
  int MinValue() const { return FMinValue; }
  void SetMinValue(int value);
  int Position() const { return FPosition; }
  void SetPosition(int value);
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value);
  int TickWidth() const { return FTickWidth; }
  void SetTickWidth(int value);
  TVrOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TVrOrientation value);
  bool SolidFill() const { return FSolidFill; }
  void SetSolidFill(bool value);
  TVrSliderStyle Style() const { return FStyle; }
  void SetStyle(TVrSliderStyle value);
  // Cells side by side in the thumb image, 1 to 4: normal, disabled,
  // dragged, hovered.
  int ThumbStates() const { return FThumbStates; }
  void SetThumbStates(int value);
  TVrSliderOptions Options() const { return FOptions; }
  void SetOptions(TVrSliderOptions value);
  int KeyIncrement() const { return FKeyIncrement; }
  void SetKeyIncrement(int value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor value);
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);
  TColor FocusColor() const { return FFocusColor; }
  void SetFocusColor(TColor value);
  TVrBevel* Bevel() const { return FBevel; }
  void SetBevel(const TVrBevel& value);
  TVrPalette* Palette() const { return FPalette; }
  void SetPalette(const TVrPalette& value);
  int ThumbImageIndex() const { return FThumbImageIndex; }
  void SetThumbImageIndex(int value);
  int ThumbIndent() const { return FThumbIndent; }
  void SetThumbIndent(int value);
  TVrBitmapList* BitmapList() const { return FBitmapList; }
  void SetBitmapList(TVrBitmapList* value);

  // The thumb's rectangle for the current Position, in client coordinates.
  QRect ThumbRect() const;
  // The area inside border and bevel that the track images cover.
  QRect TrackArea() const;
  int ThumbWidth() const { return FThumbWidth; }
  int ThumbHeight() const { return FThumbHeight; }
  // Times the track images were drawn; a Position change never adds to it.
  int TrackRebuildCount() const { return FTrackRebuildCount; }

  bool Dragging() const { return FDragging; }
  bool MouseOverThumb() const { return FMouseOverThumb; }
  bool HasFocus() const { return FHasFocus; }
  bool ClipOn() const { return FClipOn; }
  int HitOffset() const { return FHitOffset; }

signals:
  // Position really changed, by whatever route.
  void OnChange(QObject* Sender);

protected:
  virtual void Changed();

  void Paint() override;
  void Loaded() override;
  void MouseLeave() override;
  void ColorChanged() override;
  void SystemColorsChanged() override;
  void TabStopChanged() override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  // What the track images were last drawn for; any difference redraws them.
  struct TrackKey {
    QSize Size;
    qreal Dpr = 0;
    TVrOrientation Orientation = voVertical;
    TVrSliderStyle Style = ssBottomLeft;
    int TickWidth = 0;
    int Spacing = 0;
    bool SolidFill = false;
    QRgb Background = 0;
    QRgb Low = 0;
    QRgb High = 0;
    bool operator==(const TrackKey&) const = default;
  };

  VrSliderGeometry::Travel MakeTravel() const;
  void MoveThumbTo(int edge);
  void ClampPositionToRange();
  void LoadThumb();
  void EnsureTrackImages(const QRect& area);
  QImage DrawTrack(const QSize& size, qreal dpr, const QColor& tick, const QColor& background) const;
  void PartsChanged();
  void UpdateHandCursor(bool overThumb);
  void BitmapListDestroyed();
  void EndDrag();

  int FMaxValue = 100;
  int FMinValue = 0;
  int FPosition = 0;
  int FSpacing = 1;
  int FTickWidth = 1;
  TVrOrientation FOrientation = voVertical;
  bool FSolidFill = true;
  TVrSliderStyle FStyle = ssBottomLeft;
  int FThumbStates = 1;
  TVrSliderOptions FOptions = soHandPoint | soThumbOpaque;
  int FKeyIncrement = 5;
  TColor FBorderColor = clBtnFace;
  int FBorderWidth = 1;
  TColor FFocusColor = clBlue;
  TVrBevel* FBevel = nullptr;
  TVrPalette* FPalette = nullptr;
  int FThumbImageIndex = -1;
  int FThumbIndent = 2;
  TVrBitmapList* FBitmapList = nullptr;
  TVrChangeLink FChangeLink;
  QMetaObject::Connection FBitmapListGone;

  QImage FThumb;        // as loaded; drawn with soThumbOpaque
  QImage FThumbMasked;  // its transparent colour cleared
  bool FThumbBuiltIn = true;
  int FThumbWidth = 0;
  int FThumbHeight = 0;

  QImage FTrackLow;
  QImage FTrackHigh;
  TrackKey FTrackKey;
  int FTrackRebuildCount = 0;

  int FHitOffset = 0;
  bool FDragging = false;
  bool FMouseOverThumb = false;
  bool FHasFocus = false;
  bool FClipOn = false;
  bool FHandShown = false;
  std::optional<QCursor> FCursorBeforeHand;
};
