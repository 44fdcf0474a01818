#include "TestSettings.h"
#include "controls/VrSlider.h"
#include "controls/VrSliderGeometry.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <climits>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

using VrSliderGeometry::RoundHalfEven;
using VrSliderGeometry::Travel;

namespace {

const QRgb Black = qRgb(0, 0, 0), White = qRgb(255, 255, 255), Navy = qRgb(0, 0, 128);
const QRgb Green = qRgb(0, 128, 0), Lime = qRgb(0, 255, 0);
const QRgb KnobFace = qRgb(192, 192, 192), KnobDark = qRgb(128, 128, 128);

// A shown window holding one slider set up like the simulator window's:
// 36 x 171 at (20, 20), range 0 to 255.
struct Fixture {
  QWidget Window;
  TVrSlider* Slider;
  Fixture() {
    Window.resize(260, 260);
    Slider = new TVrSlider(&Window);
    Slider->setGeometry(20, 20, 36, 171);
    Slider->SetMaxValue(255);
    Window.show();
    if (!QTest::qWaitForWindowExposed(&Window)) qWarning("window not exposed");
  }
};

QImage Shot(TVrSlider* s) { return s->grab().toImage().convertToFormat(QImage::Format_RGB32); }
QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }
QString Hex(QRgb c) { return QString::number(c & RGB_MASK, 16).rightJustified(6, '0'); }
QString HexAt(const QImage& image, int x, int y) { return Hex(At(image, x, y)); }

// Cells of cellSize side by side, one per colour.
QImage Cells(QSize cellSize, const QList<QRgb>& colours) {
  QImage image(cellSize.width() * int(colours.size()), cellSize.height(), QImage::Format_RGB32);
  for (int i = 0; i < colours.size(); ++i)
    for (int y = 0; y < cellSize.height(); ++y)
      for (int x = 0; x < cellSize.width(); ++x) image.setPixel(i * cellSize.width() + x, y, colours[i]);
  return image;
}

// A thumb of nothing but its transparent colour: with soThumbOpaque off the
// whole track shows, while the thumb keeps the built-in size.
void UseInvisibleThumb(TVrSlider* s, TVrBitmapList& list) {
  list.Add(Cells(s->Orientation() == voVertical ? QSize(30, 13) : QSize(13, 30), {Black}));
  s->SetBitmapList(&list);
  s->SetThumbImageIndex(list.Count() - 1);
  s->SetOptions(s->Options() & ~TVrSliderOptions(soThumbOpaque));
}

}  // namespace

class TestVrSlider : public QObject {
  Q_OBJECT

private slots:
  // The value logic alone.
  void mappingsRoundHalvesToEven();
  void everyStyleRoundTrips_data();
  void everyStyleRoundTrips();
  void extremeRangeDoesNotOverflow();

  // The control.
  void valuesAtCreation();
  void positionClampsAndSignalsRealChangesOnly();
  void settersIgnoreOutOfRangeValues();
  void loadingStoresOnlyThenBuildsOnce();
  void thumbSitsAtTheSimulatorPositions();
  void trackLitFromMinimumToThumbMiddle_data();
  void trackLitFromMinimumToThumbMiddle();
  void ditheredTicksStartWithTheTickColour();
  void thumbTransparentColourUnlessOpaque();
  void thumbCellFollowsState();
  void trackImagesRebuiltOnlyWhenTheirInputsChange();
  void dragFollowsPointerAndStopsAtTheEnds();
  void dragReaches153ValuesAndRepaintsOncePerValue();
  void trackClickNeedsActiveClick();
  void mouseClipKeepsPointerInside();
  void handCursorOverThumb();
  void keysStepInTheArrowsDirection();
  void focusColoursTheBorder();
  void orientationSwapsTheSize();
  void bitmapListSuppliesThumbs();
  void noRangeOrNoRoomIsHarmless();
  void paintsCrispAtPixelRatio2();
};

void TestVrSlider::mappingsRoundHalvesToEven() {
  QCOMPARE(RoundHalfEven(2.5), 2.0);
  QCOMPARE(RoundHalfEven(1.5), 2.0);
  QCOMPARE(RoundHalfEven(-0.5), 0.0);
  QCOMPARE(RoundHalfEven(2.5000001), 3.0);
  // One pixel of a 2-pixel travel over 0..5 is 2.5 -> 2; value 1 of 0..2 on
  // a 1-pixel travel is 0.5 -> 0 (qRound would give 3 and 1).
  Travel t;
  t.Orientation = voHorizontal;
  t.ClientHeight = 36;
  t.ThumbWidth = 13;
  t.ThumbHeight = 30;
  t.ClientWidth = 2 * 3 + 13 + 2;
  t.MaxValue = 5;
  QCOMPARE(t.MoveThumbValue(t.Origin() + 1), 2);
  t.ClientWidth = 2 * 3 + 13 + 1;
  t.MaxValue = 2;
  QCOMPARE(t.ValueToEdge(1), t.Origin());
  QCOMPARE(t.ValueToEdge(2), t.Origin() + 1);
}

void TestVrSlider::everyStyleRoundTrips_data() {
  QTest::addColumn<int>("orientation");
  QTest::addColumn<int>("style");
  QTest::addColumn<int>("minValue");
  QTest::addColumn<int>("maxValue");
  QTest::newRow("vertical bottom-left 0..255") << int(voVertical) << int(ssBottomLeft) << 0 << 255;
  QTest::newRow("vertical top-right 0..255") << int(voVertical) << int(ssTopRight) << 0 << 255;
  QTest::newRow("horizontal bottom-left -50..50") << int(voHorizontal) << int(ssBottomLeft) << -50 << 50;
  QTest::newRow("horizontal top-right 10..1000") << int(voHorizontal) << int(ssTopRight) << 10 << 1000;
  QTest::newRow("vertical 0..40, fewer values than pixels") << int(voVertical) << int(ssBottomLeft) << 0 << 40;
}

// Moving the thumb to where a value is drawn gives that value back, over the
// whole travel, and the ends map to the ends; a wrong sign or swapped end
// breaks it at once.
void TestVrSlider::everyStyleRoundTrips() {
  QFETCH(int, orientation);
  QFETCH(int, style);
  QFETCH(int, minValue);
  QFETCH(int, maxValue);
  Travel t;
  t.Orientation = TVrOrientation(orientation);
  t.Style = TVrSliderStyle(style);
  t.MinValue = minValue;
  t.MaxValue = maxValue;
  if (t.Orientation == voHorizontal) {
    t.ClientWidth = 171;
    t.ClientHeight = 36;
    std::swap(t.ThumbWidth, t.ThumbHeight);
  }
  const int first = t.Origin(), last = first + t.Length();
  const bool minimumAtFirst = (t.Orientation == voVertical) == (t.Style == ssTopRight);
  QCOMPARE(t.ValueToEdge(minValue), minimumAtFirst ? first : last);
  QCOMPARE(t.MoveThumbValue(first - 50), minimumAtFirst ? minValue : maxValue);
  for (int edge = first; edge <= last; ++edge) {
    const int v = t.MoveThumbValue(edge);
    QVERIFY(v >= minValue && v <= maxValue);
    if (t.Range() >= t.Length()) QCOMPARE(t.ValueToEdge(v), edge);
  }
  for (int v = minValue; v <= maxValue; ++v) {
    const int edge = t.ValueToEdge(v);
    QVERIFY(edge >= first && edge <= last);
    QCOMPARE(t.ValueToEdge(t.MoveThumbValue(edge)), edge);
  }
}

void TestVrSlider::extremeRangeDoesNotOverflow() {
  Travel t;
  t.MinValue = INT_MIN;
  t.MaxValue = INT_MAX;
  QCOMPARE(t.ValueToEdge(INT_MIN), 155);
  QCOMPARE(t.ValueToEdge(INT_MAX), 3);
  QCOMPARE(t.ValueToEdge(0), 79);
  QCOMPARE(t.MoveThumbValue(3), INT_MAX);
  QCOMPARE(t.MoveThumbValue(155), INT_MIN);
  t.Style = ssTopRight;
  QCOMPARE(t.MoveThumbValue(3), INT_MIN);
}

void TestVrSlider::valuesAtCreation() {
  TVrSlider s;
  QCOMPARE(s.size(), QSize(36, 171));
  QCOMPARE(QList<int>({s.MaxValue(), s.MinValue(), s.Position(), s.Spacing(), s.TickWidth(), s.ThumbStates(),
                       s.KeyIncrement(), s.BorderWidth(), s.ThumbImageIndex(), s.ThumbIndent()}),
           QList<int>({100, 0, 0, 1, 1, 1, 5, 1, -1, 2}));
  QVERIFY(s.Orientation() == voVertical && s.Style() == ssBottomLeft && s.SolidFill() && !s.TabStop());
  QCOMPARE(s.Options(), TVrSliderOptions(soHandPoint | soThumbOpaque));
  QCOMPARE(QList<TColor>({s.BorderColor(), s.FocusColor(), s.Color(), s.Palette()->Low(), s.Palette()->High()}),
           QList<TColor>({clBtnFace, 0xFF0000, clBlack, clGreen, clLime}));
  QVERIFY(s.BitmapList() == nullptr);
  // The bevel's own defaults, but a 2-pixel inner bevel and a black inner space.
  QCOMPARE(s.Bevel()->InnerWidth(), 2);
  QCOMPARE(s.Bevel()->InnerColor(), clBlack);
  QCOMPARE(s.Bevel()->TotalWidth(), 5);
  QCOMPARE(QSize(s.ThumbWidth(), s.ThumbHeight()), QSize(30, 13));
}

void TestVrSlider::positionClampsAndSignalsRealChangesOnly() {
  Fixture f;
  TVrSlider* s = f.Slider;
  QSignalSpy spy(s, &TVrSlider::OnChange);
  const int paints = s->PaintCount();
  s->SetPosition(300);
  QCOMPARE(s->Position(), 255);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).value<QObject*>(), s);
  QCOMPARE(s->PaintCount(), paints + 1);  // at once, not deferred
  s->SetPosition(-5);
  QCOMPARE(s->Position(), 0);
  s->SetPosition(0);
  QCOMPARE(spy.count(), 2);
  QCOMPARE(s->PaintCount(), paints + 2);

  s->SetPosition(200);
  spy.clear();
  s->SetMaxValue(100);
  QCOMPARE(s->Position(), 100);
  QCOMPARE(spy.count(), 1);
  // MinValue above MaxValue is accepted; the upper bound wins.
  s->SetMinValue(150);
  s->SetPosition(120);
  QCOMPARE(s->Position(), 100);
  QCOMPARE(spy.count(), 1);
  // Widening the range again brings Position back inside it.
  s->SetMaxValue(255);
  QCOMPARE(s->Position(), 150);
  s->SetMinValue(0);
  s->SetPosition(10);
  spy.clear();
  s->SetMinValue(50);
  QCOMPARE(s->Position(), 50);
  QCOMPARE(spy.count(), 1);
}

void TestVrSlider::settersIgnoreOutOfRangeValues() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetSpacing(-1);
  s->SetTickWidth(0);
  s->SetTickWidth(-2);
  s->SetBorderWidth(-1);
  s->SetThumbIndent(-1);
  s->SetThumbStates(0);
  s->SetThumbStates(5);
  QCOMPARE(QList<int>({s->Spacing(), s->TickWidth(), s->BorderWidth(), s->ThumbIndent(), s->ThumbStates()}),
           QList<int>({1, 1, 1, 2, 1}));
  s->SetSpacing(0);
  s->SetBorderWidth(0);
  s->SetThumbStates(4);
  s->SetKeyIncrement(-3);
  QCOMPARE(QList<int>({s->Spacing(), s->BorderWidth(), s->ThumbWidth(), s->KeyIncrement()}),
           QList<int>({0, 0, 30 / 4, -3}));

  // An equal value does nothing, not even a repaint; a new one repaints once.
  const int paints = s->PaintCount();
  s->SetBorderColor(clBtnFace);
  s->SetSpacing(0);
  s->SetThumbIndent(2);
  QCOMPARE(s->PaintCount(), paints);
  s->SetBorderColor(clRed);
  QCOMPARE(s->PaintCount(), paints + 1);
}

void TestVrSlider::loadingStoresOnlyThenBuildsOnce() {
  Fixture f;
  TVrSlider* s = f.Slider;
  QSignalSpy spy(s, &TVrSlider::OnChange);
  const int paints = s->PaintCount(), rebuilds = s->TrackRebuildCount();
  s->BeginLoading();
  s->SetSpacing(3);
  s->Palette()->SetHigh(clYellow);
  s->SetThumbStates(2);
  s->SetOrientation(voHorizontal);
  QCOMPARE(s->size(), QSize(36, 171));  // only stored while loading
  s->SetOrientation(voVertical);
  s->SetPosition(40);
  QCOMPARE(spy.count(), 1);  // OnChange still comes
  QCOMPARE(s->PaintCount(), paints);
  QCOMPARE(s->TrackRebuildCount(), rebuilds);
  QCOMPARE(s->ThumbWidth(), 30);
  s->EndLoading();
  QCOMPARE(s->TrackRebuildCount(), rebuilds + 1);
  QCOMPARE(s->PaintCount(), paints + 1);
  QCOMPARE(s->ThumbWidth(), 15);
}

void TestVrSlider::thumbSitsAtTheSimulatorPositions() {
  Fixture f;
  TVrSlider* s = f.Slider;
  QCOMPARE(s->TrackArea(), QRect(6, 6, 24, 159));
  for (const auto& [value, top] : QList<QPair<int, int>>{{0, 155}, {127, 79}, {128, 79}, {254, 4}, {255, 3}}) {
    s->SetPosition(value);
    QCOMPARE(s->ThumbRect(), QRect(3, top, 30, 13));
    // The knob: black outline, white top edge, grey face, dark bottom edge.
    const QImage img = Shot(s);
    QCOMPARE(HexAt(img, 18, top), Hex(Black));
    QCOMPARE(HexAt(img, 18, top + 1), Hex(White));
    QCOMPARE(HexAt(img, 10, top + 3), Hex(KnobFace));
    QCOMPARE(HexAt(img, 18, top + 11), Hex(KnobDark));
    QCOMPARE(HexAt(img, 3, top + 6), Hex(Black));
    QCOMPARE(HexAt(img, 32, top + 12), Hex(Black));
    if (top + 13 <= 164)  // the track right below the knob
      QVERIFY(QList<QRgb>({Black, Lime}).contains(At(img, 18, top + 13)));
  }
}

// Pairs of positions put the thumb's middle on a tick and on a gap, so a lit
// part one pixel too long or too short shows either way; a track of even
// length tells which end the ticks start from.
void TestVrSlider::trackLitFromMinimumToThumbMiddle_data() {
  QTest::addColumn<int>("orientation");
  QTest::addColumn<int>("style");
  QTest::addColumn<int>("position");
  QTest::addColumn<int>("length");
  for (int v : {0, 128, 254, 255})
    QTest::addRow("vertical bottom-left %d", v) << int(voVertical) << int(ssBottomLeft) << v << 171;
  for (int v : {2, 60}) QTest::addRow("vertical top-right %d", v) << int(voVertical) << int(ssTopRight) << v << 171;
  for (int v : {99, 100}) {
    QTest::addRow("horizontal bottom-left %d", v) << int(voHorizontal) << int(ssBottomLeft) << v << 171;
    QTest::addRow("horizontal top-right %d", v) << int(voHorizontal) << int(ssTopRight) << v << 171;
  }
  for (int style : {ssBottomLeft, ssTopRight}) {
    const char* name = style == ssBottomLeft ? "bottom-left" : "top-right";
    QTest::addRow("vertical %s 128, 172 long", name) << int(voVertical) << style << 128 << 172;
    QTest::addRow("horizontal %s 128, 172 long", name) << int(voHorizontal) << style << 128 << 172;
  }
}

// Walks the track from its minimum end: a tick on every other pixel starting
// at that end, lime up to the thumb's middle, green beyond, black between.
void TestVrSlider::trackLitFromMinimumToThumbMiddle() {
  QFETCH(int, orientation);
  QFETCH(int, style);
  QFETCH(int, position);
  QFETCH(int, length);
  const bool vertical = orientation == voVertical;
  Fixture f;
  TVrSlider* s = f.Slider;
  s->resize(36, length);
  s->SetOrientation(TVrOrientation(orientation));
  s->SetStyle(TVrSliderStyle(style));
  TVrBitmapList list;
  UseInvisibleThumb(s, list);
  s->SetPosition(position);

  const QImage img = Shot(s);
  const QRect area = s->TrackArea();
  QCOMPARE(area, vertical ? QRect(6, 6, 24, length - 12) : QRect(6, 6, length - 12, 24));
  const QRect thumb = s->ThumbRect();
  const bool fromFar = vertical == (style == ssBottomLeft);  // minimum at the bottom or right
  int ticks = 0, lit = 0;
  for (int i = 0; i < (vertical ? area.height() : area.width()); ++i) {
    const int along =
        fromFar ? (vertical ? area.bottom() : area.right()) - i : (vertical ? area.top() : area.left()) + i;
    // Where the lit part ends inside the 13-pixel thumb: top + 13 div 2 and
    // bottom - 13 div 2 (vertical), left + 13 div 2 and right - 13 div 2.
    const int start = vertical ? thumb.top() : thumb.left();
    bool isLit;
    if (vertical)
      isLit = fromFar ? along >= start + 6 : along < start + 13 - 6;
    else
      isLit = fromFar ? along >= start + 13 - 6 : along < start + 6;
    const bool tick = i % 2 == 0;
    ticks += tick;
    lit += tick && isLit;
    const QRgb expected = tick ? (isLit ? Lime : Green) : Black;
    for (int across = vertical ? area.left() : area.top(); across <= (vertical ? area.right() : area.bottom());
         ++across) {
      const QRgb got = vertical ? At(img, across, along) : At(img, along, across);
      if (got != expected)
        QFAIL(qPrintable(QString("pixel %1 from the minimum end, %2 across: %3, expected %4")
                             .arg(i)
                             .arg(across)
                             .arg(Hex(got), Hex(expected))));
    }
  }
  QCOMPARE(ticks, 80);
  QVERIFY(lit > 0 && lit < 80);
}

void TestVrSlider::ditheredTicksStartWithTheTickColour() {
  Fixture f;
  TVrSlider* s = f.Slider;
  TVrBitmapList list;
  UseInvisibleThumb(s, list);
  s->SetSolidFill(false);
  s->SetTickWidth(2);
  s->SetPosition(128);  // thumb top 79: lit from row 85 down
  const QImage img = Shot(s);
  const QRect area = s->TrackArea();
  // 2-pixel ticks every 3 rows from the bottom: rows 163-164, 160-161, ...
  int ticks = 0;
  for (int first = area.bottom() - 1; first >= area.top(); first -= 3, ++ticks) {
    for (int row = 0; row < 2; ++row) {
      const int y = first + row;
      for (int x = area.left(); x <= area.right(); ++x) {
        // Each tick starts with its colour at its own top-left pixel.
        const QRgb expected = (x - area.left() + row) % 2 == 0 ? (y >= 85 ? Lime : Green) : Black;
        if (At(img, x, y) != expected)
          QFAIL(qPrintable(QString("(%1, %2): %3, expected %4").arg(x).arg(y).arg(HexAt(img, x, y), Hex(expected))));
      }
    }
    if (first + 2 <= area.bottom()) QCOMPARE(HexAt(img, area.left(), first + 2), Hex(Black));
  }
  QCOMPARE(ticks, 53);
}

void TestVrSlider::thumbTransparentColourUnlessOpaque() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetColor(clNavy);
  s->SetPosition(128);  // thumb at (3, 79); groove row 85 lies over a gap
  QImage img = Shot(s);
  QCOMPARE(HexAt(img, 18, 85), Hex(Black));
  QCOMPARE(HexAt(img, 3, 79), Hex(Black));
  s->SetOptions(soHandPoint);
  img = Shot(s);
  QCOMPARE(HexAt(img, 18, 85), Hex(Navy));         // groove shows the track
  QCOMPARE(HexAt(img, 3, 79), HexAt(img, 3, 40));  // outline shows the bevel
  QCOMPARE(HexAt(img, 10, 82), Hex(KnobFace));
}

void TestVrSlider::thumbCellFollowsState() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(100);
  // With one cell (the built-in thumb) a disabled slider looks the same.
  const QImage enabled = Shot(s);
  s->setEnabled(false);
  const QImage disabled = Shot(s);
  QCOMPARE(HexAt(disabled, 10, s->ThumbRect().top() + 3), Hex(KnobFace));
  QVERIFY(enabled == disabled);
  s->setEnabled(true);

  const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), yellow = qRgb(255, 255, 0), magenta = qRgb(255, 0, 255);
  TVrBitmapList list;
  list.Add(Cells(QSize(10, 8), {red, blue, yellow, magenta}));
  list.Add(Cells(QSize(10, 8), {red, blue}));
  s->SetBitmapList(&list);
  s->SetThumbImageIndex(0);
  s->SetThumbStates(4);
  QCOMPARE(QSize(s->ThumbWidth(), s->ThumbHeight()), QSize(10, 8));
  const QPoint mid = s->ThumbRect().center(), away(mid.x(), 30);
  auto shown = [&] { return HexAt(Shot(s), mid.x(), mid.y()); };
  QCOMPARE(shown(), Hex(red));
  QTest::mouseMove(s, mid);
  QCOMPARE(shown(), Hex(magenta));
  QTest::mousePress(s, Qt::LeftButton, {}, mid);
  QCOMPARE(shown(), Hex(yellow));  // dragging wins over hovering
  QTest::mouseRelease(s, Qt::LeftButton, {}, mid);
  QCOMPARE(shown(), Hex(magenta));
  QTest::mouseMove(s, away);
  QCOMPARE(shown(), Hex(red));
  s->setEnabled(false);
  QCOMPARE(shown(), Hex(blue));

  // Two cells: the dragged state has none and falls back to the first.
  s->setEnabled(true);
  s->SetThumbImageIndex(1);
  s->SetThumbStates(2);
  QTest::mousePress(s, Qt::LeftButton, {}, mid);
  QVERIFY(s->Dragging());
  QCOMPARE(shown(), Hex(red));
  QTest::mouseRelease(s, Qt::LeftButton, {}, mid);
}

void TestVrSlider::trackImagesRebuiltOnlyWhenTheirInputsChange() {
  Fixture f;
  TVrSlider* s = f.Slider;
  int rebuilds = s->TrackRebuildCount();
  QVERIFY(rebuilds >= 1);
  for (int v = 0; v <= 255; ++v) s->SetPosition(v);
  s->SetBorderColor(clRed);
  s->SetFocusColor(clYellow);
  s->SetThumbIndent(4);
  s->SetOptions(soActiveClick);
  s->setEnabled(false);
  QCOMPARE(s->TrackRebuildCount(), rebuilds);

  const QList<std::pair<const char*, std::function<void()>>> triggers = {
      {"Spacing", [&] { s->SetSpacing(2); }},
      {"TickWidth", [&] { s->SetTickWidth(3); }},
      {"SolidFill", [&] { s->SetSolidFill(false); }},
      {"Style", [&] { s->SetStyle(ssTopRight); }},
      {"Palette.High", [&] { s->Palette()->SetHigh(clYellow); }},
      {"Color", [&] { s->SetColor(clNavy); }},
      {"BorderWidth", [&] { s->SetBorderWidth(2); }},
      {"Bevel.InnerWidth", [&] { s->Bevel()->SetInnerWidth(1); }},
      {"resize",
       [&] {
         s->resize(40, 171);
         Shot(s);
       }},
      {"a batch",
       [&] {
         s->BeginUpdate();
         s->SetSpacing(1);
         s->SetTickWidth(1);
         s->Palette()->SetLow(clRed);
         s->EndUpdate();
       }},
  };
  for (const auto& [what, change] : triggers) {
    change();
    QVERIFY2(s->TrackRebuildCount() == ++rebuilds, what);
  }
}

void TestVrSlider::dragFollowsPointerAndStopsAtTheEnds() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);  // thumb top 79
  QSignalSpy spy(s, &TVrSlider::OnChange);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 81));
  QVERIFY(s->Dragging());
  QCOMPARE(s->HitOffset(), 2);
  QCOMPARE(s->Position(), 128);
  // Thumb top 69: 171 - 69 - 13 = 89, (89 - 3) * 255 / 152 = 144.28.
  QTest::mouseMove(s, QPoint(18, 71));
  QCOMPARE(s->Position(), 144);
  QCOMPARE(s->ThumbRect().top(), 69);
  QTest::mouseMove(s, QPoint(18, -50));
  QCOMPARE(s->Position(), 255);
  QTest::mouseMove(s, QPoint(18, 400));
  QCOMPARE(s->Position(), 0);
  // Back to top 79: 76 * 255 / 152 = 127.5, which goes to the even 128.
  QTest::mouseMove(s, QPoint(18, 81));
  QCOMPARE(s->Position(), 128);
  QCOMPARE(spy.count(), 4);
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 81));
  QVERIFY(!s->Dragging());
  QTest::mouseMove(s, QPoint(18, 20));
  QCOMPARE(s->Position(), 128);
  // Another button starts nothing.
  QTest::mousePress(s, Qt::RightButton, {}, QPoint(18, 81));
  QVERIFY(!s->Dragging());
  QTest::mouseRelease(s, Qt::RightButton, {}, QPoint(18, 81));
}

void TestVrSlider::dragReaches153ValuesAndRepaintsOncePerValue() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(255);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 3 + 6));
  std::set<int> seen{s->Position()};
  for (int y = -30; y <= 200; ++y) {
    QTest::mouseMove(s, QPoint(18, y));
    seen.insert(s->Position());
  }
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 200));
  QCOMPARE(int(seen.size()), 153);
  QVERIFY(seen.count(0) && seen.count(255));
  for (int unreachable : {1, 4, 6, 9}) QVERIFY(!seen.count(unreachable));
  for (int v = 0; v <= 255; ++v) {  // the program reaches every value
    s->SetPosition(v);
    QCOMPARE(s->Position(), v);
  }

  // With far fewer values than pixels most moves change nothing and cost nothing.
  s->SetMaxValue(40);
  s->SetPosition(0);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 160));
  QSignalSpy spy(s, &TVrSlider::OnChange);
  const int paints = s->PaintCount();
  for (int y = 159; y >= 0; --y) QTest::mouseMove(s, QPoint(18, y));
  QCOMPARE(s->Position(), 40);
  QCOMPARE(spy.count(), 40);
  QCOMPARE(s->PaintCount() - paints, 40);
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 0));
}

void TestVrSlider::trackClickNeedsActiveClick() {
  Fixture f;
  TVrSlider* s = f.Slider;
  QSignalSpy spy(s, &TVrSlider::OnChange);
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 40));
  QCOMPARE(s->Position(), 0);
  QCOMPARE(spy.count(), 0);

  s->SetOptions(s->Options() | soActiveClick);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 40));
  // Centred on the pointer: top 34, so (171 - 34 - 13 - 3) * 255 / 152 = 202.99.
  QCOMPARE(s->HitOffset(), 34);
  QCOMPARE(s->Position(), 203);
  QCOMPARE(s->ThumbRect().center().y(), 40);
  QVERIFY(!s->Dragging());
  QTest::mouseMove(s, QPoint(18, 100));
  QCOMPARE(s->Position(), 203);
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 100));
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 2));
  QCOMPARE(s->Position(), 255);
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 170));
  QCOMPARE(s->Position(), 0);
  QTest::mouseClick(s, Qt::RightButton, {}, QPoint(18, 40));
  QCOMPARE(s->Position(), 0);
  QCOMPARE(spy.count(), 3);
}

void TestVrSlider::mouseClipKeepsPointerInside() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);
  s->SetOptions(s->Options() | soMouseClip);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 85));
  QVERIFY(s->ClipOn());
  QTest::mouseMove(s, QPoint(200, 85));
  QVERIFY(WaitUntil([&] { return QCursor::pos() == s->mapToGlobal(QPoint(35, 85)); }));
  QCOMPARE(s->Position(), 128);
  QTest::mouseMove(s, QPoint(18, -100));
  QVERIFY(WaitUntil([&] { return QCursor::pos() == s->mapToGlobal(QPoint(18, 0)); }));
  QCOMPARE(s->Position(), 255);
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 0));
  QVERIFY(!s->ClipOn() && !s->Dragging());
}

void TestVrSlider::handCursorOverThumb() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);
  const QPoint onThumb = s->ThumbRect().center(), offThumb(18, 30);
  QTest::mouseMove(s, onThumb);
  QCOMPARE(s->cursor().shape(), Qt::BitmapCursor);
  QCOMPARE(s->cursor().hotSpot(), QPoint(10, 5));
  QTest::mouseMove(s, offThumb);
  QCOMPARE(s->cursor().shape(), Qt::ArrowCursor);
  QVERIFY(!s->testAttribute(Qt::WA_SetCursor));
  // The control's own cursor comes back off the thumb, and stays without soHandPoint.
  s->setCursor(Qt::CrossCursor);
  QTest::mouseMove(s, onThumb);
  QCOMPARE(s->cursor().shape(), Qt::BitmapCursor);
  QTest::mouseMove(s, offThumb);
  QCOMPARE(s->cursor().shape(), Qt::CrossCursor);
  s->SetOptions(soThumbOpaque);
  QTest::mouseMove(s, onThumb);
  QCOMPARE(s->cursor().shape(), Qt::CrossCursor);
  // The hot spot lies on the finger tip, inside its outline.
  const QImage mask = VrHandPointCursor().mask().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage shape = VrHandPointCursor().bitmap().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(HexAt(mask, 10, 5), Hex(Black));  // opaque
  QCOMPARE(HexAt(shape, 10, 5), Hex(White));
}

namespace {
// Records the keys that reach the window holding the slider.
struct KeyLog : QObject {
  QList<int> Keys;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(e)->key();
      if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt) Keys.append(key);
    }
    return false;
  }
};
}  // namespace

void TestVrSlider::keysStepInTheArrowsDirection() {
  Fixture f;
  TVrSlider* s = f.Slider;
  KeyLog log;
  f.Window.installEventFilter(&log);
  s->SetTabStop(true);
  f.Window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&f.Window));
  s->setFocus();
  QVERIFY(WaitUntil([&] { return s->hasFocus(); }));
  s->SetPosition(100);

  using Step = std::tuple<Qt::Key, Qt::KeyboardModifiers, int>;
  auto run = [&](const QList<Step>& steps) {
    for (const auto& [key, mods, expected] : steps) {
      QTest::keyClick(s, key, mods);
      QVERIFY2(s->Position() == expected, qPrintable(QString("key %1: %2").arg(int(key), 0, 16).arg(s->Position())));
    }
  };
  const Qt::KeyboardModifiers none;
  run({{Qt::Key_Up, none, 105},
       {Qt::Key_Down, none, 100},
       {Qt::Key_Left, none, 100},
       {Qt::Key_Right, none, 100},
       {Qt::Key_Up, Qt::ShiftModifier, 100},
       {Qt::Key_Down, Qt::ControlModifier, 100},
       {Qt::Key_Home, Qt::AltModifier, 100},
       {Qt::Key_Up, Qt::KeypadModifier, 105},
       {Qt::Key_Home, none, 0},
       {Qt::Key_Down, none, 0},
       {Qt::Key_End, none, 255},
       {Qt::Key_Up, none, 255}});
  // Minimum at the top: Up moves the thumb up, so the value goes down.
  s->SetStyle(ssTopRight);
  s->SetPosition(100);
  run({{Qt::Key_Up, none, 95}, {Qt::Key_Down, none, 100}});
  s->SetOrientation(voHorizontal);
  s->SetStyle(ssBottomLeft);
  s->SetKeyIncrement(20);
  run({{Qt::Key_Right, none, 120}, {Qt::Key_Left, none, 100}, {Qt::Key_Up, none, 100}});
  s->SetStyle(ssTopRight);
  run({{Qt::Key_Right, none, 80}, {Qt::Key_Left, none, 100}});
  // The slider used none of them up: the window saw every key.
  QCOMPARE(log.Keys.size(), 19);
}

void TestVrSlider::focusColoursTheBorder() {
  Fixture f;
  TVrSlider* s = f.Slider;
  auto* other = new QWidget(&f.Window);
  other->setFocusPolicy(Qt::StrongFocus);
  other->setGeometry(0, 0, 10, 10);
  other->show();
  f.Window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&f.Window));
  other->setFocus();
  QVERIFY(WaitUntil([&] { return other->hasFocus(); }));
  const QString face = Hex(s->ToQColor(clBtnFace).rgb()), blue = Hex(qRgb(0, 0, 255));

  // Not a tab stop: a click leaves the focus where it was.
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 40));
  QVERIFY(other->hasFocus() && !s->HasFocus());
  QCOMPARE(HexAt(Shot(s), 0, 0), face);

  // A tab stop: only the left button takes the focus.
  s->SetTabStop(true);
  QTest::mouseClick(s, Qt::RightButton, {}, QPoint(18, 40));
  QTest::mouseClick(s, Qt::MiddleButton, {}, QPoint(18, 40));
  QVERIFY(other->hasFocus() && !s->HasFocus());
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 40));
  QVERIFY(WaitUntil([&] { return s->HasFocus(); }));
  const QImage img = Shot(s);
  for (const QPoint& p : {QPoint(0, 0), QPoint(35, 0), QPoint(0, 170), QPoint(35, 170)})
    QCOMPARE(HexAt(img, p.x(), p.y()), blue);
  other->setFocus();
  QVERIFY(WaitUntil([&] { return !s->HasFocus(); }));
  QCOMPARE(HexAt(Shot(s), 35, 170), face);
}

void TestVrSlider::orientationSwapsTheSize() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);
  s->SetOrientation(voHorizontal);
  QCOMPARE(s->geometry(), QRect(20, 20, 171, 36));
  QCOMPARE(s->ThumbRect(), QRect(79, 3, 13, 30));
  // The knob stands upright, its groove running the long way.
  const QImage img = Shot(s);
  QCOMPARE(HexAt(img, 79 + 3, 3 + 10), Hex(KnobFace));
  QCOMPARE(HexAt(img, 79 + 5, 3 + 15), Hex(KnobDark));
  QCOMPARE(HexAt(img, 79 + 6, 3 + 15), Hex(Black));
  QCOMPARE(HexAt(img, 79 + 7, 3 + 15), Hex(White));

  // A square control keeps its size; the track is redrawn for the new direction.
  s->resize(60, 60);
  Shot(s);
  const int rebuilds = s->TrackRebuildCount();
  s->SetOrientation(voVertical);
  QCOMPARE(s->size(), QSize(60, 60));
  QCOMPARE(s->TrackRebuildCount(), rebuilds + 1);
  QCOMPARE(s->ThumbWidth(), 30);
}

void TestVrSlider::bitmapListSuppliesThumbs() {
  auto list = std::make_unique<TVrBitmapList>();
  list->Add(Cells(QSize(20, 9), {qRgb(255, 0, 0)}));
  TVrSlider s;
  auto thumbSize = [&] { return QSize(s.ThumbWidth(), s.ThumbHeight()); };
  s.SetBitmapList(list.get());
  QCOMPARE(list->LinkCount(), 1);
  QCOMPARE(thumbSize(), QSize(30, 13));  // index -1: built-in
  s.SetThumbImageIndex(0);
  QCOMPARE(thumbSize(), QSize(20, 9));
  s.SetThumbImageIndex(5);
  QCOMPARE(thumbSize(), QSize(30, 13));
  s.SetThumbImageIndex(0);
  list->SetBitmap(0, Cells(QSize(16, 7), {qRgb(0, 0, 255)}));  // reported through the link
  QCOMPARE(thumbSize(), QSize(16, 7));

  TVrBitmapList other;
  s.SetBitmapList(&other);
  QCOMPARE(list->LinkCount(), 0);
  QCOMPARE(other.LinkCount(), 1);
  s.SetBitmapList(list.get());
  // The list goes first: the slider lets go of it and falls back.
  list.reset();
  QVERIFY(s.BitmapList() == nullptr);
  QCOMPARE(thumbSize(), QSize(30, 13));
  // The slider goes first: its link leaves the list.
  {
    TVrSlider t;
    t.SetBitmapList(&other);
    QCOMPARE(other.LinkCount(), 1);
  }
  QCOMPARE(other.LinkCount(), 0);
  other.Add(Cells(QSize(4, 4), {Black}));
}

void TestVrSlider::noRangeOrNoRoomIsHarmless() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetOptions(s->Options() | soActiveClick);
  s->SetMaxValue(7);
  s->SetMinValue(7);
  QCOMPARE(s->Position(), 7);
  QCOMPARE(s->ThumbRect().top(), 155);  // the minimum end
  QCOMPARE(HexAt(Shot(s), 10, 158), Hex(KnobFace));
  QSignalSpy spy(s, &TVrSlider::OnChange);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 160));
  QVERIFY(s->Dragging());
  QTest::mouseMove(s, QPoint(18, 20));
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 20));
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 20));
  QCOMPARE(s->Position(), 7);
  QCOMPARE(spy.count(), 0);

  // Too small for its thumb: no travel at all; the thumb stays, a click gives MinValue.
  s->SetMinValue(0);
  s->SetMaxValue(255);
  for (const QSize size : {QSize(36, 19), QSize(36, 8), QSize(3, 3)}) {
    s->SetPosition(100);
    s->resize(size);
    Shot(s);
    const QRect thumb = s->ThumbRect();
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(size.width() / 2, size.height() - 1));
    QCOMPARE(s->Position(), 0);
    QCOMPARE(s->ThumbRect(), thumb);
  }
}

void TestVrSlider::paintsCrispAtPixelRatio2() {
  if (qApp->devicePixelRatio() < 2) {
    if (qEnvironmentVariableIsSet("QUORLINK_EXPECT_DPR2")) QFAIL("QT_SCALE_FACTOR=2 did not give a pixel ratio of 2");
    QSKIP("needs a pixel ratio of 2; ctest runs tst_vrslider_dpr2 for it");
  }
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);
  for (bool solid : {true, false}) {
    s->SetSolidFill(solid);
    const QImage img = Shot(s);
    QCOMPARE(img.size(), QSize(72, 342));
    // Every logical pixel is a clean 2 x 2 block: nothing blurred or blended.
    for (int y = 0; y < img.height(); y += 2)
      for (int x = 0; x < img.width(); x += 2) {
        const QRgb c = At(img, x, y);
        if (At(img, x + 1, y) != c || At(img, x, y + 1) != c || At(img, x + 1, y + 1) != c)
          QFAIL(qPrintable(QString("block at logical (%1, %2) is not uniform").arg(x / 2).arg(y / 2)));
      }
    auto logical = [&](int x, int y) { return HexAt(img, 2 * x, 2 * y); };
    QCOMPARE(logical(18, 79), Hex(Black));
    QCOMPARE(logical(18, 80), Hex(White));
    QCOMPARE(logical(10, 82), Hex(KnobFace));
    QCOMPARE(logical(6, 164), Hex(Lime));
    QCOMPARE(logical(6, 163), Hex(Black));
    QCOMPARE(logical(6, 20), Hex(Green));
    QCOMPARE(logical(7, 20), Hex(solid ? Green : Black));
  }
}

QTEST_MAIN(TestVrSlider)
#include "tst_vrslider.moc"
