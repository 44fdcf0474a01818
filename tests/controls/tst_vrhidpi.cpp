// The controls on a screen with device pixel ratio 2: the off-screen image is
// made at the screen's resolution and one logical pixel is two device pixels,
// each in a pure colour, never a blurred mix.

#include "TestSettings.h"
#include "controls/VrCheckLed.h"

#include <QApplication>
#include <QTest>
#include <set>

namespace {

QRgb Px(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }

}  // namespace

class TestVrHighDpi : public QObject {
  Q_OBJECT
private slots:
  void ledDrawsCrisp();
};

void TestVrHighDpi::ledDrawsCrisp() {
  QWidget top;
  QPalette pal = top.palette();
  const QColor face(200, 190, 180), shadow(90, 80, 70), light(250, 245, 240);
  pal.setColor(QPalette::Button, face);
  pal.setColor(QPalette::Dark, shadow);
  pal.setColor(QPalette::Light, light);
  top.setPalette(pal);
  top.resize(200, 100);
  auto* led = new TVrCheckLed(&top);
  led->move(3, 5);
  top.show();
  QVERIFY(QTest::qWaitForWindowExposed(&top));
  QVERIFY(WaitUntil([led] { return led->PaintCount() > 0; }));
  QCOMPARE(led->devicePixelRatioF(), 2.0);

  const QImage dark = led->Bitmap();
  QCOMPARE(dark.size(), QSize(250, 50));
  QCOMPARE(dark.devicePixelRatio(), 2.0);
  const QRect g = led->GlyphRect();
  QCOMPARE(g, QRect(54, 7, 20, 13));
  const QRect device(g.topLeft() * 2, g.size() * 2);
  const QRgb low = ColorToQColor(clGreen).rgb(), high = ColorToQColor(clLime).rgb();
  const std::set<QRgb> allowed = {face.rgb(), shadow.rgb(), light.rgb(), QColor(Qt::black).rgb(), low, high};
  for (int y = device.top(); y <= device.bottom(); ++y)
    for (int x = device.left(); x <= device.right(); ++x)
      QVERIFY2(allowed.count(Px(dark, x, y)), qPrintable(QString("mixed colour at %1,%2").arg(x).arg(y)));
  // The one-pixel outer frame is two device pixels wide; the frame inside it starts after.
  const int my = device.center().y();
  QCOMPARE(Px(dark, device.left(), my), light.rgb());
  QCOMPARE(Px(dark, device.left() + 1, my), light.rgb());
  QCOMPARE(Px(dark, device.right(), my), QColor(Qt::black).rgb());
  QCOMPARE(Px(dark, device.right() - 1, my), QColor(Qt::black).rgb());
  QCOMPARE(Px(dark, device.left() + 4, my), face.rgb());
  QCOMPARE(Px(dark, device.left() + 8, my), low);

  // The hover checkerboard keeps its logical cells: 2 x 2 device pixels each.
  QTest::mouseMove(led, g.center());
  const QRect inner(device.adjusted(8, 8, -8, -8));
  QVERIFY(WaitUntil([&] {
    const QImage now = led->Bitmap();
    for (int y = inner.top(); y <= inner.bottom(); ++y)
      for (int x = inner.left(); x <= inner.right(); ++x)
        if (Px(now, x, y) == high) return true;
    return false;
  }));
  const QImage hover = led->Bitmap();
  for (int y = inner.top(); y <= inner.bottom(); ++y)
    for (int x = inner.left(); x <= inner.right(); ++x)
      QCOMPARE(Px(hover, x, y), ((x / 2 + y / 2) % 2 == 0) ? low : high);

  // What reaches the window is the image as made.
  QCOMPARE(led->grab().toImage().convertToFormat(QImage::Format_RGB32),
           led->Bitmap().convertToFormat(QImage::Format_RGB32));
}

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  TestVrHighDpi test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_vrhidpi.moc"
