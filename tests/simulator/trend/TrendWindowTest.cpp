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

    // The choice is kept for this mode only.
    QCOMPARE(TrendWindow(0).Chart()->Chosen(), (std::vector<int>{rpm, dump}));
    QVERIFY(TrendWindow(1).Chart()->Chosen() != (std::vector<int>{rpm, dump}));
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
