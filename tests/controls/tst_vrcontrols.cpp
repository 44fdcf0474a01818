// The gauge control base: colours, 3-D frames, dither pattern, palette and
// bevel objects, and the repaint gate of the self-painting controls.

#include "controls/VrControls.h"
#include "TestSettings.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <set>

namespace {

QRgb Px(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

QImage Canvas(int w, int h, QColor fill, qreal dpr = 1) {
  QImage image(int(w * dpr), int(h * dpr), QImage::Format_RGB32);
  image.setDevicePixelRatio(dpr);
  image.fill(fill);
  return image;
}

// A control that paints its background and a marker square, counting Loaded().
class ProbeControl : public TVrCustomImageControl {
public:
  using TVrCustomImageControl::TVrCustomImageControl;
  int LoadedCount = 0;

protected:
  void Paint() override {
    ClearBitmapCanvas();
    GetBitmapCanvas().fillRect(QRect(2, 2, 4, 4), Qt::red);
    TVrCustomImageControl::Paint();
  }
  void Loaded() override { ++LoadedCount; }
};

}  // namespace

class TestVrControls : public QObject {
  Q_OBJECT
private slots:
  void colorsRgbAndSystem();
  void drawFrame3D();
  void drawFrame3DHighDpiIsCrisp();
  void ditherPattern();
  void paletteChangesAndAssign();
  void bevelDefaultsAndSetters();
  void bevelAssignTellsOnce();
  void bevelWidthMatchesPaint_data();
  void bevelWidthMatchesPaint();
  void bevelPaintsDefaultLook();
  void repaintGate();
  void loadingDefersAndEndsOnce();
  void imageControlCopiesBitmap();
  void notifications();
};

void TestVrControls::colorsRgbAndSystem() {
  QCOMPARE(ColorToQColor(clBlack), QColor(0, 0, 0));
  QCOMPARE(ColorToQColor(clBlue), QColor(0, 0, 255));  // red sits in the low byte
  QCOMPARE(ColorToQColor(clGreen), QColor(0, 128, 0));
  QCOMPARE(ColorToQColor(0x00336699), QColor(0x99, 0x66, 0x33));
  QCOMPARE(QColorToColor(QColor(0x99, 0x66, 0x33)), TColor(0x00336699));

  QWidget w;
  QPalette pal = w.palette();
  pal.setColor(QPalette::Button, QColor(10, 20, 30));
  pal.setColor(QPalette::Dark, QColor(40, 50, 60));
  pal.setColor(QPalette::Light, QColor(70, 80, 90));
  w.setPalette(pal);
  QCOMPARE(ColorToQColor(clBtnFace, &w), QColor(10, 20, 30));
  QCOMPARE(ColorToQColor(clBtnShadow, &w), QColor(40, 50, 60));
  QCOMPARE(ColorToQColor(clBtnHighlight, &w), QColor(70, 80, 90));
  // A disabled control keeps its colours.
  w.setEnabled(false);
  QCOMPARE(ColorToQColor(clBtnShadow, &w), QColor(40, 50, 60));
}

void TestVrControls::drawFrame3D() {
  const QColor top(255, 0, 0), bottom(0, 0, 255), bg(0, 255, 0);
  QImage image = Canvas(10, 8, bg);
  {
    QPainter p(&image);
    QRect r(0, 0, 10, 8);
    DrawFrame3D(p, r, top, bottom, 2);
    QCOMPARE(r, QRect(2, 2, 6, 4));
  }
  // Outer frame: left and top in the top colour, right and bottom in the bottom colour.
  QCOMPARE(Px(image, 0, 3), top.rgb());
  QCOMPARE(Px(image, 4, 0), top.rgb());
  QCOMPARE(Px(image, 9, 3), bottom.rgb());
  QCOMPARE(Px(image, 4, 7), bottom.rgb());
  QCOMPARE(Px(image, 0, 0), top.rgb());
  QCOMPARE(Px(image, 9, 7), bottom.rgb());
  // Second frame one pixel in.
  QCOMPARE(Px(image, 1, 3), top.rgb());
  QCOMPARE(Px(image, 8, 3), bottom.rgb());
  QCOMPARE(Px(image, 4, 6), bottom.rgb());
  // Inside untouched.
  for (int y = 2; y < 6; ++y)
    for (int x = 2; x < 8; ++x)
      QCOMPARE(Px(image, x, y), bg.rgb());

  // Width 0 or less: nothing drawn, rectangle kept.
  for (int width : {0, -3}) {
    QImage blank = Canvas(6, 6, bg);
    QPainter p(&blank);
    QRect r(0, 0, 6, 6);
    DrawFrame3D(p, r, top, bottom, width);
    p.end();
    QCOMPARE(r, QRect(0, 0, 6, 6));
    QCOMPARE(blank, Canvas(6, 6, bg));
  }

  // A frame wider than the rectangle stops drawing but still shrinks it.
  QImage small = Canvas(4, 4, bg);
  QPainter p(&small);
  QRect r(0, 0, 4, 4);
  DrawFrame3D(p, r, top, bottom, 5);
  QCOMPARE(r, QRect(0, 0, 4, 4).adjusted(5, 5, -5, -5));
}

void TestVrControls::drawFrame3DHighDpiIsCrisp() {
  const QColor top(255, 0, 0), bottom(0, 0, 255), bg(0, 255, 0);
  QImage image = Canvas(6, 6, bg, 2);
  QPainter p(&image);
  QRect r(0, 0, 6, 6);
  DrawFrame3D(p, r, top, bottom, 1);
  p.end();
  // One logical pixel is two device pixels, each in a pure colour.
  std::set<QRgb> seen;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)
      seen.insert(Px(image, x, y));
  QCOMPARE(seen, (std::set<QRgb>{top.rgb(), bottom.rgb(), bg.rgb()}));
  QCOMPARE(Px(image, 1, 5), top.rgb());
  QCOMPARE(Px(image, 2, 5), bg.rgb());
  QCOMPARE(Px(image, 10, 5), bottom.rgb());
  QCOMPARE(Px(image, 9, 5), bg.rgb());
}

void TestVrControls::ditherPattern() {
  const QColor a(12, 34, 56), b(200, 100, 50);
  const QImage image = CreateDitherPattern(a, b);
  QCOMPARE(image.size(), QSize(8, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      QCOMPARE(Px(image, x, y), (x % 2 == y % 2 ? a : b).rgb());
}

void TestVrControls::paletteChangesAndAssign() {
  TVrPalette palette;
  QCOMPARE(palette.Low(), clGreen);
  QCOMPARE(palette.High(), clLime);
  QCOMPARE(palette.GetColors(-4), clGreen);
  QCOMPARE(palette.GetColors(0), clGreen);
  QCOMPARE(palette.GetColors(1), clLime);
  QCOMPARE(palette.GetColors(7), clLime);

  QSignalSpy spy(&palette, &TVrPersistent::OnChange);
  palette.SetLow(clGreen);
  palette.SetHigh(clLime);
  QCOMPARE(spy.count(), 0);
  palette.SetLow(clRed);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).value<QObject*>(), &palette);

  // Held back inside an update, told once at its end.
  palette.BeginUpdate();
  palette.SetLow(clBlue);
  palette.SetHigh(clWhite);
  QCOMPARE(spy.count(), 1);
  palette.EndUpdate();
  QCOMPARE(spy.count(), 2);
  // An unpaired EndUpdate still tells, and does not silence later changes.
  palette.EndUpdate();
  QCOMPARE(spy.count(), 3);
  palette.SetLow(clBlack);
  QCOMPARE(spy.count(), 4);

  TVrPalette source;
  source.SetLow(clNavy);
  source.SetHigh(clYellow);
  spy.clear();
  palette.Assign(source);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(palette.Low(), clNavy);
  QCOMPARE(palette.High(), clYellow);
  // Once even when nothing changed.
  palette.Assign(source);
  QCOMPARE(spy.count(), 2);
}

void TestVrControls::bevelDefaultsAndSetters() {
  TVrBevel bevel;
  QCOMPARE(bevel.BorderWidth(), 0);
  QCOMPARE(bevel.BorderColor(), clBtnFace);
  QCOMPARE(bevel.InnerShadow(), clBtnShadow);
  QCOMPARE(bevel.InnerHighlight(), clBtnHighlight);
  QCOMPARE(bevel.InnerWidth(), 1);
  QCOMPARE(bevel.InnerStyle(), bsLowered);
  QCOMPARE(bevel.InnerOutline(), osNone);
  QCOMPARE(bevel.InnerSpace(), 1);
  QCOMPARE(bevel.InnerColor(), clBtnFace);
  QCOMPARE(bevel.OuterShadow(), clBtnShadow);
  QCOMPARE(bevel.OuterHighlight(), clBtnHighlight);
  QCOMPARE(bevel.OuterWidth(), 1);
  QCOMPARE(bevel.OuterStyle(), bsRaised);
  QCOMPARE(bevel.OuterOutline(), osOuter);
  QCOMPARE(bevel.OuterSpace(), 0);
  QCOMPARE(bevel.OuterColor(), clBtnFace);
  QCOMPARE(bevel.Visible(), true);
  QCOMPARE(bevel.TotalWidth(), 4);

  // Every setter: the stored value again says nothing, a new one tells once.
  using Step = std::function<void(TVrBevel&, bool)>;
  const std::vector<std::pair<const char*, Step>> setters = {
      {"BorderWidth", [](TVrBevel& b, bool n) { b.SetBorderWidth(n ? 3 : b.BorderWidth()); }},
      {"BorderColor", [](TVrBevel& b, bool n) { b.SetBorderColor(n ? clRed : b.BorderColor()); }},
      {"InnerShadow", [](TVrBevel& b, bool n) { b.SetInnerShadow(n ? clRed : b.InnerShadow()); }},
      {"InnerHighlight", [](TVrBevel& b, bool n) { b.SetInnerHighlight(n ? clRed : b.InnerHighlight()); }},
      {"InnerWidth", [](TVrBevel& b, bool n) { b.SetInnerWidth(n ? 2 : b.InnerWidth()); }},
      {"InnerStyle", [](TVrBevel& b, bool n) { b.SetInnerStyle(n ? bsRaised : b.InnerStyle()); }},
      {"InnerOutline", [](TVrBevel& b, bool n) { b.SetInnerOutline(n ? osInner : b.InnerOutline()); }},
      {"InnerSpace", [](TVrBevel& b, bool n) { b.SetInnerSpace(n ? 4 : b.InnerSpace()); }},
      {"InnerColor", [](TVrBevel& b, bool n) { b.SetInnerColor(n ? clBlack : b.InnerColor()); }},
      {"OuterShadow", [](TVrBevel& b, bool n) { b.SetOuterShadow(n ? clRed : b.OuterShadow()); }},
      {"OuterHighlight", [](TVrBevel& b, bool n) { b.SetOuterHighlight(n ? clRed : b.OuterHighlight()); }},
      {"OuterWidth", [](TVrBevel& b, bool n) { b.SetOuterWidth(n ? 3 : b.OuterWidth()); }},
      {"OuterStyle", [](TVrBevel& b, bool n) { b.SetOuterStyle(n ? bsNone : b.OuterStyle()); }},
      {"OuterOutline", [](TVrBevel& b, bool n) { b.SetOuterOutline(n ? osNone : b.OuterOutline()); }},
      {"OuterSpace", [](TVrBevel& b, bool n) { b.SetOuterSpace(n ? 2 : b.OuterSpace()); }},
      {"OuterColor", [](TVrBevel& b, bool n) { b.SetOuterColor(n ? clBlack : b.OuterColor()); }},
      {"Visible", [](TVrBevel& b, bool n) { b.SetVisible(n ? false : b.Visible()); }},
  };
  for (const auto& [name, set] : setters) {
    TVrBevel b;
    QSignalSpy spy(&b, &TVrPersistent::OnChange);
    set(b, false);
    QVERIFY2(spy.count() == 0, name);
    set(b, true);
    QVERIFY2(spy.count() == 1, name);
    set(b, true);
    QVERIFY2(spy.count() == 1, name);
  }

  // Invisible: takes no room.
  bevel.SetVisible(false);
  QCOMPARE(bevel.TotalWidth(), 0);
  QRect r(0, 0, 30, 20);
  bevel.GetVisibleArea(r);
  QCOMPARE(r, QRect(0, 0, 30, 20));
}

void TestVrControls::bevelAssignTellsOnce() {
  TVrBevel source;
  source.SetBorderWidth(2);
  source.SetBorderColor(clRed);
  source.SetInnerShadow(clNavy);
  source.SetInnerHighlight(clYellow);
  source.SetInnerWidth(3);
  source.SetInnerStyle(bsRaised);
  source.SetInnerOutline(osOuter);
  source.SetInnerSpace(0);
  source.SetInnerColor(clBlack);
  source.SetOuterShadow(clTeal);
  source.SetOuterHighlight(clWhite);
  source.SetOuterWidth(2);
  source.SetOuterStyle(bsLowered);
  source.SetOuterOutline(osInner);
  source.SetOuterSpace(1);
  source.SetOuterColor(clGray);
  source.SetVisible(false);

  TVrBevel target;
  QSignalSpy spy(&target, &TVrPersistent::OnChange);
  target.Assign(source);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(target.BorderWidth(), 2);
  QCOMPARE(target.BorderColor(), clRed);
  QCOMPARE(target.InnerShadow(), clNavy);
  QCOMPARE(target.InnerHighlight(), clYellow);
  QCOMPARE(target.InnerWidth(), 3);
  QCOMPARE(target.InnerStyle(), bsRaised);
  QCOMPARE(target.InnerOutline(), osOuter);
  QCOMPARE(target.InnerSpace(), 0);
  QCOMPARE(target.InnerColor(), clBlack);
  QCOMPARE(target.OuterShadow(), clTeal);
  QCOMPARE(target.OuterHighlight(), clWhite);
  QCOMPARE(target.OuterWidth(), 2);
  QCOMPARE(target.OuterStyle(), bsLowered);
  QCOMPARE(target.OuterOutline(), osInner);
  QCOMPARE(target.OuterSpace(), 1);
  QCOMPARE(target.OuterColor(), clGray);
  QCOMPARE(target.Visible(), false);
}

void TestVrControls::bevelWidthMatchesPaint_data() {
  QTest::addColumn<int>("border");
  QTest::addColumn<int>("outerStyle");
  QTest::addColumn<int>("outerOutline");
  QTest::addColumn<int>("outerWidth");
  QTest::addColumn<int>("outerSpace");
  QTest::addColumn<int>("innerStyle");
  QTest::addColumn<int>("innerOutline");
  QTest::addColumn<int>("innerWidth");
  QTest::addColumn<int>("innerSpace");
  QTest::addColumn<int>("expected");
  QTest::newRow("as created") << 0 << int(bsRaised) << int(osOuter) << 1 << 0 << int(bsLowered) << int(osNone) << 1 << 1 << 4;
  QTest::newRow("slider's bevel") << 0 << int(bsRaised) << int(osOuter) << 1 << 0 << int(bsLowered) << int(osNone) << 2 << 1 << 5;
  QTest::newRow("styles none") << 1 << int(bsNone) << int(osNone) << 5 << 0 << int(bsNone) << int(osNone) << 7 << 0 << 1;
  QTest::newRow("all parts") << 2 << int(bsLowered) << int(osInner) << 2 << 1 << int(bsRaised) << int(osOuter) << 3 << 2 << 12;
  QTest::newRow("negative widths count as none") << -2 << int(bsRaised) << int(osNone) << -1 << -3 << int(bsLowered) << int(osNone) << 1 << -1 << 1;
}

void TestVrControls::bevelWidthMatchesPaint() {
  QFETCH(int, border);
  QFETCH(int, outerStyle);
  QFETCH(int, outerOutline);
  QFETCH(int, outerWidth);
  QFETCH(int, outerSpace);
  QFETCH(int, innerStyle);
  QFETCH(int, innerOutline);
  QFETCH(int, innerWidth);
  QFETCH(int, innerSpace);
  QFETCH(int, expected);
  TVrBevel bevel;
  bevel.SetBorderWidth(border);
  bevel.SetOuterStyle(TVrBevelStyle(outerStyle));
  bevel.SetOuterOutline(TVrBevelOutlineStyle(outerOutline));
  bevel.SetOuterWidth(outerWidth);
  bevel.SetOuterSpace(outerSpace);
  bevel.SetInnerStyle(TVrBevelStyle(innerStyle));
  bevel.SetInnerOutline(TVrBevelOutlineStyle(innerOutline));
  bevel.SetInnerWidth(innerWidth);
  bevel.SetInnerSpace(innerSpace);
  QCOMPARE(bevel.TotalWidth(), expected);

  QImage image = Canvas(40, 40, Qt::magenta);
  QPainter p(&image);
  QRect painted(0, 0, 40, 40), visible(0, 0, 40, 40);
  bevel.Paint(p, painted, nullptr);
  bevel.GetVisibleArea(visible);
  QCOMPARE(painted, visible);
  QCOMPARE(painted, QRect(0, 0, 40, 40).adjusted(expected, expected, -expected, -expected));
}

void TestVrControls::bevelPaintsDefaultLook() {
  QWidget w;
  QPalette pal = w.palette();
  const QColor face(10, 20, 30), shadow(40, 50, 60), light(70, 80, 90);
  pal.setColor(QPalette::Button, face);
  pal.setColor(QPalette::Dark, shadow);
  pal.setColor(QPalette::Light, light);
  w.setPalette(pal);

  TVrBevel bevel;
  const QColor bg(255, 0, 255);
  QImage image = Canvas(12, 12, bg);
  QPainter p(&image);
  QRect r(0, 0, 12, 12);
  bevel.Paint(p, r, &w);
  p.end();
  QCOMPARE(r, QRect(4, 4, 4, 4));
  // Black outline, raised outer bevel, lowered inner bevel, face-coloured space.
  QCOMPARE(Px(image, 0, 5), QColor(Qt::black).rgb());
  QCOMPARE(Px(image, 11, 5), QColor(Qt::black).rgb());
  QCOMPARE(Px(image, 1, 5), light.rgb());
  QCOMPARE(Px(image, 5, 1), light.rgb());
  QCOMPARE(Px(image, 10, 5), shadow.rgb());
  QCOMPARE(Px(image, 5, 10), shadow.rgb());
  QCOMPARE(Px(image, 2, 5), shadow.rgb());
  QCOMPARE(Px(image, 9, 5), light.rgb());
  QCOMPARE(Px(image, 3, 5), face.rgb());
  QCOMPARE(Px(image, 8, 5), face.rgb());
  QCOMPARE(Px(image, 5, 5), bg.rgb());

  // Invisible: nothing drawn.
  bevel.SetVisible(false);
  QImage blank = Canvas(12, 12, bg);
  QPainter q(&blank);
  QRect all(0, 0, 12, 12);
  bevel.Paint(q, all, &w);
  q.end();
  QCOMPARE(all, QRect(0, 0, 12, 12));
  QCOMPARE(blank, Canvas(12, 12, bg));
}

void TestVrControls::repaintGate() {
  QWidget top;
  top.resize(100, 100);
  auto* c = new ProbeControl(&top);
  c->setGeometry(10, 10, 30, 20);
  QVERIFY(c->testAttribute(Qt::WA_OpaquePaintEvent));
  QCOMPARE(c->Version(), QStringLiteral("1.3"));
  top.show();
  QVERIFY(QTest::qWaitForWindowExposed(&top));
  QVERIFY(WaitUntil([c] { return c->PaintCount() > 0; }));

  // No event loop runs below: every paint counted is a synchronous one.
  int base = c->PaintCount();
  c->UpdateControlCanvas();
  QCOMPARE(c->PaintCount(), base + 1);

  base = c->PaintCount();
  c->BeginUpdate();
  c->BeginUpdate();
  c->SetColor(clRed);
  c->UpdateControlCanvas();
  c->EndUpdate();
  QCOMPARE(c->PaintCount(), base);
  c->EndUpdate();
  QCOMPARE(c->PaintCount(), base + 1);
  QCOMPARE(Px(c->Bitmap(), 0, 0), QColor(Qt::red).rgb());

  // An unpaired EndUpdate repaints and leaves later repaints working.
  c->EndUpdate();
  QCOMPARE(c->PaintCount(), base + 2);
  c->SetColor(clBlue);
  QCOMPARE(c->PaintCount(), base + 3);
  c->SetColor(clBlue);
  QCOMPARE(c->PaintCount(), base + 3);

  // A hidden control has no window to paint.
  c->hide();
  c->UpdateControlCanvas();
  QCOMPARE(c->PaintCount(), base + 3);
}

void TestVrControls::loadingDefersAndEndsOnce() {
  QWidget top;
  top.resize(100, 100);
  auto* c = new ProbeControl(&top);
  top.show();
  QVERIFY(QTest::qWaitForWindowExposed(&top));
  QVERIFY(WaitUntil([c] { return c->PaintCount() > 0; }));

  const int base = c->PaintCount();
  c->BeginLoading();
  QVERIFY(c->Loading());
  c->SetColor(clRed);
  c->SetColor(clLime);
  c->UpdateControlCanvas();
  QCOMPARE(c->PaintCount(), base);
  QCOMPARE(c->LoadedCount, 0);
  c->EndLoading();
  QVERIFY(!c->Loading());
  QCOMPARE(c->LoadedCount, 1);
  QCOMPARE(c->PaintCount(), base + 1);
  QCOMPARE(Px(c->Bitmap(), 0, 0), QColor(Qt::green).rgb());
  // Ending a load that never began does nothing.
  c->EndLoading();
  QCOMPARE(c->LoadedCount, 1);
  QCOMPARE(c->PaintCount(), base + 1);
}

void TestVrControls::imageControlCopiesBitmap() {
  QWidget top;
  top.resize(100, 100);
  auto* c = new ProbeControl(&top);
  c->setGeometry(0, 0, 17, 11);
  c->SetColor(clNavy);
  top.show();
  QVERIFY(QTest::qWaitForWindowExposed(&top));
  QVERIFY(WaitUntil([c] { return c->PaintCount() > 0; }));

  c->UpdateControlCanvas();
  const QImage bitmap = c->Bitmap();
  QCOMPARE(bitmap.size(), QSize(17, 11));
  QCOMPARE(Px(bitmap, 16, 10), ColorToQColor(clNavy).rgb());
  QCOMPARE(Px(bitmap, 3, 3), QColor(Qt::red).rgb());
  // What reaches the window is the off-screen image, pixel for pixel.
  const QImage shown = c->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(shown, bitmap.convertToFormat(QImage::Format_RGB32));

  // A resize gives an image of the new size at the next paint.
  c->resize(23, 9);
  c->UpdateControlCanvas();
  QCOMPARE(c->Bitmap().size(), QSize(23, 9));
}

void TestVrControls::notifications() {
  ProbeControl c;
  QSignalSpy enter(&c, &TVrCustomControl::OnMouseEnter);
  QSignalSpy leave(&c, &TVrCustomControl::OnMouseLeave);
  QSignalSpy font(&c, &TVrCustomControl::OnFontChanged);
  QSignalSpy text(&c, &TVrCustomControl::OnTextChanged);

  QEnterEvent in(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(&c, &in);
  QEvent out(QEvent::Leave);
  QApplication::sendEvent(&c, &out);
  QCOMPARE(enter.count(), 1);
  QCOMPARE(leave.count(), 1);
  QCOMPARE(enter.at(0).at(0).value<QObject*>(), &c);

  QFont f = c.font();
  f.setPointSize(f.pointSize() + 5);
  c.setFont(f);
  QCOMPARE(font.count(), 1);

  c.SetCaption(QStringLiteral("Park"));
  c.SetCaption(QStringLiteral("Park"));
  QCOMPARE(text.count(), 1);
  QCOMPARE(c.Caption(), QStringLiteral("Park"));

  QVERIFY(!c.TabStop());
  c.SetTabStop(true);
  QVERIFY(c.TabStop());
  QCOMPARE(c.focusPolicy(), Qt::StrongFocus);
}

QTEST_MAIN(TestVrControls)
#include "tst_vrcontrols.moc"
