// The gauge control base: colours, 3-D frames, dither pattern, palette and
// bevel objects, and the repaint gate of the self-painting controls.

#include "TestSettings.h"
#include "controls/VrControls.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

QRgb Px(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

QImage Canvas(int w, int h, QColor fill) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

// A widget whose desktop colours are easy to tell apart.
struct ThemedWidget : QWidget {
  const QColor face{10, 20, 30}, shadow{40, 50, 60}, light{70, 80, 90};
  ThemedWidget() {
    QPalette pal = palette();
    pal.setColor(QPalette::Button, face);
    pal.setColor(QPalette::Dark, shadow);
    pal.setColor(QPalette::Light, light);
    setPalette(pal);
  }
};

// Paints its background and a red marker square; counts Loaded().
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
  void colors();
  void drawFrame3D();
  void ditherPattern();
  void paletteChangesAndAssign();
  void bevelSettersAndAssign();
  void bevelWidthMatchesPaint_data();
  void bevelWidthMatchesPaint();
  void bevelPaintsDefaultLook();
  void repaintGateAndLoading();
  void notifications();
};

void TestVrControls::colors() {
  QCOMPARE(ColorToQColor(clBlue), QColor(0, 0, 255));  // red sits in the low byte
  QCOMPARE(ColorToQColor(0x00336699), QColor(0x99, 0x66, 0x33));
  QCOMPARE(QColorToColor(QColor(0x99, 0x66, 0x33)), TColor(0x00336699));

  ThemedWidget w;
  QCOMPARE(ColorToQColor(clBtnFace, &w), w.face);
  QCOMPARE(ColorToQColor(clBtnShadow, &w), w.shadow);
  QCOMPARE(ColorToQColor(clBtnHighlight, &w), w.light);
  // A disabled control keeps its colours.
  w.setEnabled(false);
  QCOMPARE(ColorToQColor(clBtnShadow, &w), w.shadow);
}

void TestVrControls::drawFrame3D() {
  const QColor top(255, 0, 0), bottom(0, 0, 255), bg(0, 255, 0);
  QImage image = Canvas(10, 8, bg);
  QPainter p(&image);
  QRect r(0, 0, 10, 8);
  DrawFrame3D(p, r, top, bottom, 2);
  p.end();
  QCOMPARE(r, QRect(2, 2, 6, 4));
  // Both frames: left and top in the top colour, right and bottom in the bottom colour.
  for (int i : {0, 1}) {
    QCOMPARE(Px(image, i, 4), top.rgb());
    QCOMPARE(Px(image, 5, i), top.rgb());
    QCOMPARE(Px(image, 9 - i, 4), bottom.rgb());
    QCOMPARE(Px(image, 5, 7 - i), bottom.rgb());
  }
  QCOMPARE(Px(image, 2, 2), bg.rgb());
  QCOMPARE(Px(image, 7, 5), bg.rgb());

  // Width 0 or less: nothing drawn, rectangle kept.
  for (int width : {0, -3}) {
    QImage blank = Canvas(6, 6, bg);
    QPainter q(&blank);
    QRect same(0, 0, 6, 6);
    DrawFrame3D(q, same, top, bottom, width);
    q.end();
    QCOMPARE(same, QRect(0, 0, 6, 6));
    QCOMPARE(blank, Canvas(6, 6, bg));
  }
}

void TestVrControls::ditherPattern() {
  const QColor a(12, 34, 56), b(200, 100, 50);
  const QImage image = CreateDitherPattern(a, b);
  QCOMPARE(image.size(), QSize(8, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) QCOMPARE(Px(image, x, y), (x % 2 == y % 2 ? a : b).rgb());
}

void TestVrControls::paletteChangesAndAssign() {
  TVrPalette palette;
  QCOMPARE(palette.GetColors(-4), clGreen);
  QCOMPARE(palette.GetColors(0), clGreen);
  QCOMPARE(palette.GetColors(7), clLime);

  QSignalSpy spy(&palette, &TVrPersistent::OnChange);
  palette.SetLow(clGreen);
  QCOMPARE(spy.count(), 0);
  palette.SetLow(clRed);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).value<QObject*>(), &palette);

  // Held back inside an update, told once at its end; an unpaired EndUpdate
  // still tells and does not silence later changes.
  palette.BeginUpdate();
  palette.SetLow(clBlue);
  palette.SetHigh(clWhite);
  QCOMPARE(spy.count(), 1);
  palette.EndUpdate();
  QCOMPARE(spy.count(), 2);
  palette.EndUpdate();
  palette.SetLow(clBlack);
  QCOMPARE(spy.count(), 4);

  // Assign tells the owner exactly once, also when nothing changes.
  TVrPalette source;
  source.SetLow(clNavy);
  source.SetHigh(clYellow);
  spy.clear();
  palette.Assign(source);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(palette.Low(), clNavy);
  QCOMPARE(palette.High(), clYellow);
  palette.Assign(source);
  QCOMPARE(spy.count(), 2);
}

void TestVrControls::bevelSettersAndAssign() {
  TVrBevel bevel;
  QCOMPARE(bevel.TotalWidth(), 4);
  QSignalSpy spy(&bevel, &TVrPersistent::OnChange);
  bevel.SetInnerColor(clBtnFace);
  bevel.SetOuterOutline(osOuter);
  QCOMPARE(spy.count(), 0);
  bevel.SetInnerColor(clBlack);
  QCOMPARE(spy.count(), 1);

  // Invisible: takes no room.
  bevel.SetVisible(false);
  QCOMPARE(bevel.TotalWidth(), 0);
  QRect r(0, 0, 30, 20);
  bevel.GetVisibleArea(r);
  QCOMPARE(r, QRect(0, 0, 30, 20));

  // Assign copies every property (the copy paints the same) and tells once.
  TVrBevel source;
  source.SetBorderWidth(2);
  source.SetBorderColor(clRed);
  source.SetOuterHighlight(clWhite);
  source.SetOuterShadow(clTeal);
  source.SetOuterWidth(2);
  source.SetOuterStyle(bsLowered);
  source.SetOuterOutline(osInner);
  source.SetOuterSpace(1);
  source.SetOuterColor(clGray);
  source.SetInnerHighlight(clYellow);
  source.SetInnerShadow(clNavy);
  source.SetInnerWidth(3);
  source.SetInnerStyle(bsRaised);
  source.SetInnerOutline(osOuter);
  source.SetInnerSpace(2);
  source.SetInnerColor(clMaroon);
  spy.clear();
  bevel.Assign(source);
  QCOMPARE(spy.count(), 1);
  QVERIFY(bevel.Visible());
  auto painted = [](const TVrBevel& b) {
    QImage image = Canvas(40, 40, Qt::magenta);
    QPainter p(&image);
    QRect inside(0, 0, 40, 40);
    b.Paint(p, inside, nullptr);
    return image;
  };
  QCOMPARE(painted(bevel), painted(source));
  QVERIFY(painted(bevel) != painted(TVrBevel()));
}

void TestVrControls::bevelWidthMatchesPaint_data() {
  QTest::addColumn<QList<int>>("v");  // border, outer style/outline/width/space, inner style/outline/width/space
  QTest::addColumn<int>("expected");
  QTest::newRow("as created") << QList<int>{0, bsRaised, osOuter, 1, 0, bsLowered, osNone, 1, 1} << 4;
  QTest::newRow("slider's") << QList<int>{0, bsRaised, osOuter, 1, 0, bsLowered, osNone, 2, 1} << 5;
  QTest::newRow("styles none") << QList<int>{1, bsNone, osNone, 5, 0, bsNone, osNone, 7, 0} << 1;
  QTest::newRow("all parts") << QList<int>{2, bsLowered, osInner, 2, 1, bsRaised, osOuter, 3, 2} << 12;
  QTest::newRow("negatives as none") << QList<int>{-2, bsRaised, osNone, -1, -3, bsLowered, osNone, 1, -1} << 1;
}

void TestVrControls::bevelWidthMatchesPaint() {
  QFETCH(QList<int>, v);
  QFETCH(int, expected);
  TVrBevel bevel;
  bevel.SetBorderWidth(v[0]);
  bevel.SetOuterStyle(TVrBevelStyle(v[1]));
  bevel.SetOuterOutline(TVrBevelOutlineStyle(v[2]));
  bevel.SetOuterWidth(v[3]);
  bevel.SetOuterSpace(v[4]);
  bevel.SetInnerStyle(TVrBevelStyle(v[5]));
  bevel.SetInnerOutline(TVrBevelOutlineStyle(v[6]));
  bevel.SetInnerWidth(v[7]);
  bevel.SetInnerSpace(v[8]);
  QCOMPARE(bevel.TotalWidth(), expected);

  QImage image = Canvas(40, 40, Qt::magenta);
  QPainter p(&image);
  QRect painted(0, 0, 40, 40), visible(0, 0, 40, 40);
  bevel.Paint(p, painted, nullptr);
  bevel.GetVisibleArea(visible);
  QCOMPARE(painted, visible);
  QCOMPARE(painted, QRect(expected, expected, 40 - 2 * expected, 40 - 2 * expected));
}

void TestVrControls::bevelPaintsDefaultLook() {
  ThemedWidget w;
  TVrBevel bevel;
  const QColor bg(255, 0, 255);
  QImage image = Canvas(12, 12, bg);
  QPainter p(&image);
  QRect r(0, 0, 12, 12);
  bevel.Paint(p, r, &w);
  p.end();
  // Black outline, raised outer bevel, lowered inner bevel, face-coloured space.
  const QRgb leftToRight[] = {QColor(Qt::black).rgb(), w.light.rgb(), w.shadow.rgb(), w.face.rgb(), bg.rgb()};
  const QRgb rightToLeft[] = {QColor(Qt::black).rgb(), w.shadow.rgb(), w.light.rgb(), w.face.rgb(), bg.rgb()};
  for (int i = 0; i < 5; ++i) {
    QCOMPARE(Px(image, i, 5), leftToRight[i]);
    QCOMPARE(Px(image, 5, i), leftToRight[i]);
    QCOMPARE(Px(image, 11 - i, 5), rightToLeft[i]);
    QCOMPARE(Px(image, 5, 11 - i), rightToLeft[i]);
  }

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

void TestVrControls::repaintGateAndLoading() {
  QWidget top;
  top.resize(100, 100);
  auto* c = new ProbeControl(&top);
  QVERIFY(c->testAttribute(Qt::WA_OpaquePaintEvent));
  top.show();
  QVERIFY(QTest::qWaitForWindowExposed(&top));
  QVERIFY(WaitUntil([c] { return c->PaintCount() > 0; }));

  // No event loop runs below: every paint counted is a synchronous one.
  const int base = c->PaintCount();
  c->BeginUpdate();
  c->BeginUpdate();
  c->SetColor(clRed);
  c->EndUpdate();
  QCOMPARE(c->PaintCount(), base);
  c->EndUpdate();
  QCOMPARE(c->PaintCount(), base + 1);
  QCOMPARE(Px(c->Bitmap(), 0, 0), QColor(Qt::red).rgb());
  // An unpaired EndUpdate leaves later repaints working.
  c->EndUpdate();
  c->SetColor(clBlue);
  QCOMPARE(c->PaintCount(), base + 3);
  c->SetColor(clBlue);
  QCOMPARE(c->PaintCount(), base + 3);

  c->BeginLoading();
  c->SetColor(clRed);
  c->SetColor(clLime);
  QCOMPARE(c->PaintCount(), base + 3);
  c->EndLoading();
  QCOMPARE(c->LoadedCount, 1);
  QCOMPARE(c->PaintCount(), base + 4);
  QCOMPARE(Px(c->Bitmap(), 0, 0), QColor(Qt::green).rgb());
  c->EndLoading();  // no load in progress: nothing
  QCOMPARE(c->LoadedCount, 1);

  // The image follows the control's size; the window shows it as made.
  c->resize(23, 9);
  c->UpdateControlCanvas();
  QCOMPARE(c->Bitmap().size(), QSize(23, 9));
  QCOMPARE(c->grab().toImage().convertToFormat(QImage::Format_RGB32),
           c->Bitmap().convertToFormat(QImage::Format_RGB32));

  // A hidden control has no window to paint.
  const int shown = c->PaintCount();
  c->hide();
  c->UpdateControlCanvas();
  QCOMPARE(c->PaintCount(), shown);
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
  QFont f = c.font();
  f.setPointSize(f.pointSize() + 5);
  c.setFont(f);
  c.SetCaption(QStringLiteral("Park"));
  c.SetCaption(QStringLiteral("Park"));
  QCOMPARE(enter.count(), 1);
  QCOMPARE(enter.at(0).at(0).value<QObject*>(), &c);
  QCOMPARE(leave.count(), 1);
  QCOMPARE(font.count(), 1);
  QCOMPARE(text.count(), 1);
}

QTEST_MAIN(TestVrControls)
#include "tst_vrcontrols.moc"
