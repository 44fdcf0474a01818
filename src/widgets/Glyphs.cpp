#include "widgets/Glyphs.h"

#include "widgets/FormLayout.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace Glyphs {
namespace {

// Paints on a 16 x 16 design grid into a pixmap for the current scale and
// screen, enabled and disabled.
QIcon Make(const std::function<void(QPainter&)>& draw) {
  const double ratio = qApp ? qGuiApp->devicePixelRatio() : 1.0;
  const int side = FormLayout::S(16);
  QPixmap pm(QSize(side, side) * ratio);
  pm.setDevicePixelRatio(ratio);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / 16.0, side / 16.0);
    draw(p);
  }
  QIcon icon(pm);
  return icon;
}

// A closed outline through the given points.
QPainterPath Closed(std::initializer_list<QPointF> points) {
  QPainterPath path;
  for (const QPointF& point : points) {
    if (path.elementCount() == 0)
      path.moveTo(point);
    else
      path.lineTo(point);
  }
  path.closeSubpath();
  return path;
}

QPen Outline(const QColor& c) {
  QPen pen(c, 1.0);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

}  // namespace

QIcon OpenFolder() {
  return Make([](QPainter& p) {
    // back of the folder with its tab
    const QPainterPath back = Closed({{1.5, 3.5}, {5.5, 3.5}, {6.5, 4.5}, {12.5, 4.5}, {12.5, 13.5}, {1.5, 13.5}});
    p.setPen(Outline(QColor(0x80, 0x60, 0x00)));
    p.setBrush(QColor(0xE0, 0xB0, 0x30));
    p.drawPath(back);
    // front flap, opened towards the viewer
    const QPainterPath front = Closed({{1.5, 13.5}, {4.5, 7.5}, {15.0, 7.5}, {12.5, 13.5}});
    p.setBrush(QColor(0xFF, 0xD8, 0x60));
    p.drawPath(front);
  });
}

QIcon Floppy() {
  return Make([](QPainter& p) {
    const QPainterPath body = Closed({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}});
    p.setPen(Outline(QColor(0x10, 0x20, 0x50)));
    p.setBrush(QColor(0x30, 0x50, 0xA0));
    p.drawPath(body);
    // label
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 2.0, 8.0, 5.0));
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 0.8));
    p.drawLine(QPointF(4.5, 4.0), QPointF(10.5, 4.0));
    p.drawLine(QPointF(4.5, 5.5), QPointF(10.5, 5.5));
    // shutter
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xC8, 0xC8, 0xD0));
    p.drawRect(QRectF(4.0, 9.5, 8.0, 5.0));
    p.setBrush(QColor(0x30, 0x50, 0xA0));
    p.drawRect(QRectF(9.0, 10.5, 1.8, 3.0));
  });
}

QIcon NewPage() {
  return Make([](QPainter& p) {
    const QPainterPath page = Closed({{3.5, 1.5}, {10.0, 1.5}, {13.5, 5.0}, {13.5, 14.5}, {3.5, 14.5}});
    p.setPen(Outline(QColor(0x50, 0x50, 0x50)));
    p.setBrush(Qt::white);
    p.drawPath(page);
    // folded corner
    QPainterPath corner;
    corner.moveTo(10.0, 1.5);
    corner.lineTo(10.0, 5.0);
    corner.lineTo(13.5, 5.0);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawPath(corner);
    // a few lines of text
    p.setPen(QPen(QColor(0x70, 0x90, 0xC0), 0.9));
    for (double y = 7.5; y < 13.0; y += 2.0) p.drawLine(QPointF(5.0, y), QPointF(12.0, y));
  });
}

QPixmap Logo(int size) {
  const double ratio = qApp ? qGuiApp->devicePixelRatio() : 1.0;
  const int side = FormLayout::S(size);
  QPixmap pm(QSize(side, side) * ratio);
  pm.setDevicePixelRatio(ratio);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(side / 64.0, side / 64.0);

  // rounded tile
  QLinearGradient sky(0, 0, 0, 64);
  sky.setColorAt(0.0, QColor(0x2A, 0x5D, 0xB0));
  sky.setColorAt(1.0, QColor(0x12, 0x2C, 0x60));
  p.setPen(QPen(QColor(0x0A, 0x18, 0x38), 1.0));
  p.setBrush(sky);
  p.drawRoundedRect(QRectF(0.5, 0.5, 63.0, 63.0), 8, 8);

  // dump body, tipped slightly
  const QPainterPath bed = Closed({{6, 22}, {38, 18}, {40, 36}, {10, 38}});
  p.setPen(QPen(QColor(0x60, 0x40, 0x00), 1.2));
  p.setBrush(QColor(0xF2, 0xB1, 0x1C));
  p.drawPath(bed);
  // cab
  const QPainterPath cab = Closed({{42, 26}, {52, 26}, {57, 34}, {57, 42}, {42, 42}});
  p.drawPath(cab);
  p.setBrush(QColor(0xBF, 0xE3, 0xFF));
  p.setPen(QPen(QColor(0x60, 0x40, 0x00), 0.8));
  const QPainterPath window = Closed({{45, 28.5}, {51, 28.5}, {54.5, 34}, {45, 34}});
  p.drawPath(window);
  // chassis
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x30, 0x30, 0x30));
  p.drawRect(QRectF(8, 38, 50, 5));
  // wheels
  for (double x : {16.0, 46.0}) {
    p.setBrush(QColor(0x1A, 0x1A, 0x1A));
    p.drawEllipse(QPointF(x, 46), 7.5, 7.5);
    p.setBrush(QColor(0xB0, 0xB0, 0xB0));
    p.drawEllipse(QPointF(x, 46), 3.0, 3.0);
  }
  // the link: a frame of bits running along the bottom
  p.setPen(QPen(QColor(0x7C, 0xFC, 0x00), 1.6, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  QPainterPath bits;
  const int levels[] = {0, 1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0};
  double x = 5;
  bits.moveTo(x, levels[0] ? 55 : 60);
  for (int level : levels) {
    const double y = level ? 55 : 60;
    bits.lineTo(x, y);
    x += 4.5;
    bits.lineTo(x, y);
  }
  p.setBrush(Qt::NoBrush);
  p.drawPath(bits);
  return pm;
}

}  // namespace Glyphs
