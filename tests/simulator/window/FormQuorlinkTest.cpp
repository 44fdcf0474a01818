// The simulator window with real widgets on a real link. Source mode: the
// worker thread sends what the controls say through a pseudo-terminal. Display
// mode: the test writes frames into the terminal, runs the receiver as the
// worker would, and watches the window show them.

#include "LinkOnPty.h"
#include "TestSettings.h"
#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"
#include "link/ThreadQuorlink.h"
#include "simulator/window/FormQuorlink.h"
#include "simulator/window/SpinEdit.h"
#include "simulator/window/StringGrid.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace TruckDataMap;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Waits, with the event loop running, for a frame of n data bytes on the
// master side that satisfies accept; frames are found by start byte and checksum.
Bytes WaitForFrame(PtyPair& pty, std::size_t n, const std::function<bool(const Bytes&)>& accept) {
  Bytes stream, found;
  WaitUntil([&] {
    const Bytes more = pty.Read(4096, std::chrono::milliseconds(5));
    stream.insert(stream.end(), more.begin(), more.end());
    for (std::size_t p = 0; p + n + 2 <= stream.size(); ++p) {
      std::uint8_t sum = 0;
      for (std::size_t i = p; i < p + n + 2; ++i) sum = static_cast<std::uint8_t>(sum + stream[i]);
      const Bytes data(stream.begin() + static_cast<long>(p) + 1, stream.begin() + static_cast<long>(p + n) + 1);
      if (stream[p] == 0x2F && sum == 0 && accept(data)) {
        found = data;
        return true;
      }
    }
    stream.erase(stream.begin(), stream.end() - static_cast<long>(std::min(stream.size(), n + 1)));
    return false;
  });
  return found;
}

// Feeds the receiver with every byte waiting, as the worker does, until cond holds.
bool WaitReceiving(TQUORLINK& link, const std::function<bool()>& cond) {
  return WaitUntil([&] {
    int status = 0;
    while (link.Receive(status)) {}
    return cond();
  });
}

Bytes TestRecord(int n, int seed) {
  Bytes r(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) r[i] = static_cast<std::uint8_t>(i * 13 + seed);
  return r;
}

// As the main window hands the window over.
std::unique_ptr<TForm_QUORLINK> MakeForm(TQUORLINK* link, int mode) {
  auto f = std::make_unique<TForm_QUORLINK>();
  f->Link = link;
  f->SetMode(mode);
  f->SetNumberBytes(link->DataLength);
  return f;
}

bool Shows(const TForm_QUORLINK& f, const Bytes& r) {
  for (int b = 0; b < AnalogBytes; ++b)
    if ((b == FaultCodeByte ? f.AdvSpinEdit_FaultCode->value() : f.SliderOfByte(b)->Position()) != r[b]) return false;
  for (int b = 0; b < NamedBytes; ++b)
    if (f.EditOfByte(b)->text() != ByteText(r[b])) return false;
  for (int led = 0; led < LedCount; ++led)
    if (f.Led(led)->Checked() != ((r[StatusFlags[led].Byte] & StatusFlags[led].Mask) != 0)) return false;
  return true;
}

}  // namespace

class TestFormQuorlink : public QObject {
  Q_OBJECT

private slots:
  void sourceModeSendsTheControls();
  void displayModeShowsFramesAndErrors();
  void modesSpinEditsAndGrid();
  void copyOutNeverPassesTheRecord();
  void layoutFitsTheFont();
};

void TestFormQuorlink::sourceModeSendsTheControls() {
  LinkOnPty lp(1);
  TThread_Quorlink worker(true);
  worker.Link = &lp.Link;
  worker.Resume();
  auto f = MakeForm(&lp.Link, 1);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));

  Bytes expect(24, 0);
  for (int b = 0; b < AnalogBytes; ++b)
    if (f->SliderOfByte(b)) f->SliderOfByte(b)->SetPosition(expect[b] = static_cast<std::uint8_t>(b * 11 + 3));
  f->VrSlider_GroundSpeed->SetPosition(expect[GroundSpeed] = 0);
  f->VrSlider_AnalogSpare->SetPosition(expect[AnalogSpare] = 255);
  // The operator types the fault code in hexadecimal and clicks an LED on.
  f->PageControl1->setCurrentWidget(f->TabSheet_Motor);
  QTest::keyClick(f->AdvSpinEdit_FaultCode, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(f->AdvSpinEdit_FaultCode, QStringLiteral("3c"));
  QCOMPARE(f->AdvSpinEdit_FaultCode->text(), QStringLiteral("3C"));
  expect[FaultCodeByte] = 0x3C;
  f->PageControl1->setCurrentWidget(f->TabSheet_Truck);
  QTest::mouseClick(f->VrCheckLed_DumpBody, Qt::LeftButton, {}, f->VrCheckLed_DumpBody->GlyphRect().center());
  f->VrCheckLed_GearSelectForward->SetChecked(true);
  f->VrCheckLed_LeftBlinker->SetChecked(true);
  expect[21] = 0x80;
  expect[22] = 0x10;
  expect[23] = 0x01;
  QCOMPARE(WaitForFrame(lp.Pty, 24, [&](const Bytes& d) { return d == expect; }), expect);
  QVERIFY(Shows(*f, expect));
  QVERIFY(WaitUntil([&] { return f->ProgressBar_DataIn->value() > 0; }));

  // Closed, the window only hides: it keeps its tab and keeps feeding the link.
  QTest::mouseClick(f->Button_Close, Qt::LeftButton);
  QVERIFY(!f->isVisible());
  f->VrSlider_Motor2Temp->SetPosition(99);
  QVERIFY(!WaitForFrame(lp.Pty, 24, [](const Bytes& d) { return d[Motor2Temp] == 99; }).empty());
  f->show();
  QVERIFY(QTest::qWaitForWindowActive(f.get()));
  QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet_Truck);

  // One more byte: it comes from grid cell (1, 1), typed as "1a".
  StringGrid* grid = f->AdvStringGrid_Additional;
  f->PageControl1->setCurrentWidget(f->TabSheet1);
  const QPoint cell = grid->visualRect(grid->model()->index(0, 0)).center();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
  QWidget* editor = QApplication::focusWidget();
  QVERIFY(editor && editor != grid);
  QTest::keyClicks(editor, QStringLiteral("1a"));
  QTest::keyClick(editor, Qt::Key_Return);  // the grid takes the text on its next event
  QVERIFY(WaitUntil([&] { return grid->Cells(1, 1) == QLatin1String("1a"); }));
  QTest::keyClick(f->AdvSpinEdit_NumberBytes, Qt::Key_Up);
  QCOMPARE(int(lp.Link.DataLength), 25);
  QVERIFY(!WaitForFrame(lp.Pty, 25, [](const Bytes& d) { return d[24] == 0x1A && d[Motor2Temp] == 99; }).empty());
  QCOMPARE(grid->Cells(1, 1), QStringLiteral("1a"));  // left as typed
}

void TestFormQuorlink::displayModeShowsFramesAndErrors() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  const auto error = [&] {
    return f->StaticText_QuorlinkError->isVisibleTo(f.get()) ? f->StaticText_QuorlinkError->text() : QString();
  };
  const auto live = [&] {
    return error().isEmpty() && f->StaticText_BusStatus->isVisibleTo(f.get()) &&
           f->ProgressBar_DataIn->isVisibleTo(f.get());
  };
  // Before any frame: the link's record as construction left it.
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->Edit_RPM->text() == QLatin1String("00") && live(); }));

  Bytes good = TestRecord(24, 5);
  good[FaultCodeByte] = 0x3C;
  good[22] = 0x11;
  lp.Send(Frame(good));
  QVERIFY(WaitReceiving(lp.Link, [&] { return Shows(*f, good); }));
  QCOMPARE(f->AdvSpinEdit_FaultCode->text(), QStringLiteral("3C"));
  QCOMPARE(f->ProgressBar_DataIn->value(), 1);

  // Status 1, then 2: the error shows and the values stay at the last good record.
  Bytes bad = Frame(TestRecord(24, 7));
  ++bad.back();
  lp.Send(bad);
  QVERIFY(WaitReceiving(lp.Link, [&] { return error() == QLatin1String("Quorlink Error CRC"); }));
  QVERIFY(!f->StaticText_BusStatus->isVisibleTo(f.get()) && !f->ProgressBar_DataIn->isVisibleTo(f.get()));
  QCOMPARE(f->ProgressBar_DataIn->value(), 0);
  lp.Send({0x2F});
  QVERIFY(WaitReceiving(lp.Link, [&] { return error() == QLatin1String("Quorlink Error Start"); }));
  QVERIFY(Shows(*f, good));
  // The rest of that frame is good: live values come back.
  const Bytes next = TestRecord(24, 3), whole = Frame(next);
  lp.Send(Bytes(whole.begin() + 1, whole.end()));
  QVERIFY(WaitReceiving(lp.Link, [&] { return live() && Shows(*f, next); }));
  QCOMPARE(f->ProgressBar_DataIn->value(), 2);

  // Status 3: the length is lowered while a longer frame is being collected.
  f->AdvSpinEdit_NumberBytes->setValue(36);
  const Bytes part = Frame(TestRecord(36, 4));
  lp.Send(Bytes(part.begin(), part.begin() + 31));
  QVERIFY(WaitReceiving(lp.Link, [&] { return lp.Link.GetRxCount() == 31; }));
  f->AdvSpinEdit_NumberBytes->setValue(24);
  lp.Send({0x00});
  QVERIFY(WaitReceiving(lp.Link, [&] { return error() == QLatin1String("Quorlink Error Length"); }));
  QVERIFY(Shows(*f, next));

  // "Number of Bytes:" stays usable and sets the length the receiver expects.
  for (int i = 0; i < 6; ++i) QTest::keyClick(f->AdvSpinEdit_NumberBytes, Qt::Key_Up);
  QCOMPARE(int(lp.Link.DataLength), 30);
  Bytes longer = TestRecord(30, 9);
  longer[24] = 10;
  longer[25] = 171;
  lp.Send(Frame(longer));
  QVERIFY(WaitReceiving(lp.Link,
                        [&] { return live() && f->AdvStringGrid_Additional->Cells(6, 1) == ByteText(longer[29]); }));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(1, 1), QStringLiteral("0A"));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(2, 1), QStringLiteral("AB"));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(7, 1), QString());

  // The hundredth good frame empties the progress bar again.
  Bytes burst;
  for (int i = 0; i < 96; ++i) burst = burst + Frame(TestRecord(30, i));  // frames 4 to 99
  lp.Send(burst);
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->ProgressBar_DataIn->value() == 99; }));
  lp.Send(Frame(TestRecord(30, 100)));
  QVERIFY(WaitReceiving(lp.Link, [&] { return lp.Link.GoodFrameCount == 100 && Shows(*f, TestRecord(30, 100)); }));
  QCOMPARE(f->ProgressBar_DataIn->value(), 0);
}

void TestFormQuorlink::modesSpinEditsAndGrid() {
  TestSettings settings;
  TQUORLINK link;  // never opened
  auto source = MakeForm(&link, 1), display = MakeForm(&link, 0);
  QCOMPARE(source->PageControl1->currentWidget(), source->TabSheet_Engine);
  QCOMPARE(source->PageControl1->tabText(4), QStringLiteral("Additional"));
  QCOMPARE(source->windowTitle(), QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Source Mode)"));
  QCOMPARE(display->windowTitle(), QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Display Mode)"));
  QCOMPARE(source->StaticText_BusStatus->text(), QStringLiteral("Transmit Status"));
  QCOMPARE(display->StaticText_BusStatus->text(), QStringLiteral("Receive Status"));
  const auto inputs = [](const TForm_QUORLINK& f) {
    QList<QWidget*> w{f.AdvSpinEdit_FaultCode, f.AdvStringGrid_Additional};
    for (int b = 0; b < AnalogBytes; ++b)
      if (f.SliderOfByte(b)) w << f.SliderOfByte(b);
    for (int led = 0; led < LedCount; ++led) w << f.Led(led);
    return w;
  };
  QCOMPARE(inputs(*display).size(), 2 + 20 + 24);
  for (QWidget* w : inputs(*source)) QVERIFY(w->isEnabled());
  for (QWidget* w : inputs(*display)) QVERIFY(!w->isEnabled());
  QVERIFY(display->AdvSpinEdit_NumberBytes->isEnabled() && display->Button_Close->isEnabled() &&
          display->PageControl1->isEnabled());

  // "Number of Bytes:" keeps the link within 24 to 100, steps only, PageUp by ten.
  SpinEdit* bytes = source->AdvSpinEdit_NumberBytes;
  source->SetNumberBytes(200);
  QCOMPARE(bytes->value(), 100);
  QCOMPARE(int(link.DataLength), 100);
  source->SetNumberBytes(10);
  QCOMPARE(int(link.DataLength), 24);
  QTest::keyClick(bytes, Qt::Key_5);
  QCOMPARE(bytes->value(), 24);
  QTest::keyClick(bytes, Qt::Key_PageUp);
  QCOMPARE(int(link.DataLength), 34);
  // The fault code reads and shows upper-case hex and stays a byte.
  SpinEdit* fault = source->AdvSpinEdit_FaultCode;
  QTest::keyClick(fault, Qt::Key_PageUp);
  QCOMPARE(fault->text(), QStringLiteral("A"));
  QTest::keyClick(fault, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(fault, QStringLiteral("ff"));
  QTest::keyClick(fault, Qt::Key_Up);
  QCOMPARE(fault->value(), 255);

  // The grid grows to every byte up to 99 and hides rows again, keeping their text.
  StringGrid* grid = source->AdvStringGrid_Additional;
  QCOMPARE(grid->VisibleRows(), 5);
  source->SetNumberBytes(57);
  QCOMPARE(grid->VisibleRows(), 6);
  source->SetNumberBytes(100);
  QCOMPARE(grid->VisibleRows(), 11);
  grid->SetCells(4, 10, QStringLiteral("0x2a"));
  grid->SetCells(0, 1, QStringLiteral("x"));  // fixed cells take no text
  QCOMPARE(source->PackTruckData(), 1);
  QCOMPARE(source->TruckData[99], 0x2A);
  QCOMPARE(source->Edit_FaultCode->text(), QStringLiteral("FF"));
  QCOMPARE(grid->Cells(0, 1), QString());
  source->SetNumberBytes(24);
  QCOMPARE(grid->VisibleRows(), 5);
  QCOMPARE(grid->Cells(4, 10), QStringLiteral("0x2a"));
  QCOMPARE(display->PackTruckData(), 0);
}

void TestFormQuorlink::copyOutNeverPassesTheRecord() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  // A stored length of 200 was loaded into the link; the window still shows 24.
  lp.Link.DataLength = 200;
  lp.Send(Frame(Bytes(200, 0x01)));
  int status = -1;  // received without the window's timers, which would reset the length
  for (int i = 0; i < 5000 && lp.Link.GoodFrameCount == 0; ++i) {
    lp.Link.Receive(status);
    QTest::qSleep(2);
  }
  QCOMPARE(lp.Link.GoodFrameCount.load(), 1u);
  QCOMPARE(f->ShowTruckData(0), 1);
  QCOMPARE(f->TruckData[99], 0x01);
  QCOMPARE(f->Mode, 0);  // the fields behind the record are untouched
  QCOMPARE(f->ReceiveStatus, 0);
}

void TestFormQuorlink::layoutFitsTheFont() {
  TestSettings settings;
  TQUORLINK link;
  auto f = MakeForm(&link, 0);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  const QRect page(QPoint(0, 0), f->PageControl1->currentWidget()->size());
  for (QLabel* label : f->findChildren<QLabel*>()) {
    QStringList texts = label->text().split(QLatin1Char('\n'));
    if (label == f->StaticText_QuorlinkError)
      texts << "Quorlink Error CRC"
            << "Quorlink Error Start"
            << "Quorlink Error Length";
    for (const QString& line : texts)
      QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
    QVERIFY2(label->fontMetrics().height() * (label->text().count('\n') + 1) <= label->height(),
             qPrintable(label->text()));
  }
  for (int led = 0; led < LedCount; ++led) QVERIFY(f->Led(led)->rect().contains(f->Led(led)->TextRect()));
  // The right-to-left LED lines up with the others.
  QCOMPARE(f->VrCheckLed_HandBrake->GlyphRect().left(), f->VrCheckLed_DumpBody->GlyphRect().left());
  QVERIFY(f->Button_Close->width() >= f->Button_Close->minimumSizeHint().width());
  QVERIFY(f->AdvSpinEdit_NumberBytes->width() >= f->AdvSpinEdit_NumberBytes->minimumSizeHint().width());
  QVERIFY(f->PageControl1->tabBar()->sizeHint().width() <= f->PageControl1->width());
  for (QWidget* tab :
       {f->TabSheet_Engine, f->TabSheet_TruckControl, f->TabSheet_Truck, f->TabSheet_Motor, f->TabSheet1})
    for (QWidget* child : tab->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      QVERIFY2(page.contains(child->geometry()), qPrintable(tab->objectName()));
  f->SetNumberBytes(100);  // the tallest grid still fits its tab
  QVERIFY(f->AdvStringGrid_Additional->geometry().bottom() < page.height());
}

// Run again with a larger desktop font: the layout must scale, not clip.
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (const int points = qEnvironmentVariableIntValue("QUORLINK_TEST_FONT_POINTS"); points > 0) {
    QFont font = QApplication::font();
    font.setPointSize(points);
    QApplication::setFont(font);
  }
  TestFormQuorlink test;
  return QTest::qExec(&test, argc, argv);
}

#include "FormQuorlinkTest.moc"
