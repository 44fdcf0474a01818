// The capture viewer on a known capture, opened from the main window's File
// menu: twenty minutes of frames every 10 ms across midnight with one spike
// and one dip of the engine RPM, a checksum error, a damaged line, and then a
// second capture of that morning in the same file. The plot must keep the
// extremes whatever the zoom; a click and the keys select known lines, whose
// records the simulator's tabs show.

#include "AppTest.h"
#include "ModalScript.h"
#include "app/MainForm.h"
#include "capture/CaptureFormat.h"
#include "capture/window/CaptureViewer.h"
#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/window/FormQuorlink.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cmath>

namespace {

using Stamp = CaptureIndex::Stamp;
constexpr int Frames = 120000;  // 20 minutes, one every 10 ms
constexpr int SpikeAt = 77777, DipAt = 33333, ErrorAt = 50000, DamagedAfter = 60000;
const QDate Day(2026, 12, 8);
const int StartMs = QTime(23, 50, 0).msecsSinceStartOfDay();

int Rpm(int i) { return i == SpikeAt ? 250 : i == DipAt ? 3 : 100 + i % 20; }
bool DumpBody(int i) { return i >= 30000 && i < 36000; }

// The time of frame i on the capture's own clock.
Stamp TimeOf(int i) { return (Day.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * 86400000LL + StartMs + i * 10LL; }

// File line numbers: the header block takes two, the damaged line one.
long long LineOf(int i) { return 3 + i + (i > DamagedAfter ? 1 : 0); }

QByteArray Capture() {
  QByteArray out = QByteArray::fromStdString(CaptureFormat::FormatHeader(QDateTime(Day, QTime(23, 50, 0))));
  std::uint8_t record[24] = {};
  char line[CaptureFormat::RecordLineMax];
  for (int i = 0; i < Frames; ++i) {
    const int status = i == ErrorAt ? 1 : 0;
    if (status == 0) {  // an error line shows the last good record
      record[TruckDataMap::EngineRPM] = static_cast<std::uint8_t>(Rpm(i));
      record[TruckDataMap::Status1] = DumpBody(i) ? 0x80 : 0;
    }
    out.append(line, static_cast<qsizetype>(CaptureFormat::FormatRecordLine(
                         line, static_cast<int>((StartMs + i * 10LL) % 86400000), status, 24, record)));
    if (i == DamagedAfter) out += "00:00:00:00\r\n";
  }
  // The same file, that morning: the clock steps back.
  out += CaptureFormat::FormatHeader(QDateTime(Day, QTime(10, 0, 0)));
  for (int i = 0; i < 100; ++i)
    out.append(line, static_cast<qsizetype>(CaptureFormat::FormatRecordLine(line, 36000000 + i * 10, 0, 24, record)));
  return out;
}

QList<double> Ys(const QList<QPointF>& points) {
  QList<double> ys;
  for (const QPointF& p : points)
    if (!std::isnan(p.y())) ys.append(p.y());
  return ys;
}

}  // namespace

class TestCaptureViewer : public QObject {
  Q_OBJECT

private slots:
  void plotsAndSelectsKnownLines() {
    TestSettings settings;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("capture.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Capture());
    file.close();

    TMainForm main;
    main.SetMode(0);
    ModalScript script;
    script.ChooseFile(path);
    main.FileOpenCaptureItem->trigger();
    QUORLINK_FINISH_SCRIPT(script);
    auto* viewer = main.findChild<CaptureViewer*>();
    QVERIFY(viewer);
    QVERIFY(WaitUntil([&] { return viewer->Ready(); }));
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    ValueChart* chart = viewer->Chart();
    const int rpm = ChartValues::Find(QStringLiteral("engine_rpm"));
    const int dump = ChartValues::Find(QStringLiteral("dump_body_up"));
    chart->SetChosen({rpm, dump});

    // Two segments: across midnight the first goes on, the morning is the second.
    QCOMPARE(viewer->SegmentBox->count(), 2);
    QCOMPARE(viewer->Segment(), 0);
    QCOMPARE(chart->From(), viewer->EpochOf(TimeOf(0)));
    QCOMPARE(chart->To(), viewer->EpochOf(TimeOf(Frames - 1)));

    // The whole 20 minutes in a few hundred columns still hold the spike and
    // the dip, each near its own time, and the flag's one stretch.
    QList<QPointF> points = chart->Plotted(rpm);
    QVERIFY(points.size() < 4 * chart->View()->width());
    const QList<double> ys = Ys(points);
    QCOMPARE(*std::max_element(ys.begin(), ys.end()), 250.0);
    QCOMPARE(*std::min_element(ys.begin(), ys.end()), 3.0);
    const double column = double(chart->To() - chart->From()) / chart->Chart()->plotArea().width();
    for (const QPointF& p : points)
      if (p.y() == 250 || p.y() == 3)
        QVERIFY(std::abs(p.x() - double(viewer->EpochOf(TimeOf(p.y() == 250 ? SpikeAt : DipAt)))) <= 2 * column);
    for (const QPointF& p : chart->Plotted(dump))
      if (p.y() == 1)
        QVERIFY(p.x() >= double(viewer->EpochOf(TimeOf(30000))) - 2 * column &&
                p.x() <= double(viewer->EpochOf(TimeOf(36000))) + 2 * column);
    QVERIFY(Ys(chart->Plotted(dump)).contains(1));
    const QList<ChartEvent> marked = chart->Marked();
    QCOMPARE(marked.size(), 2);
    QCOMPARE(marked[0].Kind, 1);
    QCOMPARE(marked[0].Line, int(LineOf(ErrorAt)));
    QCOMPARE(marked[1].Kind, ChartValues::DamagedLine);

    // Zoomed in on the spike: every frame as it is.
    chart->SetRange(viewer->EpochOf(TimeOf(SpikeAt - 5)), viewer->EpochOf(TimeOf(SpikeAt + 5)));
    QList<double> near;
    for (int i = SpikeAt - 6; i <= SpikeAt + 6; ++i) near.append(Rpm(i));
    QCOMPARE(Ys(chart->Plotted(rpm)), near);

    // A click on a time selects the line nearest to it; its record is in the tabs.
    const qint64 at = viewer->EpochOf(TimeOf(ErrorAt - 40)) + 2;
    chart->SetRange(at - 1000, at + 1000);
    QAbstractSeries* series = chart->Chart()->series().constFirst();
    const QPoint click = chart->View()->mapFromScene(
        chart->Chart()->mapToScene(chart->Chart()->mapToPosition(QPointF(double(at), 100), series)));
    QTest::mouseClick(chart->View()->viewport(), Qt::LeftButton, Qt::NoModifier, click);
    QCOMPARE(viewer->Line().Number, LineOf(ErrorAt - 40));
    QCOMPARE(viewer->Record()->VrSlider_EngineRPM->Position(), Rpm(ErrorAt - 40));
    QCOMPARE(viewer->Record()->Edit_RPM->text(), TruckDataMap::ByteText(std::uint8_t(Rpm(ErrorAt - 40))));
    QVERIFY(viewer->LineLabel->text().contains(QStringLiteral("2026-12-08 23:58:19.600")));

    // Keys: the next error, the line after it, and back to the error.
    viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(viewer));
    QTest::keyClick(chart->View(), Qt::Key_PageDown);
    QCOMPARE(viewer->Line().Number, LineOf(ErrorAt));
    QVERIFY(viewer->LineLabel->text().contains(QStringLiteral("Checksum error (status 1)")));
    QCOMPARE(viewer->Record()->VrSlider_EngineRPM->Position(), Rpm(ErrorAt - 1));  // the last good record
    QVERIFY(viewer->LineText->text().startsWith(QStringLiteral("23:58:20:000 1      24   >00 ")));
    QTest::keyClick(chart->View(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(viewer->Line().Number, LineOf(ErrorAt + 1));
    QTest::keyClick(chart->View(), Qt::Key_PageUp);
    QCOMPARE(viewer->Line().Number, LineOf(ErrorAt));

    // After midnight: the next day, the flag's LED as the frame had it.
    QVERIFY(viewer->SelectNearest(viewer->EpochOf(TimeOf(65000))));
    QVERIFY(viewer->LineLabel->text().contains(QStringLiteral("2026-12-09 00:00:50.000")));
    QVERIFY(viewer->SelectNearest(viewer->EpochOf(TimeOf(31000))));
    QVERIFY(viewer->Record()->VrCheckLed_DumpBody->Checked());
    QCOMPARE(viewer->Line().Number, LineOf(31000));

    // The morning's segment, and the line after the last of the night is its first.
    viewer->SelectNearest(viewer->EpochOf(TimeOf(Frames - 1)));
    QTest::keyClick(chart->View(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(viewer->Segment(), 1);
    QVERIFY(viewer->LineLabel->text().contains(QStringLiteral("2026-12-08 10:00:00.000")));

    // The summary counts and names the damaged line.
    const QList<QTreeWidgetItem*> damaged =
        viewer->SummaryView->findItems(QStringLiteral("Damaged lines"), Qt::MatchExactly);
    QCOMPARE(damaged.size(), 1);
    QCOMPARE(damaged[0]->text(1), QStringLiteral("1"));
    QCOMPARE(damaged[0]->child(0)->text(0), QStringLiteral("Line %1").arg(LineOf(DamagedAfter) + 1));
    const QList<QTreeWidgetItem*> good =
        viewer->SummaryView->findItems(QStringLiteral("Good frames"), Qt::MatchExactly);
    QCOMPARE(good[0]->text(1), QString::number(Frames - 1 + 100));
  }
};

QUORLINK_APP_TEST_MAIN(TestCaptureViewer)
#include "CaptureViewerTest.moc"
