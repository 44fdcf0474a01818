#include "controls/VrSliderGeometry.h"

#include <QtTest>

#include <climits>
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

QTEST_MAIN(TestVrSlider)
#include "tst_vrslider.moc"
