// The LED check control: layout, look in each state, mouse, keys, mnemonic,
// radio groups, disabled look and right-to-left.

#include "TestSettings.h"
#include "controls/VrCheckLed.h"

#include <QApplication>
#include <QCheckBox>
#include <QSignalSpy>
#include <QTest>

namespace {

const QColor kFace(200, 190, 180), kShadow(90, 80, 70), kLight(250, 245, 240), kText(10, 20, 200);
const QColor kLow = ColorToQColor(clGreen), kHigh = ColorToQColor(clLime);

QRgb Px(const QImage& image, QPoint p) { return image.pixel(p) | 0xFF000000u; }

int CountColor(const QImage& image, const QRect& r, QColor c) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += image.valid(x, y) && Px(image, {x, y}) == c.rgb();
  return n;
}

QPoint Centre(const TVrCheckLed* led) { return led->GlyphRect().center(); }
// The lit or dark area inside the LED's four frames.
QRect Inner(const TVrCheckLed* led) { return led->GlyphRect().adjusted(4, 4, -4, -4); }
bool AllOf(const TVrCheckLed* led, QColor c) { return CountColor(led->Bitmap(), Inner(led), c) == 12 * 5; }

// A top-level window with distinctive desktop colours and a font without
// anti-aliasing, so pixel colours are exact.
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
  TVrCheckLed* Add(int x, int y, const QString& caption = {}, QWidget* parent = nullptr) {
    auto* led = new TVrCheckLed(parent ? parent : &top);
    led->move(x, y);
    led->SetCaption(caption);
    return led;
  }
  bool Show(bool active = false) {
    top.show();
    if (!QTest::qWaitForWindowExposed(&top)) return false;
    if (active) {
      QApplication::setActiveWindow(&top);
      if (!QTest::qWaitForWindowActive(&top)) return false;
    }
    const auto leds = top.findChildren<TVrCheckLed*>();
    return WaitUntil(
        [&leds] { return std::all_of(leds.begin(), leds.end(), [](auto* led) { return led->PaintCount() > 0; }); });
  }
};

}  // namespace

class TestVrCheckLed : public QObject {
  Q_OBJECT
private slots:
  void layout();
  void settersAndLoading();
  void looks();
  void hoverShowsCheckerboard();
  void mouse();
  void radioGroups();
  void spaceKeyAndMnemonic();
  void disabledIsEngravedAndDeaf();
  void focusRectangle();
  void rightToLeftLikeLeftToRight();
};

void TestVrCheckLed::layout() {
  TVrCheckLed led;
  QCOMPARE(led.GlyphRect(), QRect(54, 7, 20, 13));
  QCOMPARE(led.TextRect().size(), QSize(0, 0));
  led.SetSpacing(30);  // counts for nothing without a caption
  QCOMPARE(led.GlyphRect(), QRect(54, 7, 20, 13));

  // The ampersand is not measured.
  led.SetCaption(QStringLiteral("&Brake Lamp"));
  const QSize text = QFontMetrics(led.font()).size(Qt::TextShowMnemonic, QStringLiteral("Brake Lamp"));
  QCOMPARE(led.TextRect().size(), text);

  // Centred as a group with the text 30 pixels after the LED; both centred vertically.
  QRect g = led.GlyphRect().translated(-1, -1), t = led.TextRect().translated(-1, -1);
  QCOMPARE(t.left(), g.right() + 1 + 30);
  const int leftGap = g.left(), rightGap = 125 - (t.right() + 1);
  QVERIFY(leftGap - rightGap == 0 || leftGap - rightGap == 1);
  QVERIFY(qAbs(g.top() - (25 - g.bottom() - 1)) <= 1);
  QVERIFY(qAbs(t.top() - (25 - t.bottom() - 1)) <= 1);

  // LED on the right at a given margin, caption before it.
  led.SetSpacing(5);
  led.SetLayout(ImageRight);
  led.SetMargin(4);
  g = led.GlyphRect().translated(-1, -1);
  t = led.TextRect().translated(-1, -1);
  QCOMPARE(g.right() + 1, 125 - 4);
  QCOMPARE(t.right() + 1 + 5, g.left());

  // LED on top, margin and spacing both computed: equal gaps, LED centred across.
  led.resize(125, 90);
  led.SetLayout(ImageTop);
  led.SetMargin(-1);
  led.SetSpacing(-1);
  g = led.GlyphRect().translated(-1, -1);
  t = led.TextRect().translated(-1, -1);
  const int gap = (90 - 13 - text.height()) / 3;
  QCOMPARE(g.top(), gap);
  QCOMPARE(t.top(), g.bottom() + 1 + gap);
  QVERIFY(qAbs(g.left() - (125 - g.right() - 1)) <= 1);

  // LED at the bottom at a given margin; the spacing takes half the rest.
  led.SetLayout(ImageBottom);
  led.SetMargin(2);
  g = led.GlyphRect().translated(-1, -1);
  t = led.TextRect().translated(-1, -1);
  QCOMPARE(g.bottom() + 1, 90 - 2);
  QCOMPARE(t.bottom() + 1 + (90 - 2 - 13 - text.height()) / 2, g.top());

  // A caption wider than the control (resized while hidden) pushes the LED
  // past the left edge.
  led.SetLayout(ImageLeft);
  led.SetMargin(-1);
  led.SetSpacing(5);
  led.resize(60, 25);
  QVERIFY(led.GlyphRect().left() < 1);
}

void TestVrCheckLed::settersAndLoading() {
  Window win;
  TVrCheckLed* led = win.Add(10, 10, QStringLiteral("Park"));
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
  QCOMPARE(Px(led->Bitmap(), Centre(led)), kHigh.rgb());
  led->Palette()->SetHigh(clRed);
  QCOMPARE(led->PaintCount(), base + 7);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), ColorToQColor(clRed).rgb());

  // While loading setters only store; the end lays out and paints once.
  base = led->PaintCount();
  led->BeginLoading();
  led->setGeometry(10, 10, 81, 25);
  led->SetCheckWidth(20);
  led->SetCaption(QStringLiteral("Dump"));
  led->SetChecked(false);
  QCOMPARE(led->PaintCount(), base);
  led->EndLoading();
  QCOMPARE(led->PaintCount(), base + 1);
  QCOMPARE(led->GlyphRect().width(), 20);
  QCOMPARE(Px(led->Bitmap(), Centre(led)), kLow.rgb());
}

void TestVrCheckLed::looks() {
  Window win;
  TVrCheckLed* led = win.Add(0, 0);
  QVERIFY(win.Show());
  const QRect g = led->GlyphRect();
  const int y = g.center().y();
  // Four frames from the outside in, left side then right side, then the inside.
  const QRgb darkLeft[] = {kLight.rgb(), kLight.rgb(), kFace.rgb(), ColorToQColor(clBlack).rgb(), kLow.rgb()};
  const QRgb darkRight[] = {ColorToQColor(clBlack).rgb(), kShadow.rgb(), kFace.rgb(), kLight.rgb(), kLow.rgb()};
  for (int i = 0; i < 5; ++i) {
    QCOMPARE(Px(led->Bitmap(), {g.left() + i, y}), darkLeft[i]);
    QCOMPARE(Px(led->Bitmap(), {g.right() - i, y}), darkRight[i]);
  }
  // The inside is 12 x 5 and nothing else is dark green.
  QCOMPARE(CountColor(led->Bitmap(), led->rect(), kLow), 12 * 5);
  QVERIFY(AllOf(led, kLow));
  QCOMPARE(Px(led->Bitmap(), {124, 24}), kFace.rgb());

  // Lit: the outer frame turns round, the inside is lime.
  led->SetChecked(true);
  QCOMPARE(Px(led->Bitmap(), {g.left(), y}), ColorToQColor(clBlack).rgb());
  QCOMPARE(Px(led->Bitmap(), {g.right(), y}), kLight.rgb());
  QVERIFY(AllOf(led, kHigh));
}

void TestVrCheckLed::hoverShowsCheckerboard() {
  Window win;
  TVrCheckLed* led = win.Add(11, 20, QStringLiteral("Retarder"));
  QVERIFY(win.Show());
  auto checkerboard = [led] {
    const QRect r = Inner(led);
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        // Anchored at the control's corner, whatever its place on the parent.
        if (Px(led->Bitmap(), {x, y}) != ((x + y) % 2 == 0 ? kLow : kHigh).rgb()) return false;
    return true;
  };
  QTest::mouseMove(led, Centre(led));
  QVERIFY(WaitUntil(checkerboard));
  // Over a checked LED it stays lit.
  led->SetChecked(true);
  QVERIFY(AllOf(led, kHigh));
  led->SetChecked(false);
  QVERIFY(checkerboard());
  // Off the LED (over the caption) it is dark again.
  QTest::mouseMove(led, led->TextRect().center());
  QVERIFY(WaitUntil([led] { return AllOf(led, kLow); }));
}

void TestVrCheckLed::mouse() {
  Window win;
  TVrCheckLed* led = win.Add(10, 10, QStringLiteral("Hoist"));
  QVERIFY(win.Show());
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  // Press shows the new state at once; moving off and releasing restores it, silently.
  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), true);
  QVERIFY(AllOf(led, kHigh));
  const QPoint outside(led->width() + 30, led->height() + 30);
  QTest::mouseMove(led, outside);
  QTest::mouseRelease(led, Qt::LeftButton, {}, outside);
  QCOMPARE(led->Checked(), false);
  QVERIFY(AllOf(led, kLow));
  QCOMPARE(changes.count(), 0);

  // Press and release on the LED (any of its pixels): inverted once, one OnChange.
  QTest::mousePress(led, Qt::LeftButton, {}, led->GlyphRect().topLeft());
  QTest::mouseRelease(led, Qt::LeftButton, {}, led->GlyphRect().bottomRight());
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 1);

  // A double click arrives as press, release, double-click press, release: two inversions.
  QTest::mouseClick(led, Qt::LeftButton, {}, Centre(led));
  QTest::mouseDClick(led, Qt::LeftButton, {}, Centre(led));
  QTest::mouseRelease(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 3);

  // The caption, the pixel just beyond the LED and other buttons do nothing.
  QTest::mouseClick(led, Qt::LeftButton, {}, led->TextRect().center());
  QTest::mouseClick(led, Qt::LeftButton, {}, QPoint(led->GlyphRect().right() + 1, Centre(led).y()));
  QTest::mouseClick(led, Qt::RightButton, {}, Centre(led));
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 3);
  // Without TabStop a click does not take the focus.
  QVERIFY(!led->hasFocus());
}

void TestVrCheckLed::radioGroups() {
  Window win;
  QStringList order;
  auto make = [&](const QString& name, int y, TVrCheckLedStyle style, QWidget* parent = nullptr) {
    TVrCheckLed* led = win.Add(0, y, name, parent);
    led->SetCheckStyle(style);
    connect(led, &TVrCheckLed::OnChange, led, [&order, name] { order << name; });
    return led;
  };
  TVrCheckLed* a = make("A", 0, csCheckbox);
  TVrCheckLed* b = make("B", 30, csCheckbox);
  TVrCheckLed* box = make("Box", 60, csCheckbox);
  TVrCheckLed* c = make("C", 90, csRadioButton);
  auto* other = new QWidget(&win.top);
  other->setGeometry(200, 0, 150, 60);
  TVrCheckLed* elsewhere = make("Elsewhere", 0, csRadioButton, other);
  QVERIFY(win.Show());

  // Changing the style has no immediate effect: two radio LEDs may be on.
  for (TVrCheckLed* led : {a, b, box, elsewhere}) led->SetChecked(true);
  a->SetCheckStyle(csRadioButton);
  b->SetCheckStyle(csRadioButton);
  order.clear();

  // Clicking C switches A and B off in the parent's order, before C's own OnChange;
  // the check box and the radio LED on another parent are left alone.
  QTest::mouseClick(c, Qt::LeftButton, {}, Centre(c));
  QCOMPARE(order, (QStringList{"A", "B", "C"}));
  QVERIFY(!a->Checked() && !b->Checked() && c->Checked());
  QVERIFY(AllOf(a, kLow));
  QVERIFY(box->Checked() && elsewhere->Checked());

  // From the program too; clicking the one that is on leaves none on.
  order.clear();
  b->SetChecked(true);
  QTest::mouseClick(b, Qt::LeftButton, {}, Centre(b));
  QCOMPARE(order, (QStringList{"C", "B", "B"}));
  QVERIFY(!a->Checked() && !b->Checked() && !c->Checked());
}

void TestVrCheckLed::spaceKeyAndMnemonic() {
  Window win;
  TVrCheckLed* led = win.Add(10, 10, QStringLiteral("&Brake"));
  TVrCheckLed* plain = win.Add(10, 40, QStringLiteral("&Lamp"));
  led->SetCheckStyle(csRadioButton);
  plain->SetCheckStyle(csRadioButton);
  plain->SetChecked(true);
  auto* box = new QCheckBox(QStringLiteral("&Quit"), &win.top);
  box->move(10, 70);
  QVERIFY(win.Show(true));
  QSignalSpy changes(led, &TVrCheckLed::OnChange);

  // Without TabStop the mnemonic still inverts the LED through its setter
  // (OnChange, radio handling); only the focus stays where it was. Other
  // controls keep their own mnemonics.
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QVERIFY(WaitUntil([&changes] { return changes.count() == 1; }));
  QVERIFY(led->Checked() && !plain->Checked());
  QVERIFY(!led->hasFocus());
  QTest::keyClick(&win.top, Qt::Key_Q, Qt::AltModifier);
  QVERIFY(WaitUntil([box] { return box->isChecked(); }));

  // With it: focus as well.
  led->SetTabStop(true);
  plain->SetChecked(true);  // switches led off, which calls its OnChange
  QCOMPARE(led->Checked(), false);
  changes.clear();
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QVERIFY(WaitUntil([&changes] { return changes.count() == 1; }));
  QVERIFY(led->Checked() && led->hasFocus());
  QVERIFY(!plain->Checked());

  // Space on the focused LED inverts it directly: no OnChange, no radio handling.
  changes.clear();
  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), false);
  QVERIFY(AllOf(led, kLow));
  plain->SetChecked(true);
  QTest::keyClick(led, Qt::Key_A);
  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), true);
  QCOMPARE(changes.count(), 0);
  QVERIFY(plain->Checked());

  // A new caption moves the mnemonic; a disabled LED ignores it.
  led->SetCaption(QStringLiteral("&Dump"));
  QTest::keyClick(&win.top, Qt::Key_B, Qt::AltModifier);
  QTest::keyClick(&win.top, Qt::Key_D, Qt::AltModifier);
  QVERIFY(WaitUntil([&changes] { return changes.count() == 1; }));
  QCOMPARE(led->Checked(), false);
  led->setEnabled(false);
  QTest::keyClick(&win.top, Qt::Key_D, Qt::AltModifier);
  QCoreApplication::processEvents();
  QCOMPARE(changes.count(), 1);
}

void TestVrCheckLed::disabledIsEngravedAndDeaf() {
  Window win;
  TVrCheckLed* led = win.Add(10, 10, QStringLiteral("Body Up"));
  QVERIFY(win.Show());
  const QRect text = led->TextRect().adjusted(-3, -3, 3, 3);
  QVERIFY(CountColor(led->Bitmap(), text, kText) > 10);
  QCOMPARE(CountColor(led->Bitmap(), text, kShadow) + CountColor(led->Bitmap(), text, kLight), 0);

  led->setEnabled(false);
  const QImage disabled = led->Bitmap();
  QCOMPARE(CountColor(disabled, text, kText), 0);
  QVERIFY(CountColor(disabled, text, kShadow) > 10);
  QVERIFY(CountColor(disabled, text, kLight) > 10);
  // The highlight copy sits one pixel right of the shadow one.
  int shadowRight = -1, lightRight = -1;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) {
      const QRgb p = Px(disabled, {x, y});
      shadowRight = p == kShadow.rgb() ? std::max(shadowRight, x) : shadowRight;
      lightRight = p == kLight.rgb() ? std::max(lightRight, x) : lightRight;
    }
  QCOMPARE(lightRight, shadowRight + 1);
  // The LED keeps its colours.
  QVERIFY(AllOf(led, kLow));
  QCOMPARE(Px(disabled, {led->GlyphRect().left(), Centre(led).y()}), kLight.rgb());

  // Clicks and keys are not delivered to a disabled control; the program can still set it.
  QSignalSpy changes(led, &TVrCheckLed::OnChange);
  QTest::mousePress(led, Qt::LeftButton, {}, Centre(led));
  QCOMPARE(led->Checked(), false);
  QTest::mouseRelease(led, Qt::LeftButton, {}, Centre(led));
  QTest::keyClick(led, Qt::Key_Space);
  QCOMPARE(led->Checked(), false);
  QCOMPARE(changes.count(), 0);
  led->SetChecked(true);
  QVERIFY(AllOf(led, kHigh));
}

void TestVrCheckLed::focusRectangle() {
  Window win;
  TVrCheckLed* led = win.Add(10, 10, QStringLiteral("Fault"));
  led->SetTabStop(true);
  QVERIFY(win.Show(true));
  // The window hands the focus to its first control when it activates.
  led->clearFocus();
  QVERIFY(WaitUntil([led] { return !led->hasFocus(); }));
  led->UpdateControlCanvas();
  const QImage before = led->Bitmap();

  // A click on a TabStop LED takes the focus.
  QTest::mouseClick(led, Qt::LeftButton, {}, Centre(led));
  QVERIFY(WaitUntil([led] { return led->hasFocus(); }));
  led->SetChecked(false);
  const QRect ring = led->TextRect().adjusted(-2, -2, 2, 2);
  int onRing = 0;
  for (int y = 0; y < led->height(); ++y)
    for (int x = 0; x < led->width(); ++x) {
      if (Px(before, {x, y}) == Px(led->Bitmap(), {x, y})) continue;
      // Only pixels of the ring change, and they are inverted.
      QVERIFY(ring.contains(x, y) && !ring.adjusted(1, 1, -1, -1).contains(x, y));
      QCOMPARE(Px(led->Bitmap(), {x, y}), ~Px(before, {x, y}) | 0xFF000000u);
      ++onRing;
    }
  // Dotted: some of the ring's pixels, not all.
  const int ringPixels = 2 * (ring.width() + ring.height()) - 4;
  QVERIFY(onRing > ringPixels / 4 && onRing < ringPixels);

  led->clearFocus();
  QVERIFY(WaitUntil([led] { return !led->hasFocus(); }));
  QCOMPARE(led->Bitmap(), before);
}

void TestVrCheckLed::rightToLeftLikeLeftToRight() {
  Window win;
  TVrCheckLed* ltr = win.Add(0, 0, QStringLiteral("Lamp: (on)"));
  TVrCheckLed* rtl = win.Add(0, 40, QStringLiteral("Lamp: (on)"));
  rtl->setLayoutDirection(Qt::RightToLeft);
  for (TVrCheckLed* led : {ltr, rtl}) {
    led->SetLayout(ImageRight);
    led->resize(161, 25);
  }
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
