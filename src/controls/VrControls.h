#pragma once
// Base of the gauge controls: colours, the palette and bevel objects that tell
// their owning control when they change, the 3-D frame and dither pattern
// drawing routines, and the self-painting control classes with their repaint
// gate and off-screen image.

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

// 0x00BBGGRR for an RGB colour, or 0x80000000 plus a system colour index.
using TColor = std::uint32_t;

inline constexpr TColor clSystemColor = 0x80000000u;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

inline constexpr TColor clBackground = clSystemColor + 1;
inline constexpr TColor clWindow = clSystemColor + 5;
inline constexpr TColor clWindowText = clSystemColor + 8;
inline constexpr TColor clHighlight = clSystemColor + 13;
inline constexpr TColor clHighlightText = clSystemColor + 14;
inline constexpr TColor clBtnFace = clSystemColor + 15;
inline constexpr TColor clBtnShadow = clSystemColor + 16;
inline constexpr TColor clGrayText = clSystemColor + 17;
inline constexpr TColor clBtnText = clSystemColor + 18;
inline constexpr TColor clBtnHighlight = clSystemColor + 20;
inline constexpr TColor cl3DDkShadow = clSystemColor + 21;
inline constexpr TColor cl3DLight = clSystemColor + 22;
inline constexpr TColor clInfoText = clSystemColor + 23;
inline constexpr TColor clInfoBk = clSystemColor + 24;

// System colours come from the widget's palette (the application's when w is
// null), so the controls follow the desktop theme.
QColor ColorToQColor(TColor c, const QWidget* w = nullptr);
// The RGB TColor of a QColor (alpha dropped).
TColor QColorToColor(const QColor& c);

// Draws `width` nested one-pixel frames inward from the edge of rect: left and
// top in topColor, right and bottom in bottomColor. rect comes back shrunk by
// width on every side; a width of 0 or less draws nothing and keeps rect.
void DrawFrame3D(QPainter& canvas, QRect& rect, QColor topColor, QColor bottomColor, int width);

// An 8 x 8 image: first where x and y are both even or both odd, second elsewhere.
QImage CreateDitherPattern(QColor first, QColor second);

// A small object owned by a control that reports its changes to the owner
// through OnChange, unless held back between BeginUpdate and EndUpdate.
class TVrPersistent : public QObject {
  Q_OBJECT
public:
  explicit TVrPersistent(QObject* parent = nullptr);

  void BeginUpdate();
  // Counter - 1 (never below 0), then Changed().
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

signals:
  void OnChange(QObject* Sender);

protected:
  // Tells the owner, unless an update is in progress.
  virtual void Changed();

private:
  int FUpdateCount = 0;
};

// The two colours of a control: Low for the dark, High for the lit state.
class TVrPalette : public TVrPersistent {
  Q_OBJECT
public:
  explicit TVrPalette(QObject* parent = nullptr);

  TColor Low() const { return FLow; }
  void SetLow(TColor value);
  TColor High() const { return FHigh; }
  void SetHigh(TColor value);
  // Low for an index of 0 or less, High otherwise.
  TColor GetColors(int index) const;
  // Copies both colours; the owner is told exactly once.
  void Assign(const TVrPalette& source);

private:
  TColor FLow = clGreen;
  TColor FHigh = clLime;
};

enum TVrBevelStyle { bsNone = 0, bsLowered = 1, bsRaised = 2 };
enum TVrBevelOutlineStyle { osOuter = 0, osInner = 1, osNone = 2 };

// A bevelled border of up to two 3-D frames with outlines, spaces and an
// outer solid border, drawn inward from a rectangle's edge.
class TVrBevel : public TVrPersistent {
  Q_OBJECT
public:
  explicit TVrBevel(QObject* parent = nullptr);

  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor value);
  TColor InnerShadow() const { return FInnerShadow; }
  void SetInnerShadow(TColor value);
  TColor InnerHighlight() const { return FInnerHighlight; }
  void SetInnerHighlight(TColor value);
  int InnerWidth() const { return FInnerWidth; }
  void SetInnerWidth(int value);
  TVrBevelStyle InnerStyle() const { return FInnerStyle; }
  void SetInnerStyle(TVrBevelStyle value);
  TVrBevelOutlineStyle InnerOutline() const { return FInnerOutline; }
  void SetInnerOutline(TVrBevelOutlineStyle value);
  int InnerSpace() const { return FInnerSpace; }
  void SetInnerSpace(int value);
  TColor InnerColor() const { return FInnerColor; }
  void SetInnerColor(TColor value);
  TColor OuterShadow() const { return FOuterShadow; }
  void SetOuterShadow(TColor value);
  TColor OuterHighlight() const { return FOuterHighlight; }
  void SetOuterHighlight(TColor value);
  int OuterWidth() const { return FOuterWidth; }
  void SetOuterWidth(int value);
  TVrBevelStyle OuterStyle() const { return FOuterStyle; }
  void SetOuterStyle(TVrBevelStyle value);
  TVrBevelOutlineStyle OuterOutline() const { return FOuterOutline; }
  void SetOuterOutline(TVrBevelOutlineStyle value);
  int OuterSpace() const { return FOuterSpace; }
  void SetOuterSpace(int value);
  TColor OuterColor() const { return FOuterColor; }
  void SetOuterColor(TColor value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool value);

  // Copies all properties; the owner is told exactly once.
  void Assign(const TVrBevel& source);
  // Pixels the bevel takes on each side; 0 when invisible.
  int TotalWidth() const;
  // Shrinks rect on all sides by TotalWidth().
  void GetVisibleArea(QRect& rect) const;
  // Draws the bevel inward from rect's edge; rect comes back as the area inside.
  // System colours are resolved with w's palette.
  void Paint(QPainter& canvas, QRect& rect, const QWidget* w) const;

private:
  template <typename T>
  void Store(T& field, T value);

  int FBorderWidth = 0;
  TColor FBorderColor = clBtnFace;
  TColor FInnerShadow = clBtnShadow;
  TColor FInnerHighlight = clBtnHighlight;
  int FInnerWidth = 1;
  TVrBevelStyle FInnerStyle = bsLowered;
  TVrBevelOutlineStyle FInnerOutline = osNone;
  int FInnerSpace = 1;
  TColor FInnerColor = clBtnFace;
  TColor FOuterShadow = clBtnShadow;
  TColor FOuterHighlight = clBtnHighlight;
  int FOuterWidth = 1;
  TVrBevelStyle FOuterStyle = bsRaised;
  TVrBevelOutlineStyle FOuterOutline = osOuter;
  int FOuterSpace = 0;
  TColor FOuterColor = clBtnFace;
  bool FVisible = true;
};

// A self-painting control with a repaint gate: UpdateControlCanvas repaints at
// once, except while the control is loading or inside BeginUpdate/EndUpdate.
class TVrCustomControl : public QWidget {
  Q_OBJECT
public:
  explicit TVrCustomControl(QWidget* parent = nullptr);

  // Repaints synchronously unless loading or an update is in progress.
  virtual void UpdateControlCanvas();
  void BeginUpdate();
  // Counter - 1 (never below 0), then UpdateControlCanvas().
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // The window's construction code brackets the setting of properties with
  // these: in between, setters only store; EndLoading calls Loaded(), which
  // builds the cached images once, then repaints.
  void BeginLoading();
  void EndLoading();
  bool Loading() const { return FLoading; }

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& value);
  // Background colour of the control.
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  // Whether the control takes the focus by the Tab key and by a click.
  bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
  void SetTabStop(bool value);

  QString Version() const { return QStringLiteral("1.3"); }
  // Paints done so far.
  int PaintCount() const { return FPaintCount; }
  // c resolved against this control's palette.
  QColor ToQColor(TColor c) const { return ColorToQColor(c, this); }

signals:
  void OnMouseEnter(QObject* Sender);
  void OnMouseLeave(QObject* Sender);
  void OnFontChanged(QObject* Sender);
  void OnTextChanged(QObject* Sender);

protected:
  // Draws the control; the default draws nothing.
  virtual void Paint() {}
  // Called once at the end of loading, before the repaint.
  virtual void Loaded() {}
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void FontChanged();
  virtual void TextChanged();
  // Color changed; the default repaints.
  virtual void ColorChanged();
  // The desktop palette changed (system colours); the default repaints.
  virtual void SystemColorsChanged();
  // TabStop changed.
  virtual void TabStopChanged() {}

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  int FUpdateCount = 0;
  bool FLoading = false;
  QString FCaption;
  TColor FColor = clBtnFace;
  int FPaintCount = 0;
};

// A control that draws its whole look into an off-screen image of its own size
// (times the screen's device pixel ratio) and copies it to the window in one step.
class TVrCustomImageControl : public TVrCustomControl {
  Q_OBJECT
public:
  explicit TVrCustomImageControl(QWidget* parent = nullptr);
  ~TVrCustomImageControl() override;

  // The off-screen image; painters on it draw in logical coordinates.
  QImage& Bitmap() { return FBitmap; }
  const QImage& Bitmap() const { return FBitmap; }
  // A painter on the off-screen image, opened on first use and closed by
  // Paint() and ClearBitmapCanvas().
  QPainter& GetBitmapCanvas();

protected:
  // Sizes the image to the control and fills it with Color.
  virtual void ClearBitmapCanvas();
  // Copies the finished image to the window; descendants build it, then call this.
  void Paint() override;

private:
  void EndBitmapCanvas();

  QImage FBitmap;
  std::unique_ptr<QPainter> FCanvas;
};
