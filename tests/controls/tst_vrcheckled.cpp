// The LED check control: layout, look in each state, mouse, keys, mnemonic,
// radio groups, disabled look and right-to-left.

#include "controls/VrCheckLed.h"
#include "TestSettings.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

const QColor kFace(200, 190, 180), kShadow(90, 80, 70), kLight(250, 245, 240), kText(10, 20, 200);

QRgb Px(const QImage& image, QPoint p) { return image.pixel(p) | 0xFF000000u; }
QRgb Rgb(TColor c) { return ColorToQColor(c).rgb(); }

// Counts the pixels of colour c inside r.
int CountColor(const QImage& image, const QRect& r, QColor c) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (image.valid(x, y) && (image.pixel(x, y) | 0xFF000000u) == c.rgb())
        ++n;
  return n;
}

// A shown top-level window with distinctive desktop colours and a font
// without anti-aliasing, so pixel colours are exact.
struct Window {
  QWidget top;
  Window() {
    QPalette pal = top.palette();
    pal.setColor(QPalette::Button, kFace);
    pal.setColor(QPalette::Dark, kShadow);
    pal.setColor(QPalette::Light, kLight);
    pal.setColor(QPalette::WindowText, kText);
    top.setPalette(pal);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(14);
    f.setStyleStrategy(QFont::NoAntialias);
    top.setFont(f);
    top.resize(400, 300);
  }
  TVrCheckLed* Add(QWidget* parent, int x, int y, const QString& caption = {}) {
    auto* led = new TVrCheckLed(parent ? parent : &top);
    led->move(x, y);
    led->SetCaption(caption);
    return led;
  }
  bool Show() {
    top.show();
    if (!QTest::qWaitForWindowExposed(&top))
      return false;
    const auto leds = top.findChildren<TVrCheckLed*>();
    return WaitUntil([&leds] {
      for (auto* led : leds)
        if (led->isVisible() && led->PaintCount() == 0)
          return false;
      return true;
    });
  }
};

QPoint Centre(const TVrCheckLed* led) { return led->GlyphRect().center(); }
// The lit or dark area inside the LED's four frames.
QRect Inner(const TVrCheckLed* led) { return led->GlyphRect().adjusted(4, 4, -4, -4); }

}  // namespace

class TestVrCheckLed : public QObject {
  Q_OBJECT
private slots:
  void layoutOfEmptyCaption();
  void layoutAroundCaption();
  void settersRepaintOnlyOnChange();
  void loadingDefersLayoutAndPaint();
  void looksDarkAndLit();
  void hoverShowsCheckerboard();
  void pressMoveOffReleaseRestores();
  void pressReleaseInvertsOnce();
  void pressElsewhereDoesNothing();
  void radioGroups();
  void spaceKeyInvertsWithoutChange();
  void mnemonic();
  void disabledIsEngravedAndDeaf();
  void focusRectangle();
  void rightToLeftLikeLeftToRight();
};

void TestVrCheckLed::layoutOfEmptyCaption() {
  TVrCheckLed led;
  QCOMPARE(led.size(), QSize(125, 25));
  QCOMPARE(led.GlyphRect(), QRect(54, 7, 20, 13));
  QCOMPARE(led.TextRect().size(), QSize(0, 0));
  QCOMPARE(led.Checked(), false);
  QCOMPARE(led.CheckStyle(), csCheckbox);
  QCOMPARE(led.Margin(), -1);
  QCOMPARE(led.Spacing(), 5);
  QVERIFY(!led.TabStop());
  QCOMPARE(led.Palette()->Low(), clGreen);
  QCOMPARE(led.Palette()->High(), clLime);

  // The spacing counts for nothing without a caption.
  led.SetSpacing(30);
  QCOMPARE(led.GlyphRect(), QRect(54, 7, 20, 13));
  led.SetMargin(0);
  QCOMPARE(led.GlyphRect().topLeft(), QPoint(1, 7));
}

void TestVrCheckLed::layoutAroundCaption() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 0, 0, QStringLiteral("&Brake Lamp"));
  const QSize text = QFontMetrics(led->font()).size(Qt::TextShowMnemonic, QStringLiteral("Brake Lamp"));
  // The ampersand is not measured.
  QCOMPARE(led->TextRect().size(), text);

  // Centred as a group, text 5 pixels after the LED, both centred vertically.
  QRect g = led->GlyphRect().translated(-1, -1), t = led->TextRect().translated(-1, -1);
  QCOMPARE(t.left(), g.right() + 1 + 5);
  const int leftGap = g.left(), rightGap = 125 - (t.right() + 1);
  QVERIFY2(leftGap - rightGap == 0 || leftGap - rightGap == 1, qPrintable(QString("%1 %2").arg(leftGap).arg(rightGap)));
  QVERIFY(qAbs(g.top() - (25 - g.bottom() - 1)) <= 1);
  QVERIFY(qAbs(t.top() - (25 - t.bottom() - 1)) <= 1);

  // LED on the right at a given margin, caption before it.
  led->SetLayout(ImageRight);
  led->SetMargin(4);
  g = led->GlyphRect().translated(-1, -1);
  t = led->TextRect().translated(-1, -1);
  QCOMPARE(g.right() + 1, 125 - 4);
  QCOMPARE(t.right() + 1 + 5, g.left());

  // Margin and spacing both computed: three equal gaps.
  led->resize(125, 90);
  led->SetLayout(ImageTop);
  led->SetMargin(-1);
  led->SetSpacing(-1);
  g = led->GlyphRect().translated(-1, -1);
  t = led->TextRect().translated(-1, -1);
  const int gap = (90 - 13 - text.height()) / 3;
  QCOMPARE(g.top(), gap);
  QCOMPARE(t.top(), g.bottom() + 1 + gap);
  QVERIFY(qAbs(g.left() - (125 - g.right() - 1)) <= 1);

  // LED at the bottom, margin given, spacing spreads the rest.
  led->SetLayout(ImageBottom);
  led->SetMargin(2);
  g = led->GlyphRect().translated(-1, -1);
  t = led->TextRect().translated(-1, -1);
  QCOMPARE(g.bottom() + 1, 90 - 2);
  const int spread = (90 - 2 - 13 - text.height()) / 2;
  QCOMPARE(t.bottom() + 1 + spread, g.top());

  // A caption wider than the control pushes the LED past the left edge.
  led->SetLayout(ImageLeft);
  led->SetMargin(-1);
  led->SetSpacing(5);
  led->resize(60, 25);
  QVERIFY(led->GlyphRect().left() < 1);
}

void TestVrCheckLed::settersRepaintOnlyOnChange() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Park"));
  QVERIFY(win.Show());
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  // No event loop runs below: every paint counted is a synchronous one.
  int base = led->PaintCount();
  led->SetCheckWidth(20);
  led->SetCheckHeight(13);
  led->SetLayout(ImageLeft);
  led->SetMargin(-1);
  led->SetSpacing(5);
  led->SetChecked(false);
  led->SetCheckStyle(csRadioButton);
  QCOMPARE(led->PaintCount(), base);

  led->SetCheckWidth(30);
  QCOMPARE(led->PaintCount(), base + 1);
  QCOMPARE(led->GlyphRect().width(), 30);
  led->SetCheckHeight(11);
  led->SetLayout(ImageRight);
  led->SetMargin(3);
  led->SetSpacing(2);
  QCOMPARE(led->PaintCount(), base + 5);
  QCOMPARE(changes.count(), 0);

  led->SetChecked(true);
  QCOMPARE(led->PaintCount(), base + 6);
  QCOMPARE(changes.count(), 1);
  QCOMPARE(changes.at(0).at(0).value<QObject*>(), led);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clLime));

  // A palette change repaints at once; an equal one does nothing.
  led->Palette()->SetHigh(clRed);
  QCOMPARE(led->PaintCount(), base + 7);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clRed));
  TVrPalette same;
  same.SetHigh(clRed);
  led->SetPalette(same);  // Assign tells the owner once, changed or not
  QCOMPARE(led->PaintCount(), base + 8);
  QCOMPARE(led->Palette()->High(), clRed);
}

void TestVrCheckLed::loadingDefersLayoutAndPaint() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 0, 0);
  QVERIFY(win.Show());
  const int base = led->PaintCount();
  led->BeginLoading();
  led->setGeometry(0, 0, 81, 25);
  led->SetCheckWidth(30);
  led->SetCaption(QStringLiteral("Dump"));
  led->SetChecked(true);
  QCOMPARE(led->PaintCount(), base);
  led->EndLoading();
  QCOMPARE(led->PaintCount(), base + 1);
  QCOMPARE(led->GlyphRect().width(), 30);
  QVERIFY(led->TextRect().width() > 0);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clLime));
}

void TestVrCheckLed::looksDarkAndLit() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 0, 0);
  QVERIFY(win.Show());
  const QImage dark = led->Bitmap();
  const QRect g = led->GlyphRect();
  const int y = g.center().y();
  // Four frames from the outside in, then the dark inside, 12 x 5.
  QCOMPARE(Px(dark, {g.left(), y}), kLight.rgb());
  QCOMPARE(Px(dark, {g.right(), y}), Rgb(clBlack));
  QCOMPARE(Px(dark, {g.left() + 1, y}), kLight.rgb());
  QCOMPARE(Px(dark, {g.right() - 1, y}), kShadow.rgb());
  QCOMPARE(Px(dark, {g.left() + 2, y}), kFace.rgb());
  QCOMPARE(Px(dark, {g.right() - 2, y}), kFace.rgb());
  QCOMPARE(Px(dark, {g.left() + 3, y}), Rgb(clBlack));
  QCOMPARE(Px(dark, {g.right() - 3, y}), kLight.rgb());
  QCOMPARE(Inner(led).size(), QSize(12, 5));
  QCOMPARE(CountColor(dark, led->rect(), ColorToQColor(clGreen)), 12 * 5);
  QCOMPARE(CountColor(dark, Inner(led), ColorToQColor(clGreen)), 12 * 5);
  // Background in the button face colour.
  QCOMPARE(Px(dark, {0, 0}), kFace.rgb());
  QCOMPARE(Px(dark, {124, 24}), kFace.rgb());

  led->SetChecked(true);
  const QImage lit = led->Bitmap();
  QCOMPARE(Px(lit, {g.left(), y}), Rgb(clBlack));
  QCOMPARE(Px(lit, {g.right(), y}), kLight.rgb());
  QCOMPARE(Px(lit, {g.left() + 1, y}), kLight.rgb());
  QCOMPARE(CountColor(lit, Inner(led), ColorToQColor(clLime)), 12 * 5);
  QCOMPARE(CountColor(lit, led->rect(), ColorToQColor(clGreen)), 0);
}

void TestVrCheckLed::hoverShowsCheckerboard() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 11, 20, QStringLiteral("Retarder"));
  QVERIFY(win.Show());
  const QRgb low = Rgb(clGreen), high = Rgb(clLime);
  auto checkerboard = [led, low, high] {
    const QRect r = Inner(led);
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        // Anchored at the control's corner, whatever its place on the parent.
        if (Px(led->Bitmap(), {x, y}) != ((x + y) % 2 == 0 ? low : high))
          return false;
    return true;
  };
  QVERIFY(!checkerboard());
  QTest::mouseMove(led, Centre(led));
  QVERIFY(WaitUntil(checkerboard));

  // Over a checked LED it stays lit.
  led->SetChecked(true);
  QCOMPARE(CountColor(led->Bitmap(), Inner(led), ColorToQColor(clLime)), 12 * 5);
  led->SetChecked(false);
  QVERIFY(checkerboard());

  // Off the LED (over the caption) it is dark again.
  QTest::mouseMove(led, led->TextRect().center());
  QVERIFY(WaitUntil([led] { return CountColor(led->Bitmap(), Inner(led), ColorToQColor(clGreen)) == 12 * 5; }));
}

void TestVrCheckLed::pressMoveOffReleaseRestores() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Hoist"));
  QVERIFY(win.Show());
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), true);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clLime));
  const QPoint outside(led->width() + 30, led->height() + 30);
  QTest::mouseMove(led, outside);
  QTest::mouseRelease(led, Qt::LeftButton, {}, outside);
  QCOMPARE(led->Checked(), false);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clGreen));
  QCOMPARE(changes.count(), 0);

  // The same from a checked LED: back to lit.
  led->SetChecked(true);
  changes.clear();
  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), false);
  QTest::mouseRelease(led, Qt::LeftButton, {}, led->TextRect().center());
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 0);
}

void TestVrCheckLed::pressReleaseInvertsOnce() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Hoist"));
  QVERIFY(win.Show());
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(changes.count(), 0);
  QTest::mouseRelease(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 1);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clLime));

  // Released on another pixel of the LED still counts as inside.
  const QPoint corner = led->GlyphRect().bottomRight();
  QTest::mousePress(led, Qt::LeftButton, {}, led->GlyphRect().topLeft());
  QTest::mouseRelease(led, Qt::LeftButton, {}, corner);
  QCOMPARE(led->Checked(), false);
  QCOMPARE(changes.count(), 2);

  // A double click arrives as press, release, double-click press, release:
  // it inverts twice.
  changes.clear();
  QTest::mouseClick(led, Qt::LeftButton, {}, Centre(led));
  QTest::mouseDClick(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), false);  // shown inverted while held
  QTest::mouseRelease(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(changes.count(), 2);
  QCOMPARE(led->Checked(), false);
}

void TestVrCheckLed::pressElsewhereDoesNothing() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Hoist"));
  QVERIFY(win.Show());
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  QTest::mouseClick(led, Qt::LeftButton, {}, led->TextRect().center());
  // Just outside the LED's right edge.
  QTest::mouseClick(led, Qt::LeftButton, {}, QPoint(led->GlyphRect().right() + 1, Centre(led).y()));
  QTest::mouseClick(led, Qt::RightButton, {}, Centre(led));
  QTest::mouseClick(led, Qt::MiddleButton, {}, Centre(led));
  QCOMPARE(led->Checked(), false);
  QCOMPARE(changes.count(), 0);
  // Without TabStop a click does not take the focus.
  QVERIFY(!led->hasFocus());
}

void TestVrCheckLed::radioGroups() {
  Window win;
  QStringList order;
  auto make = [&](QWidget* parent, const QString& name, int y, TVrCheckLedStyle style) {
    TVrCheckLed* led = win.Add(parent, 0, y, name);
    led->SetCheckStyle(style);
    connect(led, &TVrCheckLed::OnChange, led, [&order, name] { order << name; });
    return led;
  };
  TVrCheckLed* a = make(nullptr, "A", 0, csCheckbox);
  TVrCheckLed* b = make(nullptr, "B", 30, csCheckbox);
  TVrCheckLed* box = make(nullptr, "Box", 60, csCheckbox);
  TVrCheckLed* c = make(nullptr, "C", 90, csRadioButton);
  auto* other = new QWidget(&win.top);
  other->setGeometry(200, 0, 150, 60);
  TVrCheckLed* elsewhere = make(other, "Elsewhere", 0, csRadioButton);
  QVERIFY(win.Show());

  // Changing the style has no immediate effect: two radio LEDs may be on.
  a->SetChecked(true);
  b->SetChecked(true);
  box->SetChecked(true);
  elsewhere->SetChecked(true);
  a->SetCheckStyle(csRadioButton);
  b->SetCheckStyle(csRadioButton);
  QVERIFY(a->Checked() && b->Checked());
  order.clear();

  // Clicking C switches A and B off in the parent's order, before C's own OnChange.
  QTest::mouseClick(c, Qt::LeftButton, {}, Centre(c));
  QCOMPARE(order, (QStringList{"A", "B", "C"}));
  QVERIFY(!a->Checked() && !b->Checked() && c->Checked());
  QCOMPARE(Px(a->Bitmap(), Centre(a)), Rgb(clGreen));
  // Check boxes and radio LEDs on another parent are left alone.
  QVERIFY(box->Checked());
  QVERIFY(elsewhere->Checked());

  // Checking B from the program switches C off.
  order.clear();
  b->SetChecked(true);
  QCOMPARE(order, (QStringList{"C", "B"}));
  QVERIFY(!c->Checked());

  // Clicking the one that is on switches it off, leaving none on.
  order.clear();
  QTest::mouseClick(b, Qt::LeftButton, {}, Centre(b));
  QCOMPARE(order, QStringList{"B"});
  QVERIFY(!a->Checked() && !b->Checked() && !c->Checked());

  // A check box going on touches nobody.
  order.clear();
  box->SetChecked(false);
  a->SetChecked(true);
  order.clear();
  box->SetChecked(true);
  QCOMPARE(order, QStringList{"Box"});
  QVERIFY(a->Checked());
}

void TestVrCheckLed::spaceKeyInvertsWithoutChange() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Engine"));
  TVrCheckLed* sibling = win.Add(nullptr, 10, 40, QStringLiteral("Other"));
  led->SetCheckStyle(csRadioButton);
  sibling->SetCheckStyle(csRadioButton);
  sibling->SetChecked(true);
  led->SetTabStop(true);
  QVERIFY(win.Show());
  QApplication::setActiveWindow(&win.top);
  led->setFocus();
  QVERIFY(WaitUntil([led] { return led->hasFocus(); }));
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), true);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), Rgb(clLime));
  QTest::keyClick(led, Qt::Key_A);
  QCOMPARE(led->Checked(), true);
  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), false);
  QCOMPARE(changes.count(), 0);
  // No radio handling either.
  QCOMPARE(sibling->Checked(), true);
}

void TestVrCheckLed::mnemonic() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("&Brake"));
  TVrCheckLed* plain = win.Add(nullptr, 10, 40, QStringLiteral("&Lamp"));
  QVERIFY(win.Show());
  QApplication::setActiveWindow(&win.top);
  QVERIFY(QTest::qWaitForWindowActive(&win.top));
  QSignalSpy changes(led, &TVrCheckLed::OnChange);
  QSignalSpy plainChanges(plain, &TVrCheckLed::OnChange);

  // Without TabStop the LED cannot take the focus and ignores its mnemonic.
  led->SetTabStop(false);
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QTest::keyClick(&win.top, Qt::Key_L, Qt::AltModifier);
  QCOMPARE(changes.count(), 0);
  QCOMPARE(plainChanges.count(), 0);
  QVERIFY(!plain->Checked());

  led->SetTabStop(true);
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QVERIFY(WaitUntil([&changes] { return changes.count() == 1; }));
  QCOMPARE(led->Checked(), true);
  QVERIFY(led->hasFocus());

  // A new caption moves the mnemonic.
  led->SetCaption(QStringLiteral("&Dump"));
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QTest::keyClick(&win.top, Qt::Key_D, Qt::AltModifier);
  QVERIFY(WaitUntil([&changes] { return changes.count() == 2; }));
  QCOMPARE(led->Checked(), false);

  // Disabled: ignored.
  led->setEnabled(false);
  QTest::keyClick(&win.top, Qt::Key_D, Qt::AltModifier);
  QCoreApplication::processEvents();
  QCOMPARE(changes.count(), 2);
}

void TestVrCheckLed::disabledIsEngravedAndDeaf() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Body Up"));
  QVERIFY(win.Show());
  const QRect text = led->TextRect().adjusted(-3, -3, 3, 3);
  const QImage enabled = led->Bitmap();
  QVERIFY(CountColor(enabled, text, kText) > 10);
  QCOMPARE(CountColor(enabled, text, kShadow), 0);
  QCOMPARE(CountColor(enabled, text, kLight), 0);

  const int base = led->PaintCount();
  led->setEnabled(false);
  QVERIFY(led->PaintCount() > base);
  const QImage disabled = led->Bitmap();
  QCOMPARE(CountColor(disabled, text, kText), 0);
  QVERIFY(CountColor(disabled, text, kShadow) > 10);
  QVERIFY(CountColor(disabled, text, kLight) > 10);
  // The highlight copy sits one pixel right and down: where the shadow text
  // has its right-most pixel, the highlight shows just beyond it.
  int shadowRight = -1, lightRight = -1;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) {
      const QRgb p = Px(disabled, {x, y});
      if (p == kShadow.rgb())
        shadowRight = std::max(shadowRight, x);
      if (p == kLight.rgb())
        lightRight = std::max(lightRight, x);
    }
  QCOMPARE(lightRight, shadowRight + 1);

  // The LED keeps its colours.
  QCOMPARE(CountColor(disabled, Inner(led), ColorToQColor(clGreen)), 12 * 5);
  QCOMPARE(Px(disabled, {led->GlyphRect().left(), Centre(led).y()}), kLight.rgb());

  // Clicks and keys are not delivered to a disabled control.
  QSignalSpy changes(led, &TVrCheckLed::OnChange);
  QTest::mouseClick(led, Qt::LeftButton, {}, Centre(led));
  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), false);
  QTest::mouseRelease(led, Qt::LeftButton, {}, Centre(led));
  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), false);
  QCOMPARE(changes.count(), 0);
  // The program can still set it.
  led->SetChecked(true);
  QCOMPARE(CountColor(led->Bitmap(), Inner(led), ColorToQColor(clLime)), 12 * 5);
}

void TestVrCheckLed::focusRectangle() {
  Window win;
  TVrCheckLed* led = win.Add(nullptr, 10, 10, QStringLiteral("Fault"));
  led->SetTabStop(true);
  QVERIFY(win.Show());
  QApplication::setActiveWindow(&win.top);
  QVERIFY(QTest::qWaitForWindowActive(&win.top));
  // The window hands the focus to its first control when it activates.
  led->clearFocus();
  QVERIFY(WaitUntil([led] { return !led->hasFocus(); }));
  led->UpdateControlCanvas();
  const QImage before = led->Bitmap();

  // A click on the LED of a TabStop control takes the focus.
  QTest::mouseClick(led, Qt::LeftButton, {}, Centre(led));
  QVERIFY(WaitUntil([led] { return led->hasFocus(); }));
  led->SetChecked(false);
  const QImage focused = led->Bitmap();
  const QRect ring = led->TextRect().adjusted(-2, -2, 2, 2);
  int onRing = 0;
  for (int y = 0; y < led->height(); ++y)
    for (int x = 0; x < led->width(); ++x) {
      if (Px(before, {x, y}) == Px(focused, {x, y}))
        continue;
      const bool border = ring.contains(x, y) && !ring.adjusted(1, 1, -1, -1).contains(x, y);
      QVERIFY2(border, qPrintable(QString("pixel %1,%2 changed off the focus rectangle").arg(x).arg(y)));
      // Inverted, not painted over.
      QCOMPARE(Px(focused, {x, y}), ~Px(before, {x, y}) | 0xFF000000u);
      ++onRing;
    }
  // Dotted: some of the ring's pixels, not all.
  const int ringPixels = 2 * (ring.width() + ring.height()) - 4;
  QVERIFY(onRing > ringPixels / 4);
  QVERIFY(onRing < ringPixels);

  // Losing the focus takes the rectangle away.
  led->clearFocus();
  QVERIFY(WaitUntil([led] { return !led->hasFocus(); }));
  QCOMPARE(led->Bitmap(), before);
}

void TestVrCheckLed::rightToLeftLikeLeftToRight() {
  Window win;
  TVrCheckLed* ltr = win.Add(nullptr, 0, 0, QStringLiteral("Lamp: (on)"));
  TVrCheckLed* rtl = win.Add(nullptr, 0, 40, QStringLiteral("Lamp: (on)"));
  rtl->setLayoutDirection(Qt::RightToLeft);
  ltr->SetLayout(ImageRight);
  rtl->SetLayout(ImageRight);
  ltr->resize(161, 25);
  rtl->resize(161, 25);
  QVERIFY(win.Show());
  QCOMPARE(rtl->GlyphRect(), ltr->GlyphRect());
  QCOMPARE(rtl->TextRect(), ltr->TextRect());
  QCOMPARE(rtl->Bitmap(), ltr->Bitmap());
  QCOMPARE(rtl->grab().toImage(), ltr->grab().toImage());

  // Nor does a right-to-left desktop change it.
  const QImage reference = ltr->Bitmap();
  QApplication::setLayoutDirection(Qt::RightToLeft);
  ltr->UpdateControlCanvas();
  const QImage mirroredDesktop = ltr->Bitmap();
  QApplication::setLayoutDirection(Qt::LeftToRight);
  QCOMPARE(mirroredDesktop, reference);

  // The mouse is not mirrored either.
  QTest::mouseClick(rtl, Qt::LeftButton, {}, Centre(rtl));
  QCOMPARE(rtl->Checked(), true);
  ltr->SetChecked(true);
  QCOMPARE(rtl->Bitmap(), ltr->Bitmap());
}

QTEST_MAIN(TestVrCheckLed)
#include "tst_vrcheckled.moc"
