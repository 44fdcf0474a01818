#pragma once
// A check box drawn as a small rectangular LED beside a caption: lit in the
// palette's High colour when checked, dark in its Low colour when not. Only the
// LED reacts to the mouse; radio-style LEDs on one parent switch each other off.

#include "controls/VrControls.h"

#include <QRect>

enum TVrCheckLedStyle { csRadioButton = 0, csCheckbox = 1 };
enum TVrImageTextLayout { ImageLeft = 0, ImageRight = 1, ImageTop = 2, ImageBottom = 3 };

class TVrCheckLed : public TVrCustomImageControl {
  Q_OBJECT
public:
  explicit TVrCheckLed(QWidget* parent = nullptr);

  // LED size in pixels, frame included (meant for 10 to 40; not enforced).
  int CheckWidth() const { return FCheckWidth; }
  void SetCheckWidth(int value);
  int CheckHeight() const { return FCheckHeight; }
  void SetCheckHeight(int value);
  bool Checked() const { return FChecked; }
  // Repaints, switches off radio-style siblings when a radio LED goes on, then
  // calls OnChange; an equal value does nothing.
  void SetChecked(bool value);
  TVrImageTextLayout Layout() const { return FLayout; }
  void SetLayout(TVrImageTextLayout value);
  // Distance from the control's edge to the LED; -1 centres LED and caption.
  int Margin() const { return FMargin; }
  void SetMargin(int value);
  // Distance between the LED and the caption; -1 spreads the free space.
  int Spacing() const { return FSpacing; }
  void SetSpacing(int value);
  TVrPalette* Palette() const { return FPalette; }
  void SetPalette(const TVrPalette& value);
  TVrCheckLedStyle CheckStyle() const { return FCheckStyle; }
  void SetCheckStyle(TVrCheckLedStyle value) { FCheckStyle = value; }

  // The LED's rectangle, the only part that reacts to the mouse.
  QRect GlyphRect() const;
  // The caption's rectangle, the size of the measured text.
  QRect TextRect() const;

signals:
  void OnChange(QObject* Sender);

protected:
  virtual void Change();
  void Paint() override;
  void Loaded() override;
  void MouseLeave() override;
  void FontChanged() override;
  void TextChanged() override;
  void TabStopChanged() override;

  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

private:
  // Recomputes the layout and repaints; deferred while loading.
  void AdjustBounds();
  void CalcLayout() const;
  void UpdateMnemonic();

  int FCheckWidth = 20;
  int FCheckHeight = 13;
  bool FChecked = false;
  TVrImageTextLayout FLayout = ImageLeft;
  int FMargin = -1;
  int FSpacing = 5;
  TVrPalette* FPalette;
  TVrCheckLedStyle FCheckStyle = csCheckbox;

  // The layout, and the size it was made for: a hidden control gets no resize
  // events, so a stale size is caught when the layout is next used.
  mutable QRect FGlyphRect;
  mutable QRect FTextRect;
  mutable QSize FLayoutSize;
  bool FPressed = false;
  bool FSavedChecked = false;
  bool FMouseOverGlyph = false;
  int FShortcutId = 0;
};
