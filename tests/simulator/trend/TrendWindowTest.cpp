// The live trend on the real program: frames written into a pseudo-terminal
// reach the trend through the worker and the main window's hand-over (display
// mode); the simulator window's records reach it as they are set for sending
// (source mode). The test looks at the points the chart draws last.

#include "AppTest.h"
#include "ModalScript.h"
#include "app/MainForm.h"
#include "cli/TruckValues.h"
#include "controls/VrSlider.h"
#include "link/Quorlink.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/trend/TrendBuffer.h"
#include "simulator/trend/TrendWindow.h"
#include "simulator/window/FormQuorlink.h"

#include <QAction>
#include <QChartView>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <map>
#include <random>
#include <set>

namespace {

int Value(const char* name) { return ChartValues::Find(QLatin1String(name)); }

std::vector<std::uint8_t> Record(int rpm, bool dumpBody) {
  std::vector<std::uint8_t> r(24, 0);
  r[TruckDataMap::EngineRPM] = static_cast<std::uint8_t>(rpm);
  r[TruckDataMap::Status1] = dumpBody ? 0x81 : 0x01;
  return r;
}

// The y values of the last n points drawn.
QList<double> LastY(const QList<QPointF>& points, int n) {
  QList<double> ys;
  for (qsizetype i = std::max<qsizetype>(0, points.size() - n); i < points.size(); ++i) ys.append(points[i].y());
  return ys;
}

// The columns of a CSV line that the header names in wanted.
QByteArray Pick(const QByteArray& header, const QByteArray& line, const QList<QByteArray>& wanted) {
  const QList<QByteArray> names = header.trimmed().split(','), cells = line.trimmed().split(',');
  QList<QByteArray> out;
  for (qsizetype i = 0; i < names.size(); ++i)
    if (wanted.contains(names[i])) out.append(cells.value(i));
  return out.join(',');
}

}  // namespace

class TestTrendWindow : public QObject {
  Q_OBJECT
  PtyAppFixture Fixture;

private slots:
  void init() { QVERIFY(Fixture.Up()); }
  void cleanup() { Fixture.Down(); }

  // Display mode: every receive event of the link is in the trend, good
  // frames as points (flags as steps), errors as markers; the CSV has the
  // columns and numbers of quorlink decode; pause holds the view.
  void displayModePlotsEveryFrame() {
    TMainForm main;
    main.SetMode(0);
    Click(main.Button_SaveConfiguration);
    Click(main.Button_Open);
    QVERIFY(main.GetLink()->IsOpen);
    main.WindowTrendItem->trigger();
    TrendWindow* trend = main.GetTrendWindow();
    QVERIFY(trend && trend->isVisible());
    ValueChart* chart = trend->Chart();
    QVERIFY(chart->Following());
    const int rpm = Value("engine_rpm"), dump = Value("dump_body_up");
    chart->SetChosen({rpm, dump});

    // One frame at a time, so that each is its own receive event.
    const auto send = [&](const std::vector<std::uint8_t>& frame) {
      const std::uint64_t before = trend->Buffer().Added();
      Fixture.Pty->Write(frame);
      return WaitUntil([&] { return trend->Buffer().Added() == before + 1; });
    };
    QVERIFY(send(QuorlinkFrame(Record(10, true))));
    QVERIFY(send(QuorlinkFrame(Record(20, false))));
    QVERIFY(send(QuorlinkFrame(Record(173, true))));
    std::vector<std::uint8_t> bad = QuorlinkFrame(Record(5, false));
    bad.back() ^= 0x55;
    QVERIFY(send(bad));
    QVERIFY(send(QuorlinkFrame(Record(99, false))));
    trend->Update();

    const QList<QPointF> rpmPoints = chart->Plotted(rpm);
    QCOMPARE(LastY(rpmPoints, 4), (QList<double>{10, 20, 173, 99}));
    for (qsizetype i = 1; i < rpmPoints.size(); ++i) QVERIFY(rpmPoints[i].x() >= rpmPoints[i - 1].x());
    // Steps: each change is drawn at the time of the frame that brought it.
    const QList<QPointF> dumpPoints = chart->Plotted(dump);
    QCOMPARE(LastY(dumpPoints, 7), (QList<double>{1, 1, 0, 0, 1, 1, 0}));
    QCOMPARE(dumpPoints.back().x(), rpmPoints.back().x());
    QCOMPARE(dumpPoints[dumpPoints.size() - 2].x(), rpmPoints.back().x());
    const QList<ChartEvent> marked = chart->Marked();
    QCOMPARE(marked.size(), 1);
    QCOMPARE(marked[0].Kind, 1);
    QVERIFY(marked[0].Time >= rpmPoints[rpmPoints.size() - 2].x() && marked[0].Time <= rpmPoints.back().x());

    // The CSV, through the tool bar's file dialog, against quorlink decode's
    // header and lines for the same records.
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("trend"));
    ModalScript script;
    script.ChooseFile(csv);
    chart->SaveDataAction->trigger();
    QUORLINK_FINISH_SCRIPT(script);
    QFile file(csv + QStringLiteral(".csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 7);  // header, five records, the empty end
    const TruckValues::Formatter decode(TruckValues::Format::Csv, 0, false);
    const QList<QByteArray> wanted{"time", "status", "length", "engine_rpm", "dump_body_up"};
    QCOMPARE(lines[0], Pick(decode.Header(), decode.Header(), wanted));
    const int statuses[] = {0, 0, 0, 1, 0};
    const std::vector<std::uint8_t> records[] = {Record(10, true), Record(20, false), Record(173, true),
                                                 Record(173, true), Record(99, false)};
    for (int i = 0; i < 5; ++i) {
      const QByteArray line = lines[i + 1];
      const QTime time = QTime::fromString(QString::fromLatin1(line.left(12)), QStringLiteral("HH:mm:ss.zzz"));
      TruckValues::Event e;
      e.TimeOfDayMs = time.msecsSinceStartOfDay();
      e.Status = statuses[i];
      e.Length = 24;
      e.Data = records[i].data();
      QCOMPARE(line, Pick(decode.Header(), decode.Line(e), wanted));
    }

    // Paused, the view stands while frames come in; Resume follows again.
    trend->PauseAction->trigger();
    QVERIFY(!chart->Following());
    const qint64 to = chart->To();
    QVERIFY(send(QuorlinkFrame(Record(42, true))));
    trend->Update();
    QCOMPARE(chart->To(), to);
    QVERIFY(chart->Plotted(rpm).back().x() > static_cast<double>(to));  // past the edge, out of sight
    trend->PauseAction->trigger();
    QVERIFY(chart->Following());
    QCOMPARE(LastY(chart->Plotted(rpm), 1), QList<double>{42});

    // The plot as PNG and SVG.
    QString error;
    QVERIFY2(chart->SaveImage(dir.filePath(QStringLiteral("trend.png")), error), qPrintable(error));
    QCOMPARE(QImage(dir.filePath(QStringLiteral("trend.png"))).size(), chart->View()->grab().size());
    QVERIFY2(chart->SaveImage(dir.filePath(QStringLiteral("trend.svg")), error), qPrintable(error));
    QFile svg(dir.filePath(QStringLiteral("trend.svg")));
    QVERIFY(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg"));

    // A device that goes away is marked too.
    const std::uint64_t before = trend->Buffer().Added();
    Fixture.Pty->CloseMaster();
    QVERIFY(WaitUntil([&] { return trend->Buffer().Added() > before; }));
    trend->Update();
    QCOMPARE(chart->Marked().back().Kind, ChartValues::PortLost);

    // The choice is kept for this mode only.
    QCOMPARE(TrendWindow(0).Chart()->Chosen(), (std::vector<int>{rpm, dump}));
    QVERIFY(TrendWindow(1).Chart()->Chosen() != (std::vector<int>{rpm, dump}));
  }

  // The buffer's thinning against a plain model: random records (equal
  // times, gaps, errors) in a ring that has wrapped; for random ranges and
  // widths every point drawn is a real good record, every pixel column
  // keeps the lowest and the highest value in it, the thinned line has at
  // most two points per column, and each kind of error is marked once in
  // every column where it occurred.
  void bufferKeepsEveryColumnsExtremes() {
    struct Kept {
      qint64 Time;
      int Status, Value;
    };
    std::mt19937 rng(20240611);
    const auto random = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    TrendBuffer buffer([] { return qint64(0); }, 3000);
    std::vector<Kept> kept;
    std::vector<std::uint8_t> record(24, 0);
    qint64 t = 1000;
    for (int i = 0; i < 9000; ++i) {
      t += random(3) == 0 ? 0 : random(40) + (random(1500) == 0 ? 6000 : 0);
      record[TruckDataMap::EngineRPM] = static_cast<std::uint8_t>(random(256));
      const int status = random(8) == 0 ? 1 + random(3) : 0;
      buffer.Add(t, status, 24, record.data());
      kept.push_back({t, status, record[TruckDataMap::EngineRPM]});
    }
    kept.erase(kept.begin(), kept.end() - 3000);
    const int rpm = Value("engine_rpm");
    for (int q = 0; q < 60; ++q) {
      const qint64 a = kept.front().Time + random(int(kept.back().Time - kept.front().Time));
      const qint64 from = a, to = a + 1 + random(q % 2 ? 20000 : 2000);
      const int columns = 1 + random(500);
      const auto column = [&](qint64 time) {
        return std::min<qint64>(static_cast<qint64>(double(time - from) * columns / double(to - from)), columns - 1);
      };
      QList<QPointF> points;
      buffer.Points(rpm, from, to, columns, points);
      std::map<qint64, std::pair<int, int>> extremes;  // column: lowest, highest
      std::size_t good = 0;
      for (const Kept& k : kept) {
        if (k.Status != 0 || k.Time < from || k.Time > to) continue;
        ++good;
        auto [it, added] = extremes.try_emplace(column(k.Time), k.Value, k.Value);
        it->second = {std::min(it->second.first, k.Value), std::max(it->second.second, k.Value)};
      }
      std::map<qint64, std::pair<int, int>> drawn;
      int inside = 0;
      for (const QPointF& p : points) {
        if (std::isnan(p.y())) continue;
        const auto real = [&p](const Kept& k) { return k.Status == 0 && k.Time == p.x() && k.Value == p.y(); };
        QVERIFY(std::any_of(kept.begin(), kept.end(), real));
        if (p.x() < from || p.x() > to) continue;
        ++inside;
        auto [it, added] = drawn.try_emplace(column(qint64(p.x())), int(p.y()), int(p.y()));
        it->second = {std::min(it->second.first, int(p.y())), std::max(it->second.second, int(p.y()))};
      }
      QCOMPARE(drawn, extremes);
      QVERIFY(std::size_t(inside) == good || inside <= 2 * columns);

      QList<ChartEvent> events;
      buffer.Events(from, to, columns, events);
      std::set<std::pair<int, qint64>> expected, marked;
      for (const Kept& k : kept)
        if (k.Status != 0 && k.Time >= from && k.Time <= to) expected.insert({k.Status, column(k.Time)});
      for (const ChartEvent& e : events) QVERIFY(marked.insert({e.Kind, column(e.Time)}).second);
      QCOMPARE(marked, expected);
    }
  }

  // Source mode: the records the simulator window sets for sending.
  void sourceModePlotsRecordsSet() {
    TMainForm main;
    main.SetMode(1);
    Click(main.Button_SaveConfiguration);
    Click(main.Button_Open);
    Click(main.Button_OpenTruckSimulator);
    main.WindowTrendItem->trigger();
    TrendWindow* trend = main.GetTrendWindow();
    const int rpm = Value("engine_rpm");
    trend->Chart()->SetChosen({rpm});
    main.GetSimulatorForm()->VrSlider_EngineRPM->SetPosition(173);
    QVERIFY(WaitUntil([&] {
      trend->Update();
      return LastY(trend->Chart()->Plotted(rpm), 1) == QList<double>{173};
    }));
    main.GetSimulatorForm()->VrSlider_EngineRPM->SetPosition(7);
    QVERIFY(WaitUntil([&] {
      trend->Update();
      return LastY(trend->Chart()->Plotted(rpm), 1) == QList<double>{7};
    }));
    QVERIFY(LastY(trend->Chart()->Plotted(rpm), 1000).contains(173));
    QVERIFY(trend->Chart()->Marked().isEmpty());
  }
};

QUORLINK_APP_TEST_MAIN(TestTrendWindow)
#include "TrendWindowTest.moc"
