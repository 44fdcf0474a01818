#include "controls/VrSlider.h"
#include "controls/VrSliderGeometry.h"
#include "TestSettings.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include <climits>
#include <memory>
#include <set>

using VrSliderGeometry::RoundHalfEven;
using VrSliderGeometry::Travel;

namespace {

// The slider the simulator window uses: 36 x 171, 0..255, built-in thumb.
Travel SimulatorTravel() {
  Travel t;
  t.MaxValue = 255;
  return t;
}

const QRgb Black = qRgb(0, 0, 0);
const QRgb Green = qRgb(0, 128, 0);
const QRgb Lime = qRgb(0, 255, 0);
const QRgb KnobFace = qRgb(192, 192, 192);

// A shown window holding one slider set up like the simulator window's.
struct Fixture {
  QWidget Window;
  TVrSlider* Slider;
  Fixture() {
    Window.resize(260, 260);
    Slider = new TVrSlider(&Window);
    Slider->setGeometry(20, 20, 36, 171);
    Slider->SetMaxValue(255);
    Window.show();
    if (!QTest::qWaitForWindowExposed(&Window))
      qWarning("window not exposed");
  }
};

QImage Shot(TVrSlider* s) { return s->grab().toImage().convertToFormat(QImage::Format_RGB32); }
QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) | 0xFF000000u; }
QString Hex(QRgb c) { return QString::number(c & RGB_MASK, 16).rightJustified(6, '0'); }

// Cells of cellSize side by side, one per colour.
QImage Cells(QSize cellSize, const QList<QRgb>& colours) {
  QImage image(cellSize.width() * int(colours.size()), cellSize.height(), QImage::Format_RGB32);
  for (int i = 0; i < colours.size(); ++i)
    for (int y = 0; y < cellSize.height(); ++y)
      for (int x = 0; x < cellSize.width(); ++x)
        image.setPixel(i * cellSize.width() + x, y, colours[i]);
  return image;
}

}  // namespace

class TestVrSlider : public QObject {
  Q_OBJECT

private slots:
  void roundsHalvesToEven();
  void simulatorSliderGeometry();
  void dragReachesEveryPixelsValueOnly();
  void everyStyleRoundTrips_data();
  void everyStyleRoundTrips();
  void minimumEndFollowsStyle();
  void degenerateTravelIsHarmless();
  void extremeRangeDoesNotOverflow();

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
  void disabledWithOneThumbStateLooksIdentical();
  void trackImagesRebuiltOnlyWhenTheirInputsChange();
  void dragFollowsPointerAndStopsAtTheEnds();
  void dragReaches153Values();
  void dragRepaintsOncePerDistinctValue();
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

void TestVrSlider::roundsHalvesToEven() {
  QCOMPARE(RoundHalfEven(0.5), 0.0);
  QCOMPARE(RoundHalfEven(1.5), 2.0);
  QCOMPARE(RoundHalfEven(2.5), 2.0);
  QCOMPARE(RoundHalfEven(-0.5), 0.0);
  QCOMPARE(RoundHalfEven(-1.5), -2.0);
  QCOMPARE(RoundHalfEven(2.4999999), 2.0);
  QCOMPARE(RoundHalfEven(2.5000001), 3.0);

  // The mappings use it: one pixel of a 2-pixel travel over 0..5 is 2.5 -> 2,
  // and value 1 of 0..2 on a 1-pixel travel is 0.5 -> 0.
  Travel t;
  t.Orientation = voHorizontal;
  t.ClientHeight = 36;
  t.ThumbWidth = 13;
  t.ThumbHeight = 30;
  t.ClientWidth = 2 * 3 + 13 + 2;
  t.MaxValue = 5;
  QCOMPARE(t.Length(), 2);
  QCOMPARE(t.MoveThumbValue(t.Origin() + 1), 2);
  t.ClientWidth = 2 * 3 + 13 + 1;
  t.MaxValue = 2;
  QCOMPARE(t.Length(), 1);
  QCOMPARE(t.ValueToEdge(1), t.Origin());
  QCOMPARE(t.ValueToEdge(2), t.Origin() + 1);
}

void TestVrSlider::simulatorSliderGeometry() {
  const Travel t = SimulatorTravel();
  const auto r = t.SliderRect();
  QCOMPARE(r.Left, 3);
  QCOMPARE(r.Top, 3);
  QCOMPARE(r.Right, 33);
  QCOMPARE(r.Bottom, 168);
  QCOMPARE(t.Origin(), 3);
  QCOMPARE(t.Length(), 152);
  QCOMPARE(t.ThumbAcross(), 3);
  QCOMPARE(t.ValueToEdge(0), 155);
  QCOMPARE(t.ValueToEdge(127), 79);
  QCOMPARE(t.ValueToEdge(128), 79);
  QCOMPARE(t.ValueToEdge(254), 4);
  QCOMPARE(t.ValueToEdge(255), 3);
}

void TestVrSlider::dragReachesEveryPixelsValueOnly() {
  const Travel t = SimulatorTravel();
  std::set<int> reached;
  for (int edge = -40; edge <= 171 + 40; ++edge) reached.insert(t.MoveThumbValue(edge));
  QCOMPARE(int(reached.size()), 153);
  QCOMPARE(*reached.begin(), 0);
  QCOMPARE(*reached.rbegin(), 255);
  for (int unreachable : {1, 4, 6, 9}) QVERIFY2(!reached.count(unreachable), qPrintable(QString::number(unreachable)));
  // Past either end the value is exactly the end's.
  QCOMPARE(t.MoveThumbValue(-1000), 255);
  QCOMPARE(t.MoveThumbValue(2), 255);
  QCOMPARE(t.MoveThumbValue(156), 0);
  QCOMPARE(t.MoveThumbValue(5000), 0);
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
  QTest::newRow("vertical fewer values than pixels") << int(voVertical) << int(ssBottomLeft) << 0 << 40;
}

// Moving the thumb to where a value is drawn gives that value back, for every
// pixel of the travel; a wrong sign or a swapped end breaks it at once.
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
    t.ThumbWidth = 13;
    t.ThumbHeight = 30;
  }
  const int first = t.Origin();
  const int last = first + t.Length();
  std::set<int> edges;
  for (int edge = first; edge <= last; ++edge) {
    const int v = t.MoveThumbValue(edge);
    QVERIFY(v >= minValue && v <= maxValue);
    edges.insert(t.ValueToEdge(v));
    if (t.Range() >= t.Length()) QCOMPARE(t.ValueToEdge(v), edge);
  }
  QCOMPARE(*edges.begin(), first);
  QCOMPARE(*edges.rbegin(), last);
  for (int v = minValue; v <= maxValue; ++v) {
    const int edge = t.ValueToEdge(v);
    QVERIFY(edge >= first && edge <= last);
    QCOMPARE(t.ValueToEdge(t.MoveThumbValue(edge)), edge);
  }
}

void TestVrSlider::minimumEndFollowsStyle() {
  Travel t = SimulatorTravel();
  t.Style = ssTopRight;
  QCOMPARE(t.ValueToEdge(0), 3);
  QCOMPARE(t.ValueToEdge(255), 155);
  QCOMPARE(t.MoveThumbValue(3), 0);
  QCOMPARE(t.MoveThumbValue(155), 255);

  Travel h;
  h.Orientation = voHorizontal;
  h.ClientWidth = 171;
  h.ClientHeight = 36;
  h.ThumbWidth = 13;
  h.ThumbHeight = 30;
  h.MaxValue = 255;
  QCOMPARE(h.ThumbAcross(), 3);
  QCOMPARE(h.Length(), 152);
  QCOMPARE(h.ValueToEdge(0), 3);
  QCOMPARE(h.ValueToEdge(255), 155);
  QCOMPARE(h.MoveThumbValue(3), 0);
  h.Style = ssTopRight;
  QCOMPARE(h.ValueToEdge(0), 155);
  QCOMPARE(h.ValueToEdge(255), 3);
  QCOMPARE(h.MoveThumbValue(155), 0);
  QCOMPARE(h.MoveThumbValue(3), 255);
}

void TestVrSlider::degenerateTravelIsHarmless() {
  Travel t = SimulatorTravel();
  t.MinValue = t.MaxValue = 7;
  QCOMPARE(t.ValueToEdge(7), 155);
  QCOMPARE(t.MoveThumbValue(3), 7);
  QCOMPARE(t.MoveThumbValue(155), 7);

  for (int height : {6 + 13, 6 + 5, 0}) {
    Travel small = SimulatorTravel();
    small.ClientHeight = height;
    QVERIFY(small.Length() <= 0);
    QCOMPARE(small.ValueToEdge(200), small.ValueToEdge(0));
    QCOMPARE(small.MoveThumbValue(0), 0);
    QCOMPARE(small.MoveThumbValue(100), 0);
    small.Style = ssTopRight;
    QCOMPARE(small.ValueToEdge(200), small.Origin());
    QCOMPARE(small.MoveThumbValue(100), 0);
  }
}

void TestVrSlider::extremeRangeDoesNotOverflow() {
  Travel t = SimulatorTravel();
  t.MinValue = INT_MIN;
  t.MaxValue = INT_MAX;
  QCOMPARE(t.ValueToEdge(INT_MIN), 155);
  QCOMPARE(t.ValueToEdge(INT_MAX), 3);
  QCOMPARE(t.ValueToEdge(0), 79);
  QCOMPARE(t.MoveThumbValue(3), INT_MAX);
  QCOMPARE(t.MoveThumbValue(155), INT_MIN);
  t.Style = ssTopRight;
  QCOMPARE(t.MoveThumbValue(3), INT_MIN);
  QCOMPARE(t.MoveThumbValue(155), INT_MAX);
}

// ---------------------------------------------------------------------------
// The control

namespace {

const QRgb White = qRgb(255, 255, 255);
const QRgb KnobDark = qRgb(128, 128, 128);
const QRgb Navy = qRgb(0, 0, 128);

// A thumb image of nothing but its transparent colour: with soThumbOpaque off
// the whole track shows, while the thumb keeps the built-in size.
void UseInvisibleThumb(TVrSlider* s, TVrBitmapList& list) {
  QImage ghost(s->Orientation() == voVertical ? QSize(30, 13) : QSize(13, 30), QImage::Format_RGB32);
  ghost.fill(Qt::black);
  list.Add(ghost);
  s->SetBitmapList(&list);
  s->SetThumbImageIndex(list.Count() - 1);
  s->SetOptions(s->Options() & ~TVrSliderOptions(soThumbOpaque));
}

bool IsTrackColour(QRgb c) { return c == Black || c == Green || c == Lime; }

}  // namespace

void TestVrSlider::valuesAtCreation() {
  TVrSlider s;
  QCOMPARE(s.size(), QSize(36, 171));
  QCOMPARE(s.MaxValue(), 100);
  QCOMPARE(s.MinValue(), 0);
  QCOMPARE(s.Position(), 0);
  QCOMPARE(s.Spacing(), 1);
  QCOMPARE(s.TickWidth(), 1);
  QCOMPARE(s.Orientation(), voVertical);
  QVERIFY(s.SolidFill());
  QCOMPARE(s.Style(), ssBottomLeft);
  QCOMPARE(s.ThumbStates(), 1);
  QCOMPARE(s.Options(), TVrSliderOptions(soHandPoint | soThumbOpaque));
  QCOMPARE(s.KeyIncrement(), 5);
  QCOMPARE(s.BorderColor(), clBtnFace);
  QCOMPARE(s.BorderWidth(), 1);
  QCOMPARE(s.FocusColor(), TColor(0xFF0000));
  QCOMPARE(s.ThumbImageIndex(), -1);
  QCOMPARE(s.ThumbIndent(), 2);
  QVERIFY(s.BitmapList() == nullptr);
  QCOMPARE(s.Color(), clBlack);
  QVERIFY(!s.TabStop());
  QCOMPARE(s.Palette()->Low(), clGreen);
  QCOMPARE(s.Palette()->High(), clLime);
  // The bevel's own defaults, but a 2-pixel inner bevel and a black inner space.
  QCOMPARE(s.Bevel()->InnerWidth(), 2);
  QCOMPARE(s.Bevel()->InnerColor(), clBlack);
  QCOMPARE(s.Bevel()->OuterStyle(), bsRaised);
  QCOMPARE(s.Bevel()->InnerStyle(), bsLowered);
  QCOMPARE(s.Bevel()->OuterOutline(), osOuter);
  QCOMPARE(s.Bevel()->TotalWidth(), 5);
  QCOMPARE(s.ThumbWidth(), 30);
  QCOMPARE(s.ThumbHeight(), 13);
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
  QCOMPARE(spy.count(), 2);
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
  QCOMPARE(s->MinValue(), 150);
  QCOMPARE(s->Position(), 100);
  s->SetPosition(120);
  QCOMPARE(s->Position(), 100);
  QCOMPARE(spy.count(), 1);
  // Widening the range again brings Position back inside it.
  s->SetMaxValue(255);
  QCOMPARE(s->Position(), 150);
  QCOMPARE(spy.count(), 2);

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
  QCOMPARE(s->Spacing(), 1);
  s->SetSpacing(0);
  QCOMPARE(s->Spacing(), 0);
  s->SetTickWidth(0);
  s->SetTickWidth(-2);
  QCOMPARE(s->TickWidth(), 1);
  s->SetBorderWidth(-1);
  QCOMPARE(s->BorderWidth(), 1);
  s->SetBorderWidth(0);
  QCOMPARE(s->BorderWidth(), 0);
  s->SetThumbIndent(-1);
  QCOMPARE(s->ThumbIndent(), 2);
  s->SetThumbStates(0);
  s->SetThumbStates(5);
  QCOMPARE(s->ThumbStates(), 1);
  s->SetThumbStates(4);
  QCOMPARE(s->ThumbWidth(), 30 / 4);
  s->SetKeyIncrement(-3);
  QCOMPARE(s->KeyIncrement(), -3);

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
  const int paints = s->PaintCount();
  const int rebuilds = s->TrackRebuildCount();

  s->BeginLoading();
  s->SetSpacing(3);
  TVrPalette palette;
  palette.SetHigh(clYellow);
  s->SetPalette(palette);
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
  const QList<QPair<int, int>> tops = {{0, 155}, {127, 79}, {128, 79}, {254, 4}, {255, 3}};
  for (const auto& [value, top] : tops) {
    s->SetPosition(value);
    QCOMPARE(s->ThumbRect(), QRect(3, top, 30, 13));
    const QImage img = Shot(s);
    // The knob: black outline, white top edge, grey face, dark bottom edge.
    QCOMPARE(Hex(At(img, 18, top)), Hex(Black));
    QCOMPARE(Hex(At(img, 18, top + 1)), Hex(White));
    QCOMPARE(Hex(At(img, 10, top + 3)), Hex(KnobFace));
    QCOMPARE(Hex(At(img, 18, top + 11)), Hex(KnobDark));
    QCOMPARE(Hex(At(img, 18, top + 12)), Hex(Black));
    QCOMPARE(Hex(At(img, 3, top + 6)), Hex(Black));
    QCOMPARE(Hex(At(img, 32, top + 6)), Hex(Black));
    // Track right beyond either end of the knob.
    if (top - 1 >= 6)
      QVERIFY2(IsTrackColour(At(img, 18, top - 1)), qPrintable(Hex(At(img, 18, top - 1))));
    if (top + 13 <= 164)
      QVERIFY2(IsTrackColour(At(img, 18, top + 13)), qPrintable(Hex(At(img, 18, top + 13))));
  }
}

// Positions come in pairs whose thumb middles fall on a tick and on a gap, so
// a lit part one pixel too long or too short shows either way.
void TestVrSlider::trackLitFromMinimumToThumbMiddle_data() {
  QTest::addColumn<int>("orientation");
  QTest::addColumn<int>("style");
  QTest::addColumn<int>("position");
  QTest::newRow("vertical bottom-left 128") << int(voVertical) << int(ssBottomLeft) << 128;
  QTest::newRow("vertical bottom-left 0") << int(voVertical) << int(ssBottomLeft) << 0;
  QTest::newRow("vertical bottom-left 255") << int(voVertical) << int(ssBottomLeft) << 255;
  QTest::newRow("vertical bottom-left 254") << int(voVertical) << int(ssBottomLeft) << 254;
  QTest::newRow("vertical top-right 60") << int(voVertical) << int(ssTopRight) << 60;
  QTest::newRow("vertical top-right 2") << int(voVertical) << int(ssTopRight) << 2;
  QTest::newRow("horizontal bottom-left 100") << int(voHorizontal) << int(ssBottomLeft) << 100;
  QTest::newRow("horizontal bottom-left 99") << int(voHorizontal) << int(ssBottomLeft) << 99;
  QTest::newRow("horizontal top-right 100") << int(voHorizontal) << int(ssTopRight) << 100;
  QTest::newRow("horizontal top-right 99") << int(voHorizontal) << int(ssTopRight) << 99;
}

// Walks the track from its minimum end: ticks on every other pixel, starting
// at the minimum end; lime up to the thumb's middle, green beyond, black between.
void TestVrSlider::trackLitFromMinimumToThumbMiddle() {
  QFETCH(int, orientation);
  QFETCH(int, style);
  QFETCH(int, position);
  const bool vertical = orientation == voVertical;
  Fixture f;
  TVrSlider* s = f.Slider;
  if (!vertical)
    s->SetOrientation(voHorizontal);
  QCOMPARE(s->size(), vertical ? QSize(36, 171) : QSize(171, 36));
  s->SetStyle(TVrSliderStyle(style));
  TVrBitmapList list;
  UseInvisibleThumb(s, list);
  s->SetPosition(position);

  const QImage img = Shot(s);
  const QRect area = s->TrackArea();
  QCOMPARE(area, vertical ? QRect(6, 6, 24, 159) : QRect(6, 6, 159, 24));
  const QRect thumb = s->ThumbRect();
  const bool fromFar = vertical == (style == ssBottomLeft);  // minimum at bottom or right
  const int length = vertical ? area.height() : area.width();
  int ticks = 0, lit = 0;
  for (int i = 0; i < length; ++i) {
    const int along = fromFar ? (vertical ? area.bottom() : area.right()) - i : (vertical ? area.top() : area.left()) + i;
    // 13 div 2 = 6 pixels into the thumb from its minimum-side edge.
    bool isLit;
    if (vertical)
      isLit = style == ssBottomLeft ? along >= thumb.top() + 6 : along < thumb.bottom() + 1 - 6;
    else
      isLit = style == ssBottomLeft ? along < thumb.left() + 6 : along >= thumb.right() + 1 - 6;
    const bool tick = i % 2 == 0;
    const QRgb expected = tick ? (isLit ? Lime : Green) : Black;
    ticks += tick;
    lit += tick && isLit;
    const int across0 = vertical ? area.left() : area.top();
    const int across1 = vertical ? area.right() : area.bottom();
    for (int across = across0; across <= across1; ++across) {
      const QRgb got = vertical ? At(img, across, along) : At(img, along, across);
      if (got != expected)
        QFAIL(qPrintable(QString("pixel %1 from the minimum end, %2 across: %3, expected %4")
                             .arg(i).arg(across).arg(Hex(got), Hex(expected))));
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
  int checkedTicks = 0;
  for (int first = area.bottom() - 1; first >= area.top(); first -= 3, ++checkedTicks) {
    for (int row = 0; row < 2; ++row) {
      const int y = first + row;
      const QRgb tickColour = y >= 85 ? Lime : Green;
      for (int x = area.left(); x <= area.right(); ++x) {
        // Each tick starts with its colour at its own top-left pixel.
        const QRgb expected = (x - area.left() + row) % 2 == 0 ? tickColour : Black;
        if (At(img, x, y) != expected)
          QFAIL(qPrintable(QString("(%1, %2): %3, expected %4").arg(x).arg(y).arg(Hex(At(img, x, y)), Hex(expected))));
      }
    }
    if (first + 2 <= area.bottom())
      QCOMPARE(Hex(At(img, area.left(), first + 2)), Hex(Black));  // the gap
  }
  QCOMPARE(checkedTicks, 53);
}

void TestVrSlider::thumbTransparentColourUnlessOpaque() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetColor(clNavy);
  s->SetPosition(128);  // thumb at (3, 79), groove row 85, an odd row: background
  QImage img = Shot(s);
  QCOMPARE(Hex(At(img, 18, 85)), Hex(Black));
  QCOMPARE(Hex(At(img, 3, 79)), Hex(Black));

  s->SetOptions(soHandPoint);
  img = Shot(s);
  QCOMPARE(Hex(At(img, 18, 85)), Hex(Navy));             // groove shows the track
  QCOMPARE(Hex(At(img, 3, 79)), Hex(At(img, 3, 40)));     // outline shows the bevel
  QCOMPARE(Hex(At(img, 10, 82)), Hex(KnobFace));
  QCOMPARE(Hex(At(img, 18, 84)), Hex(KnobDark));
}

void TestVrSlider::thumbCellFollowsState() {
  Fixture f;
  TVrSlider* s = f.Slider;
  const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), yellow = qRgb(255, 255, 0), magenta = qRgb(255, 0, 255);
  TVrBitmapList list;
  list.Add(Cells(QSize(10, 8), {red, blue, yellow, magenta}));
  list.Add(Cells(QSize(10, 8), {red, blue}));
  s->SetBitmapList(&list);
  s->SetThumbImageIndex(0);
  s->SetThumbStates(4);
  QCOMPARE(s->ThumbWidth(), 10);
  QCOMPARE(s->ThumbHeight(), 8);
  s->SetPosition(128);
  const QPoint mid = s->ThumbRect().center();
  const QPoint away(mid.x(), 30);
  auto shown = [&] { return Hex(At(Shot(s), mid.x(), mid.y())); };

  QCOMPARE(shown(), Hex(red));
  QTest::mouseMove(s, mid);
  QVERIFY(s->MouseOverThumb());
  QCOMPARE(shown(), Hex(magenta));
  QTest::mousePress(s, Qt::LeftButton, {}, mid);
  QVERIFY(s->Dragging());
  QCOMPARE(shown(), Hex(yellow));  // dragging wins over hovering
  QTest::mouseRelease(s, Qt::LeftButton, {}, mid);
  QCOMPARE(shown(), Hex(magenta));
  QTest::mouseMove(s, away);
  QCOMPARE(shown(), Hex(red));
  s->setEnabled(false);
  QCOMPARE(shown(), Hex(blue));

  // Only two cells: the dragged state has none and falls back to the first.
  s->setEnabled(true);
  s->SetThumbImageIndex(1);
  s->SetThumbStates(2);
  QCOMPARE(shown(), Hex(red));
  QTest::mousePress(s, Qt::LeftButton, {}, mid);
  QVERIFY(s->Dragging());
  QCOMPARE(shown(), Hex(red));
  QTest::mouseRelease(s, Qt::LeftButton, {}, mid);
  s->setEnabled(false);
  QCOMPARE(shown(), Hex(blue));
}

void TestVrSlider::disabledWithOneThumbStateLooksIdentical() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(100);
  const QImage enabled = Shot(s);
  const int paints = s->PaintCount();
  s->setEnabled(false);
  QVERIFY(s->PaintCount() > paints);
  const QImage disabled = Shot(s);
  QCOMPARE(Hex(At(disabled, 10, s->ThumbRect().top() + 3)), Hex(KnobFace));
  QVERIFY(enabled == disabled);
}

void TestVrSlider::trackImagesRebuiltOnlyWhenTheirInputsChange() {
  Fixture f;
  TVrSlider* s = f.Slider;
  int rebuilds = s->TrackRebuildCount();
  QVERIFY(rebuilds >= 1);
  for (int v = 0; v <= 255; ++v)
    s->SetPosition(v);
  s->SetBorderColor(clRed);
  s->SetFocusColor(clYellow);
  s->SetThumbIndent(4);
  s->SetOptions(soActiveClick);
  s->setEnabled(false);
  QCOMPARE(s->TrackRebuildCount(), rebuilds);

  auto expectOneMore = [&](const char* what) {
    ++rebuilds;
    QVERIFY2(s->TrackRebuildCount() == rebuilds, what);
  };
  s->SetSpacing(2);
  expectOneMore("Spacing");
  s->SetTickWidth(3);
  expectOneMore("TickWidth");
  s->SetSolidFill(false);
  expectOneMore("SolidFill");
  s->SetStyle(ssTopRight);
  expectOneMore("Style");
  s->Palette()->SetHigh(clYellow);
  expectOneMore("Palette.High");
  s->SetColor(clNavy);
  expectOneMore("Color");
  s->SetBorderWidth(2);
  expectOneMore("BorderWidth");
  s->Bevel()->SetInnerWidth(1);
  expectOneMore("Bevel.InnerWidth");
  s->resize(40, 171);
  Shot(s);
  expectOneMore("resize");

  s->BeginUpdate();
  s->SetSpacing(1);
  s->SetTickWidth(1);
  s->Palette()->SetLow(clRed);
  QCOMPARE(s->TrackRebuildCount(), rebuilds);
  s->EndUpdate();
  expectOneMore("batch");
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
  QCOMPARE(spy.count(), 0);

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

  // A press with another button starts nothing.
  QTest::mousePress(s, Qt::RightButton, {}, QPoint(18, 81));
  QVERIFY(!s->Dragging());
  QTest::mouseRelease(s, Qt::RightButton, {}, QPoint(18, 81));
}

void TestVrSlider::dragReaches153Values() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(255);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 3 + 6));
  QVERIFY(s->Dragging());
  std::set<int> seen{s->Position()};
  for (int y = -30; y <= 200; ++y) {
    QTest::mouseMove(s, QPoint(18, y));
    seen.insert(s->Position());
  }
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 200));
  QCOMPARE(int(seen.size()), 153);
  QVERIFY(seen.count(0) && seen.count(255));
  for (int unreachable : {1, 4, 6, 9})
    QVERIFY(!seen.count(unreachable));
  // The program reaches every value.
  for (int v = 0; v <= 255; ++v) {
    s->SetPosition(v);
    QCOMPARE(s->Position(), v);
  }
}

void TestVrSlider::dragRepaintsOncePerDistinctValue() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetMaxValue(40);  // far fewer values than pixels
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 160));
  QVERIFY(s->Dragging());
  QSignalSpy spy(s, &TVrSlider::OnChange);
  const int paints = s->PaintCount();
  for (int y = 159; y >= 0; --y)
    QTest::mouseMove(s, QPoint(18, y));
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
  QVERIFY(!s->ClipOn());
  QVERIFY(!s->Dragging());

  // Without the option the pointer goes where it likes.
  s->SetOptions(s->Options() & ~TVrSliderOptions(soMouseClip));
  const QPoint grab = s->ThumbRect().center();
  QTest::mousePress(s, Qt::LeftButton, {}, grab);
  QVERIFY(!s->ClipOn());
  QCursor::setPos(s->mapToGlobal(QPoint(300, 300)));
  QTest::mouseMove(s, QPoint(300, 300));
  QCOMPARE(QCursor::pos(), s->mapToGlobal(QPoint(300, 300)));
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(300, 300));
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

  // The control's own cursor comes back off the thumb.
  s->setCursor(Qt::CrossCursor);
  QTest::mouseMove(s, onThumb);
  QCOMPARE(s->cursor().shape(), Qt::BitmapCursor);
  QTest::mouseMove(s, offThumb);
  QCOMPARE(s->cursor().shape(), Qt::CrossCursor);

  s->SetOptions(soThumbOpaque);
  QTest::mouseMove(s, onThumb);
  QCOMPARE(s->cursor().shape(), Qt::CrossCursor);

  // The hot spot lies on the finger tip: opaque there, clear just above it.
  const QImage mask = VrHandPointCursor().mask().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage shape = VrHandPointCursor().bitmap().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(VrHandPointCursor().bitmap().size(), QSize(32, 32));
  QCOMPARE(Hex(At(mask, 10, 5)), Hex(Black));
  QCOMPARE(Hex(At(shape, 10, 5)), Hex(White));  // inside the outline
  QCOMPARE(Hex(At(mask, 10, 3)), Hex(White));
}

namespace {
// Records the keys that reach the window holding the slider.
struct KeyLog : QObject {
  QList<int> Keys;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(e)->key();
      if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt)
        Keys.append(key);
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

  auto press = [&](int key, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(s, Qt::Key(key), mods);
    return s->Position();
  };
  QCOMPARE(press(Qt::Key_Up), 105);
  QCOMPARE(press(Qt::Key_Down), 100);
  QCOMPARE(press(Qt::Key_Left), 100);
  QCOMPARE(press(Qt::Key_Right), 100);
  QCOMPARE(press(Qt::Key_Up, Qt::ShiftModifier), 100);
  QCOMPARE(press(Qt::Key_Down, Qt::ControlModifier), 100);
  QCOMPARE(press(Qt::Key_Home, Qt::AltModifier), 100);
  QCOMPARE(press(Qt::Key_Up, Qt::KeypadModifier), 105);
  QCOMPARE(press(Qt::Key_Home), 0);
  QCOMPARE(press(Qt::Key_Down), 0);
  QCOMPARE(press(Qt::Key_End), 255);
  QCOMPARE(press(Qt::Key_Up), 255);

  // Minimum at the top: Up moves the thumb up, so the value goes down.
  s->SetStyle(ssTopRight);
  s->SetPosition(100);
  QCOMPARE(press(Qt::Key_Up), 95);
  QCOMPARE(press(Qt::Key_Down), 100);
  QCOMPARE(s->ThumbRect().top(), 3 + 60);  // 152 * 100 / 255 = 59.6 below the top

  s->SetOrientation(voHorizontal);
  s->SetStyle(ssBottomLeft);
  s->SetKeyIncrement(20);
  QCOMPARE(press(Qt::Key_Right), 120);
  QCOMPARE(press(Qt::Key_Left), 100);
  QCOMPARE(press(Qt::Key_Up), 100);
  s->SetStyle(ssTopRight);
  QCOMPARE(press(Qt::Key_Right), 80);
  QCOMPARE(press(Qt::Key_Left), 100);

  // The slider used none of them up: the window saw every key.
  QCOMPARE(log.Keys.size(), 19);
  QCOMPARE(log.Keys.first(), int(Qt::Key_Up));
  QCOMPARE(log.Keys.last(), int(Qt::Key_Left));
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
  const QRgb face = s->ToQColor(clBtnFace).rgb();
  const QRgb blue = qRgb(0, 0, 255);

  // Not a tab stop: a click leaves the focus where it was.
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 40));
  QVERIFY(other->hasFocus());
  QVERIFY(!s->HasFocus());
  QCOMPARE(Hex(At(Shot(s), 0, 0)), Hex(face));

  s->SetTabStop(true);
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 40));
  QVERIFY(WaitUntil([&] { return s->HasFocus(); }));
  QImage img = Shot(s);
  for (const QPoint& p : {QPoint(0, 0), QPoint(35, 0), QPoint(0, 170), QPoint(35, 170), QPoint(0, 85)})
    QCOMPARE(Hex(At(img, p.x(), p.y())), Hex(blue));

  other->setFocus();
  QVERIFY(WaitUntil([&] { return !s->HasFocus(); }));
  QCOMPARE(Hex(At(Shot(s), 35, 170)), Hex(face));
}

void TestVrSlider::orientationSwapsTheSize() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetPosition(128);
  s->SetOrientation(voHorizontal);
  QCOMPARE(s->geometry(), QRect(20, 20, 171, 36));
  QCOMPARE(s->ThumbWidth(), 13);
  QCOMPARE(s->ThumbHeight(), 30);
  QCOMPARE(s->ThumbRect(), QRect(79, 3, 13, 30));
  QImage img = Shot(s);
  QCOMPARE(Hex(At(img, 79 + 3, 3 + 10)), Hex(KnobFace));
  QCOMPARE(Hex(At(img, 79 + 6, 3 + 15)), Hex(Black));     // groove runs the long way
  QCOMPARE(Hex(At(img, 79 + 5, 3 + 15)), Hex(KnobDark));
  QCOMPARE(Hex(At(img, 79 + 7, 3 + 15)), Hex(White));

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
  s.SetBitmapList(list.get());
  QCOMPARE(list->LinkCount(), 1);
  QCOMPARE(s.ThumbWidth(), 30);  // index -1: built-in
  s.SetThumbImageIndex(0);
  QCOMPARE(QSize(s.ThumbWidth(), s.ThumbHeight()), QSize(20, 9));
  s.SetThumbImageIndex(5);
  QCOMPARE(QSize(s.ThumbWidth(), s.ThumbHeight()), QSize(30, 13));
  s.SetThumbImageIndex(0);
  list->SetBitmap(0, Cells(QSize(16, 7), {qRgb(0, 0, 255)}));
  QCOMPARE(QSize(s.ThumbWidth(), s.ThumbHeight()), QSize(16, 7));

  TVrBitmapList other;
  s.SetBitmapList(&other);
  QCOMPARE(list->LinkCount(), 0);
  QCOMPARE(other.LinkCount(), 1);
  QCOMPARE(s.ThumbWidth(), 30);
  s.SetBitmapList(list.get());
  QCOMPARE(s.ThumbWidth(), 16);

  // The list goes first: the slider lets go of it and falls back.
  list.reset();
  QVERIFY(s.BitmapList() == nullptr);
  QCOMPARE(s.ThumbWidth(), 30);
  QCOMPARE(other.LinkCount(), 0);

  // The slider goes first: its link leaves the list.
  {
    TVrSlider t;
    t.SetBitmapList(&other);
    QCOMPARE(other.LinkCount(), 1);
  }
  QCOMPARE(other.LinkCount(), 0);
  other.Add(Cells(QSize(4, 4), {qRgb(0, 0, 0)}));
}

void TestVrSlider::noRangeOrNoRoomIsHarmless() {
  Fixture f;
  TVrSlider* s = f.Slider;
  s->SetOptions(s->Options() | soActiveClick);
  s->SetMaxValue(7);
  s->SetMinValue(7);
  QCOMPARE(s->Position(), 7);
  QCOMPARE(s->ThumbRect().top(), 155);  // the minimum end
  QCOMPARE(Hex(At(Shot(s), 10, 158)), Hex(KnobFace));
  QSignalSpy spy(s, &TVrSlider::OnChange);
  QTest::mousePress(s, Qt::LeftButton, {}, QPoint(18, 160));
  QVERIFY(s->Dragging());
  QTest::mouseMove(s, QPoint(18, 20));
  QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(18, 20));
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(18, 20));
  QCOMPARE(s->Position(), 7);
  QCOMPARE(spy.count(), 0);

  // Too small for its thumb: no travel at all.
  s->SetMinValue(0);
  s->SetMaxValue(255);
  s->SetPosition(100);
  for (const QSize size : {QSize(36, 19), QSize(36, 8), QSize(3, 3)}) {
    s->resize(size);
    Shot(s);
    const QRect thumb = s->ThumbRect();
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(size.width() / 2, size.height() - 1));
    QCOMPARE(s->Position(), 0);
    QCOMPARE(s->ThumbRect(), thumb);
    s->SetPosition(100);
  }
}

void TestVrSlider::paintsCrispAtPixelRatio2() {
  if (qApp->devicePixelRatio() < 2) {
    if (qEnvironmentVariableIsSet("QUORLINK_EXPECT_DPR2"))
      QFAIL("QT_SCALE_FACTOR=2 did not give a pixel ratio of 2");
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
    auto logical = [&](int x, int y) { return Hex(At(img, 2 * x, 2 * y)); };
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
