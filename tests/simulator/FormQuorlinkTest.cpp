// The simulator window with real widgets on a real link: in source mode the
// worker thread sends what the controls say through a pseudo-terminal; in
// display mode the test writes frames into the terminal, runs the receiver as
// the worker would, and watches the window show them.

#include "LinkOnPty.h"
#include "TestSettings.h"
#include "app/FormLayout.h"
#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"
#include "link/ThreadQuorlink.h"
#include "simulator/FormQuorlink.h"
#include "simulator/SpinEdit.h"
#include "simulator/StringGrid.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace TruckDataMap;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Frames as they come out of the master side, picked from the byte stream by
// their start byte and checksum.
class FrameReader {
public:
  explicit FrameReader(PtyPair& pty) : Pty(pty) {}

  // Waits, with the event loop running, for a frame of n data bytes that
  // satisfies accept; returns its data bytes, or nothing at the deadline.
  Bytes WaitFor(std::size_t n, const std::function<bool(const Bytes&)>& accept) {
    Bytes found;
    WaitUntil([&] {
      const Bytes more = Pty.Read(4096, std::chrono::milliseconds(5));
      Buffer.insert(Buffer.end(), more.begin(), more.end());
      std::size_t p = 0;
      while (Buffer.size() >= p + n + 2) {
        std::uint8_t sum = 0;
        for (std::size_t i = p; i < p + n + 2; ++i) sum = static_cast<std::uint8_t>(sum + Buffer[i]);
        if (Buffer[p] != 0x2F || sum != 0) {
          ++p;
          continue;
        }
        Bytes data(Buffer.begin() + static_cast<long>(p) + 1, Buffer.begin() + static_cast<long>(p + n) + 1);
        Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<long>(p + n + 2));
        p = 0;
        if (accept(data)) {
          found = data;
          return true;
        }
      }
      Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<long>(p));
      return false;
    });
    return found;
  }

private:
  PtyPair& Pty;
  Bytes Buffer;
};

// What the worker thread does in display mode: run the receiver over every byte waiting.
void Pump(TQUORLINK& link) {
  int status = 0;
  while (link.Receive(status)) {
  }
}

// Waits for cond while feeding the receiver, as the worker would between GUI events.
bool WaitReceiving(TQUORLINK& link, const std::function<bool()>& cond) {
  return WaitUntil([&] {
    Pump(link);
    return cond();
  });
}

Bytes TestRecord(int n, int seed) {
  Bytes r(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) r[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 13 + seed);
  for (std::uint8_t& b : r)
    if (b == 0x2F) b = 0x30;  // keeps the test frames easy to pick from the stream
  return r;
}

// A window attached to a link, as the main window hands it over.
std::unique_ptr<TForm_QUORLINK> MakeForm(TQUORLINK* link, int mode) {
  auto f = std::make_unique<TForm_QUORLINK>();
  f->Link = link;
  f->SetMode(mode);
  f->SetNumberBytes(link ? link->DataLength.load() : 24);
  return f;
}

// The window shows the record: sliders, fault code, LEDs and edit boxes.
void CheckShows(const TForm_QUORLINK& f, const Bytes& r) {
  for (int b = 0; b < AnalogBytes; ++b) {
    if (b == FaultCodeByte)
      QCOMPARE(f.AdvSpinEdit_FaultCode->value(), int(r[b]));
    else
      QCOMPARE(f.SliderOfByte(b)->Position(), int(r[b]));
  }
  for (int led = 0; led < LedCount; ++led)
    QCOMPARE(f.Led(led)->Checked(), (r[StatusFlags[led].Byte] & StatusFlags[led].Mask) != 0);
  for (int b = 0; b < NamedBytes; ++b) QCOMPARE(f.EditOfByte(b)->text(), ByteText(r[b]));
}

}  // namespace

class TestFormQuorlink : public QObject {
  Q_OBJECT

private slots:
  void sourceModeSendsTheControls();
  void numberOfBytesLengthensTheFrame();
  void hiddenWindowKeepsSendingAndKeepsItsState();
  void displayModeShowsReceivedFrames();
  void displayModeShowsErrorsAndRecovers();
  void progressBarStartsAgainAfterHundredFrames();
  void modesEnableAndDisableTheRightControls();
  void spinEditsStepClampAndReadHex();
  void gridGrowsWithTheDataLength();
  void copyOutNeverPassesTheRecord();
  void withoutLinkNothingHappens();
  void unchangedValuesDoNotRepaint();
  void textsAreNotClipped();
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
  for (int b = 0; b < AnalogBytes; ++b) {
    if (b == FaultCodeByte) continue;
    expect[b] = static_cast<std::uint8_t>(b * 11 + 3);
    f->SliderOfByte(b)->SetPosition(expect[b]);
  }
  f->VrSlider_GroundSpeed->SetPosition(0);
  expect[GroundSpeed] = 0;
  f->VrSlider_AnalogSpare->SetPosition(255);
  expect[AnalogSpare] = 255;

  // The operator types the fault code in hexadecimal.
  f->PageControl1->setCurrentWidget(f->TabSheet_Motor);
  f->AdvSpinEdit_FaultCode->setFocus();
  QTest::keyClick(f->AdvSpinEdit_FaultCode, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(f->AdvSpinEdit_FaultCode, QStringLiteral("3c"));
  QCOMPARE(f->AdvSpinEdit_FaultCode->value(), 0x3C);
  expect[FaultCodeByte] = 0x3C;

  // And clicks an LED on; two more are set by the program.
  f->PageControl1->setCurrentWidget(f->TabSheet_Truck);
  QTest::mouseClick(f->VrCheckLed_DumpBody, Qt::LeftButton, {}, f->VrCheckLed_DumpBody->GlyphRect().center());
  QVERIFY(f->VrCheckLed_DumpBody->Checked());
  f->VrCheckLed_GearSelectForward->SetChecked(true);
  f->VrCheckLed_LeftBlinker->SetChecked(true);
  expect[21] = 0x80;
  expect[22] = 0x10;
  expect[23] = 0x01;

  FrameReader frames(lp.Pty);
  const Bytes got = frames.WaitFor(24, [&](const Bytes& d) { return d == expect; });
  QCOMPARE(got, expect);
  QCOMPARE(f->Edit_FaultCode->text(), QStringLiteral("3C"));
  QCOMPARE(f->Edit_RPM->text(), ByteText(expect[EngineRPM]));
  QCOMPARE(f->Edit_AnalogSpare->text(), QStringLiteral("FF"));
  QCOMPARE(f->Edit_GroundSpeed->text(), QStringLiteral("00"));
  QCOMPARE(f->Edit_Status1->text(), QStringLiteral("80"));
  QCOMPARE(f->Edit_Status3->text(), QStringLiteral("01"));
  // The progress bar follows the frames sent.
  QVERIFY(WaitUntil([&] { return f->ProgressBar_DataIn->value() > 0; }));
  QVERIFY(f->ProgressBar_DataIn->isVisibleTo(f.get()));
  QVERIFY(!f->StaticText_QuorlinkError->isVisibleTo(f.get()));
}

void TestFormQuorlink::numberOfBytesLengthensTheFrame() {
  LinkOnPty lp(1);
  TThread_Quorlink worker(true);
  worker.Link = &lp.Link;
  worker.Resume();
  auto f = MakeForm(&lp.Link, 1);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  f->VrSlider_EngineRPM->SetPosition(0x42);

  // The operator types into cell (1, 1) of the additional bytes.
  f->PageControl1->setCurrentWidget(f->TabSheet1);
  StringGrid* grid = f->AdvStringGrid_Additional;
  const QPoint cell = grid->visualRect(grid->model()->index(0, 0)).center();
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
  QWidget* editor = QApplication::focusWidget();
  QVERIFY(editor && editor != grid);
  QTest::keyClicks(editor, QStringLiteral("1a"));
  QTest::keyClick(editor, Qt::Key_Return);  // the grid takes the text on its next event
  QVERIFY(WaitUntil([&] { return grid->Cells(1, 1) == QLatin1String("1a"); }));

  FrameReader frames(lp.Pty);
  QVERIFY(!frames.WaitFor(24, [](const Bytes& d) { return d[EngineRPM] == 0x42; }).empty());

  QTest::keyClick(f->AdvSpinEdit_NumberBytes, Qt::Key_Up);
  QCOMPARE(f->AdvSpinEdit_NumberBytes->value(), 25);
  QCOMPARE(int(lp.Link.DataLength), 25);
  const Bytes got = frames.WaitFor(25, [](const Bytes& d) { return d[24] == 0x1A; });
  QCOMPARE(got.size(), std::size_t(25));
  QCOMPARE(got[EngineRPM], std::uint8_t(0x42));
  // The cell keeps the text as typed.
  QCOMPARE(grid->Cells(1, 1), QStringLiteral("1a"));
}

void TestFormQuorlink::hiddenWindowKeepsSendingAndKeepsItsState() {
  LinkOnPty lp(1);
  TThread_Quorlink worker(true);
  worker.Link = &lp.Link;
  worker.Resume();
  auto f = MakeForm(&lp.Link, 1);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  f->PageControl1->setCurrentWidget(f->TabSheet_Motor);
  f->VrSlider_Motor2Temp->SetPosition(77);

  QTest::mouseClick(f->Button_Close, Qt::LeftButton);
  QVERIFY(WaitUntil([&] { return !f->isVisible(); }));
  QVERIFY(f->Timer_QuorlinkDataUpdate->isActive());
  QVERIFY(f->Timer_Display->isActive());

  // Values set while hidden still go out.
  f->VrSlider_Motor2Temp->SetPosition(99);
  FrameReader frames(lp.Pty);
  QVERIFY(!frames.WaitFor(24, [](const Bytes& d) { return d[Motor2Temp] == 99; }).empty());

  // The window's close box hides it the same way.
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet_Motor);
  QCOMPARE(f->VrSlider_Motor2Temp->Position(), 99);
  QVERIFY(f->close());
  QVERIFY(!f->isVisible());
  QCOMPARE(f->VrSlider_Motor2Temp->Position(), 99);
}

void TestFormQuorlink::displayModeShowsReceivedFrames() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  f->show();

  // Before any frame the window shows the link's record as construction left it.
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->Edit_RPM->text() == QLatin1String("00"); }));
  CheckShows(*f, Bytes(24, 0));

  Bytes r = TestRecord(24, 5);
  r[FaultCodeByte] = 0x3C;
  r[22] = 0x11;
  r[GroundSpeed] = 0;
  r[EngineRPM] = 255;
  lp.Send(Frame(r));
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->Edit_Status2->text() == QLatin1String("11"); }));
  CheckShows(*f, r);
  QVERIFY(f->VrCheckLed_GearSelectForward->Checked());
  QVERIFY(f->VrCheckLed_InverterAAvail->Checked());
  QCOMPARE(f->AdvSpinEdit_FaultCode->text(), QStringLiteral("3C"));
  QVERIFY(f->StaticText_BusStatus->isVisible());
  QVERIFY(!f->StaticText_QuorlinkError->isVisible());

  // "Number of Bytes:" stays usable and sets the length the receiver expects.
  for (int i = 0; i < 6; ++i) QTest::keyClick(f->AdvSpinEdit_NumberBytes, Qt::Key_Up);
  QCOMPARE(int(lp.Link.DataLength), 30);
  Bytes longer = TestRecord(30, 9);
  longer[24] = 10;
  longer[25] = 171;
  longer[29] = 0x5E;
  lp.Send(Frame(longer));
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->AdvStringGrid_Additional->Cells(6, 1) == QLatin1String("5E"); }));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(1, 1), QStringLiteral("0A"));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(2, 1), QStringLiteral("AB"));
  QCOMPARE(f->AdvStringGrid_Additional->Cells(7, 1), QString());
  CheckShows(*f, Bytes(longer.begin(), longer.begin() + 24));
}

void TestFormQuorlink::displayModeShowsErrorsAndRecovers() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  const Bytes good = TestRecord(24, 1);
  lp.Send(Frame(good));
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->Edit_RPM->text() == ByteText(good[EngineRPM]); }));
  const auto showsError = [&](const char* text) {
    return f->StaticText_QuorlinkError->isVisibleTo(f.get()) && f->StaticText_QuorlinkError->text() == QLatin1String(text) &&
           !f->StaticText_BusStatus->isVisibleTo(f.get()) && !f->ProgressBar_DataIn->isVisibleTo(f.get());
  };
  const auto showsLive = [&] {
    return !f->StaticText_QuorlinkError->isVisibleTo(f.get()) && f->StaticText_BusStatus->isVisibleTo(f.get()) &&
           f->ProgressBar_DataIn->isVisibleTo(f.get());
  };
  QVERIFY(showsLive());
  QCOMPARE(f->ProgressBar_DataIn->value(), 1);

  // Status 1: a frame with a bad checksum; the values stay at the last good record.
  Bytes bad = Frame(TestRecord(24, 7));
  bad.back() = static_cast<std::uint8_t>(bad.back() + 1);
  lp.Send(bad);
  QVERIFY(WaitReceiving(lp.Link, [&] { return showsError("Quorlink Error CRC"); }));
  QCOMPARE(f->ProgressBar_DataIn->value(), 0);
  CheckShows(*f, good);

  // Status 2: a start byte and nothing after it.
  lp.Send({0x2F});
  QVERIFY(WaitReceiving(lp.Link, [&] { return showsError("Quorlink Error Start"); }));
  CheckShows(*f, good);

  // The rest of that frame is good: live values come back.
  const Bytes next = TestRecord(24, 3);
  const Bytes whole = Frame(next);
  lp.Send(Bytes(whole.begin() + 1, whole.end()));
  QVERIFY(WaitReceiving(lp.Link, [&] { return showsLive() && f->Edit_RPM->text() == ByteText(next[EngineRPM]); }));
  CheckShows(*f, next);
  QCOMPARE(f->ProgressBar_DataIn->value(), 2);

  // Status 3: the length is lowered while a longer frame is being collected.
  f->AdvSpinEdit_NumberBytes->setValue(36);
  QCOMPARE(int(lp.Link.DataLength), 36);
  const Bytes part = Frame(TestRecord(36, 4));
  lp.Send(Bytes(part.begin(), part.begin() + 31));
  Pump(lp.Link);
  QCOMPARE(int(lp.Link.GetRxCount()), 31);
  f->AdvSpinEdit_NumberBytes->setValue(24);
  lp.Send({0x00});
  QVERIFY(WaitReceiving(lp.Link, [&] { return showsError("Quorlink Error Length"); }));
  CheckShows(*f, next);

  const Bytes last = TestRecord(24, 8);
  lp.Send(Frame(last));
  QVERIFY(WaitReceiving(lp.Link, [&] { return showsLive() && f->Edit_RPM->text() == ByteText(last[EngineRPM]); }));
  CheckShows(*f, last);
}

void TestFormQuorlink::progressBarStartsAgainAfterHundredFrames() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  Bytes burst;
  for (int i = 0; i < 99; ++i) burst = burst + Frame(TestRecord(24, i));
  lp.Send(burst);
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->ProgressBar_DataIn->value() == 99; }));
  QCOMPARE(lp.Link.GoodFrameCount.load(), 99u);
  lp.Send(Frame(TestRecord(24, 100)));
  QVERIFY(WaitReceiving(lp.Link, [&] { return lp.Link.GoodFrameCount == 100; }));
  QVERIFY(WaitUntil([&] { return f->Edit_RPM->text() == ByteText(TestRecord(24, 100)[EngineRPM]); }));
  QCOMPARE(f->ProgressBar_DataIn->value(), 0);
  QVERIFY(f->ProgressBar_DataIn->isVisibleTo(f.get()));
}

void TestFormQuorlink::modesEnableAndDisableTheRightControls() {
  TestSettings settings;
  TForm_QUORLINK source;
  QCOMPARE(source.PageControl1->currentWidget(), source.TabSheet_Engine);
  QStringList tabs;
  for (int i = 0; i < source.PageControl1->count(); ++i) tabs << source.PageControl1->tabText(i);
  QCOMPARE(tabs, (QStringList{"Engine", "Truck Controls", "Truck Status", "Motor", "Additional"}));
  QCOMPARE(source.windowTitle(), QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Source Mode)"));
  QVERIFY(!source.StaticText_QuorlinkError->isVisibleTo(&source));
  QCOMPARE(source.SetMode(1), 1);
  QCOMPARE(source.StaticText_BusStatus->text(), QStringLiteral("Transmit Status"));
  QCOMPARE(source.windowTitle(), QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Source Mode)"));

  TForm_QUORLINK display;
  QCOMPARE(display.SetMode(0), 1);
  QCOMPARE(display.windowTitle(), QStringLiteral("VELT TRUCK QUORLINK SIMULATOR - (Display Mode)"));
  QCOMPARE(display.StaticText_BusStatus->text(), QStringLiteral("Receive Status"));

  int sliders = 0;
  for (int b = 0; b < AnalogBytes; ++b) {
    if (!source.SliderOfByte(b)) continue;
    ++sliders;
    QVERIFY(source.SliderOfByte(b)->isEnabled());
    QVERIFY(!display.SliderOfByte(b)->isEnabled());
    QCOMPARE(display.SliderOfByte(b)->MaxValue(), 255);
    QCOMPARE(display.SliderOfByte(b)->Palette()->High(), clLime);
  }
  QCOMPARE(sliders, 20);
  for (int led = 0; led < LedCount; ++led) {
    QVERIFY(source.Led(led)->isEnabled());
    QVERIFY(!display.Led(led)->isEnabled());
    QCOMPARE(source.Led(led)->Caption(), QString::fromLatin1(StatusFlags[led].Caption));
  }
  for (int b = 0; b < NamedBytes; ++b) {
    QVERIFY(!source.EditOfByte(b)->isEnabled());
    QVERIFY(!display.EditOfByte(b)->isEnabled());
    QCOMPARE(display.EditOfByte(b)->text(), QStringLiteral("0"));
  }
  QVERIFY(source.AdvSpinEdit_FaultCode->isEnabled());
  QVERIFY(source.AdvStringGrid_Additional->isEnabled());
  QVERIFY(!display.AdvSpinEdit_FaultCode->isEnabled());
  QVERIFY(!display.AdvStringGrid_Additional->isEnabled());
  QVERIFY(display.AdvSpinEdit_NumberBytes->isEnabled());
  QVERIFY(display.Button_Close->isEnabled());
  QVERIFY(display.PageControl1->isEnabled());
  for (int i = 0; i < display.PageControl1->count(); ++i) QVERIFY(display.PageControl1->isTabEnabled(i));
}

void TestFormQuorlink::spinEditsStepClampAndReadHex() {
  TestSettings settings;
  TQUORLINK link;  // never opened
  auto f = MakeForm(&link, 1);
  SpinEdit* bytes = f->AdvSpinEdit_NumberBytes;
  QCOMPARE(bytes->value(), 24);

  f->SetNumberBytes(200);
  QCOMPARE(bytes->value(), 100);
  QCOMPARE(int(link.DataLength), 100);
  f->SetNumberBytes(10);
  QCOMPARE(bytes->value(), 24);
  QCOMPARE(int(link.DataLength), 24);
  link.DataLength = 36;  // a stored length loaded again; the same value keeps the spin edit
  f->SetNumberBytes(24);
  QCOMPARE(int(link.DataLength), 24);

  // Its text can't be typed into; it only steps, PageUp by ten.
  QTest::keyClick(bytes, Qt::Key_5);
  QCOMPARE(bytes->value(), 24);
  QTest::keyClick(bytes, Qt::Key_Up);
  QCOMPARE(bytes->value(), 25);
  QCOMPARE(int(link.DataLength), 25);
  QTest::keyClick(bytes, Qt::Key_PageUp);
  QCOMPARE(bytes->value(), 35);
  QCOMPARE(int(link.DataLength), 35);
  for (int i = 0; i < 8; ++i) QTest::keyClick(bytes, Qt::Key_PageUp);
  QCOMPARE(bytes->value(), 100);
  QTest::keyClick(bytes, Qt::Key_PageDown);
  QCOMPARE(bytes->value(), 90);

  SpinEdit* fault = f->AdvSpinEdit_FaultCode;
  QTest::keyClick(fault, Qt::Key_PageUp);
  QCOMPARE(fault->value(), 10);
  QCOMPARE(fault->text(), QStringLiteral("A"));
  QTest::keyClick(fault, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(fault, QStringLiteral("ff"));
  QCOMPARE(fault->value(), 255);
  QCOMPARE(fault->text(), QStringLiteral("FF"));
  QTest::keyClick(fault, Qt::Key_Up);
  QCOMPARE(fault->value(), 255);
  QTest::keyClick(fault, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(fault, QStringLiteral("1ff"));  // not a byte: refused
  QVERIFY(fault->value() <= 255);
  QCOMPARE(f->PackTruckData(), 1);
  QCOMPARE(f->TruckData[FaultCodeByte], std::uint8_t(fault->value()));
  QCOMPARE(f->Edit_FaultCode->text(), ByteText(std::uint8_t(fault->value())));
}

void TestFormQuorlink::gridGrowsWithTheDataLength() {
  TestSettings settings;
  TQUORLINK link;
  auto f = MakeForm(&link, 1);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  f->PageControl1->setCurrentWidget(f->TabSheet1);
  StringGrid* grid = f->AdvStringGrid_Additional;
  QCOMPARE(grid->ColCount(), 9);
  QCOMPARE(grid->VisibleRows(), 5);
  // The fixed row and column hold no text and take none.
  grid->SetCells(0, 1, QStringLiteral("x"));
  grid->SetCells(1, 0, QStringLiteral("x"));
  QCOMPARE(grid->Cells(0, 1), QString());
  QCOMPARE(grid->Cells(1, 0), QString());

  f->SetNumberBytes(56);
  QCOMPARE(grid->VisibleRows(), 5);
  f->SetNumberBytes(57);
  QCOMPARE(grid->VisibleRows(), 6);
  f->SetNumberBytes(100);
  QCOMPARE(grid->VisibleRows(), 11);
  // Every row fits on its tab, or the grid scrolls to it.
  QVERIFY(grid->geometry().bottom() < f->TabSheet1->height());
  if (grid->height() < grid->FullSize().height()) QVERIFY(grid->verticalScrollBar()->isVisible());

  // Byte 99 is cell (4, 10), both ways.
  grid->SetCells(4, 10, QStringLiteral("0x2a"));
  grid->SetCells(5, 10, QStringLiteral("77"));  // byte 100: never read
  QCOMPARE(f->PackTruckData(), 1);
  QCOMPARE(f->TruckData[99], std::uint8_t(0x2A));
  f->TruckData[99] = 0xAB;
  f->UnpackTruckData();
  QCOMPARE(grid->Cells(4, 10), QStringLiteral("AB"));
  QCOMPARE(grid->Cells(5, 10), QStringLiteral("77"));

  // Rows hide again as the length shrinks, and keep their text.
  f->SetNumberBytes(24);
  QCOMPARE(grid->VisibleRows(), 5);
  f->SetNumberBytes(100);
  QCOMPARE(grid->Cells(4, 10), QStringLiteral("AB"));
}

void TestFormQuorlink::copyOutNeverPassesTheRecord() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  // A stored length of 200 was loaded into the link while the window shows 24.
  lp.Link.DataLength = 200;
  Bytes big(200, 0x01);
  big[99] = 0x63;
  lp.Send(Frame(big));
  // Receive without running the window's timers, which would set the length back.
  int status = -1;
  for (int i = 0; i < 5000 && lp.Link.GoodFrameCount == 0; ++i) {
    lp.Link.Receive(status);
    QTest::qSleep(2);
  }
  QCOMPARE(lp.Link.GoodFrameCount.load(), 1u);
  f->Mode = 0;
  f->ReceiveStatus = 0;
  QCOMPARE(f->ShowTruckData(0), 1);
  QCOMPARE(f->TruckData[99], std::uint8_t(0x63));
  // Whatever lies behind the record is untouched.
  QCOMPARE(f->Mode, 0);
  QCOMPARE(f->ReceiveStatus, 0);
  QVERIFY(WaitUntil([&] { return lp.Link.DataLength == 24; }));
}

void TestFormQuorlink::withoutLinkNothingHappens() {
  TestSettings settings;
  TForm_QUORLINK f;
  QCOMPARE(f.SendTruckData(), 0);
  f.SetNumberBytes(30);
  QCOMPARE(f.AdvSpinEdit_NumberBytes->value(), 30);
  QCOMPARE(f.ShowTruckData(2), 1);
  QCOMPARE(f.StaticText_QuorlinkError->text(), QStringLiteral("Quorlink Error Start"));
  // A status outside the table keeps the last text.
  QCOMPARE(f.ShowTruckData(7), 1);
  QCOMPARE(f.StaticText_QuorlinkError->text(), QStringLiteral("Quorlink Error Start"));
  QCOMPARE(f.ShowTruckData(0), 1);
  QVERIFY(!f.StaticText_QuorlinkError->isVisibleTo(&f));
  // Ticks of both modes pass without a link.
  int ticks = 0;
  connect(f.Timer_QuorlinkDataUpdate, &QTimer::timeout, [&] { ++ticks; });
  QVERIFY(WaitUntil([&] { return ticks >= 2; }));
  f.SetMode(1);
  QVERIFY(WaitUntil([&] { return ticks >= 4; }));
  QCOMPARE(f.Edit_RPM->text(), QStringLiteral("00"));
}

void TestFormQuorlink::unchangedValuesDoNotRepaint() {
  LinkOnPty lp(0);
  auto f = MakeForm(&lp.Link, 0);
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.get()));
  f->PageControl1->setCurrentWidget(f->TabSheet_Truck);
  Bytes r = TestRecord(24, 2);
  r[21] = 0xA5;
  lp.Send(Frame(r));
  QVERIFY(WaitReceiving(lp.Link, [&] { return f->Edit_Status1->text() == QLatin1String("A5"); }));
  TVrCheckLed* led = f->VrCheckLed_DumpBody;
  const int ledPaints = led->PaintCount();
  const int sliderPaints = f->VrSlider_EngineRPM->PaintCount();
  int ticks = 0;
  connect(f->Timer_Display, &QTimer::timeout, [&] { ++ticks; });
  QVERIFY(WaitUntil([&] { return ticks >= 5; }));
  QCOMPARE(led->PaintCount(), ledPaints);
  QCOMPARE(f->VrSlider_EngineRPM->PaintCount(), sliderPaints);
}

void TestFormQuorlink::textsAreNotClipped() {
  TestSettings settings;
  TForm_QUORLINK f;
  f.SetMode(0);
  f.show();
  QVERIFY(QTest::qWaitForWindowExposed(&f));
  for (QLabel* label : f.findChildren<QLabel*>()) {
    const QFontMetrics fm(label->font());
    QStringList texts{label->text()};
    if (label == f.StaticText_QuorlinkError)
      texts = {"Quorlink Error", "Quorlink Error CRC", "Quorlink Error Start", "Quorlink Error Length"};
    if (label == f.StaticText_BusStatus) texts << "Transmit Status";
    for (const QString& text : texts) {
      const QStringList lines = text.split(QLatin1Char('\n'));
      for (const QString& line : lines)
        QVERIFY2(fm.horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
      QVERIFY2(fm.lineSpacing() * lines.size() <= label->contentsRect().height() + fm.leading(), qPrintable(text));
    }
    // And nothing stands outside the window.
    const QRect inWindow(label->mapTo(&f, QPoint(0, 0)), label->size());
    QVERIFY2(f.rect().contains(inWindow), qPrintable(label->text()));
  }
  for (int led = 0; led < LedCount; ++led) {
    TVrCheckLed* l = f.Led(led);
    QVERIFY2(l->rect().contains(l->TextRect()), StatusFlags[led].Caption);
    QVERIFY(l->rect().contains(l->GlyphRect()));
  }
  // The right-to-left LED lines up with the others.
  QCOMPARE(f.VrCheckLed_HandBrake->GlyphRect().left(), f.VrCheckLed_DumpBody->GlyphRect().left());
  QVERIFY(f.Button_Close->width() >= QFontMetrics(f.Button_Close->font()).horizontalAdvance("Close") + 8);
  QVERIFY(f.AdvSpinEdit_NumberBytes->width() >= f.AdvSpinEdit_NumberBytes->minimumSizeHint().width());
  QVERIFY(f.AdvSpinEdit_FaultCode->width() >= f.AdvSpinEdit_FaultCode->minimumSizeHint().width());
  for (int b = 0; b < NamedBytes; ++b) {
    QLineEdit* e = f.EditOfByte(b);
    QVERIFY(e->width() >= QFontMetrics(e->font()).horizontalAdvance("FF") + 8);
  }
  QVERIFY(f.PageControl1->tabBar()->sizeHint().width() <= f.PageControl1->width());
  // Every tab's content stays inside its page (the pages share one size).
  const QSize pageSize = f.PageControl1->currentWidget()->size();
  for (QWidget* page : {f.TabSheet_Engine, f.TabSheet_TruckControl, f.TabSheet_Truck, f.TabSheet_Motor, f.TabSheet1})
    for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      QVERIFY2(QRect(QPoint(0, 0), pageSize).contains(child->geometry()),
               qPrintable(page->objectName() + QStringLiteral(" %1,%2 %3x%4 in %5x%6")
                                                     .arg(child->x()).arg(child->y()).arg(child->width())
                                                     .arg(child->height()).arg(pageSize.width()).arg(pageSize.height())));
}

// A second run with a larger desktop font checks that the layout scales with it.
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
