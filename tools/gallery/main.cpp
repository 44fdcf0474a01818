// Controls gallery: sliders and LED check controls in every state, side by
// side. Hover, focus and drag states are forced with synthetic events so a
// screenshot shows them without anyone at the mouse.
//
//   controls-gallery [--screenshot FILE] [--dpr N] [--ready-file FILE] [--quit-after MS]

#include "controls/VrCheckLed.h"
#include "controls/VrSlider.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <functional>

namespace {

// The built-in knob recoloured into four cells: normal, disabled, dragged, hovered.
QImage FourStateThumb() {
  const QImage knob = VrSliderThumbImage(QStringLiteral("VRSLIDERTHUMB_HORI"));
  const int w = knob.width(), h = knob.height();
  QImage cells(w * 4, h, QImage::Format_RGB32);
  const QRgb face = qRgb(192, 192, 192), white = qRgb(255, 255, 255), dark = qRgb(128, 128, 128);
  auto recolour = [&](QRgb c, int cell) -> QRgb {
    c |= 0xFF000000u;
    switch (cell) {
    case 1:  // disabled: flat and faint
      if (c == dark) return qRgb(170, 170, 170);
      if (c == white) return qRgb(224, 224, 224);
      if (c == qRgb(0, 0, 0)) return qRgb(112, 112, 112);
      return c;
    case 2:  // dragged: pressed in
      if (c == white) return dark;
      if (c == dark) return white;
      if (c == face) return qRgb(168, 168, 168);
      return c;
    case 3:  // hovered: a touch of blue
      if (c == face) return qRgb(176, 200, 232);
      return c;
    default: return c;
    }
  };
  for (int cell = 0; cell < 4; ++cell)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) cells.setPixel(cell * w + x, y, recolour(knob.pixel(x, y), cell));
  // The transparent colour stays black in every cell's bottom-left pixel.
  cells.setPixel(0, h - 1, qRgb(0, 0, 0));
  return cells;
}

class Gallery : public QWidget {
public:
  Gallery() {
    setWindowTitle(QStringLiteral("Controls gallery"));
    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(10);
    Thumbs.Add(FourStateThumb());

    Section(outer, QStringLiteral("Vertical sliders, 36 x 171, range 0 to 255"),
            {
                Cell(VSlider(64), QStringLiteral("64")),
                Cell(VSlider(192, [](TVrSlider* s) { s->setEnabled(false); }), QStringLiteral("192\ndisabled")),
                Cell(VSlider(64, [](TVrSlider* s) { s->SetStyle(ssTopRight); }), QStringLiteral("64\ntop-right")),
                Cell(FocusedSlider = VSlider(128, [](TVrSlider* s) { s->SetTabStop(true); }),
                     QStringLiteral("128\nfocused")),
                Cell(HoveredSlider = VSlider(100, [this](TVrSlider* s) { UseFourStates(s); }),
                     QStringLiteral("hovered\n4 cells")),
                Cell(DraggedSlider = VSlider(160, [this](TVrSlider* s) { UseFourStates(s); }),
                     QStringLiteral("dragged\n4 cells")),
                Cell(VSlider(220,
                             [this](TVrSlider* s) {
                               UseFourStates(s);
                               s->setEnabled(false);
                             }),
                     QStringLiteral("disabled\n4 cells")),
                Cell(VSlider(128, [](TVrSlider* s) { s->SetSolidFill(false); }), QStringLiteral("128\ndithered")),
                Cell(VSlider(128, [](TVrSlider* s) { s->SetOptions(soHandPoint); }),
                     QStringLiteral("128, thumb\nnot opaque")),
                Cell(VSlider(90,
                             [](TVrSlider* s) {
                               TVrPalette p;
                               p.SetLow(clMaroon);
                               p.SetHigh(clYellow);
                               s->SetPalette(p);
                               s->SetTickWidth(2);
                               s->SetSpacing(2);
                             }),
                     QStringLiteral("90, ticks 2+2\nmaroon/yellow")),
                Cell(VSlider(0), QStringLiteral("0")),
                Cell(VSlider(255), QStringLiteral("255")),
            });

    Section(outer, QStringLiteral("Horizontal sliders, 171 x 36"),
            {
                Cell(HSlider(100), QStringLiteral("100")),
                Cell(HSlider(100, [](TVrSlider* s) { s->SetStyle(ssTopRight); }),
                     QStringLiteral("100, top-right (minimum at the right)")),
                Cell(HSlider(200, [](TVrSlider* s) { s->setEnabled(false); }), QStringLiteral("200, disabled")),
                Cell(HSlider(60, [](TVrSlider* s) { s->SetSolidFill(false); }), QStringLiteral("60, dithered")),
            },
            2);

    Section(
        outer, QStringLiteral("LED check controls, 20 x 13"),
        {
            Cell(Led(QStringLiteral("Off"), false), QString()),
            Cell(Led(QStringLiteral("On"), true), QString()),
            Cell(Led(QStringLiteral("Disabled off"), false, [](TVrCheckLed* l) { l->setEnabled(false); }), QString()),
            Cell(Led(QStringLiteral("Disabled on"), true, [](TVrCheckLed* l) { l->setEnabled(false); }), QString()),
            Cell(HoveredLed = Led(QStringLiteral("Hovered off"), false), QString()),
            Cell(HoveredOnLed = Led(QStringLiteral("Hovered on"), true), QString()),
            Cell(FocusedLed = Led(QStringLiteral("&Focused"), true, [](TVrCheckLed* l) { l->SetTabStop(true); }),
                 QString()),
            Cell(Led(QStringLiteral("Right to left"), true,
                     [](TVrCheckLed* l) { l->setLayoutDirection(Qt::RightToLeft); }),
                 QString()),
            Cell(Led(QStringLiteral("Radio one"), true, [](TVrCheckLed* l) { l->SetCheckStyle(csRadioButton); }),
                 QString()),
            Cell(Led(QStringLiteral("Image right"), false, [](TVrCheckLed* l) { l->SetLayout(ImageRight); }),
                 QString()),
            Cell(Led(QStringLiteral("Image top"), true,
                     [](TVrCheckLed* l) {
                       l->SetLayout(ImageTop);
                       l->setFixedSize(125, 40);
                     }),
                 QString()),
            Cell(Led(QStringLiteral("Image bottom"), false,
                     [](TVrCheckLed* l) {
                       l->SetLayout(ImageBottom);
                       l->setFixedSize(125, 40);
                     }),
                 QString()),
        },
        4);
    outer->addStretch(1);
  }

  // Puts the controls into the states no one is there to cause.
  void ForceStates() {
    Hover(HoveredSlider, HoveredSlider->ThumbRect().center());
    const QPoint grab = DraggedSlider->ThumbRect().center();
    QMouseEvent press(QEvent::MouseButtonPress, grab, DraggedSlider->mapToGlobal(grab), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(DraggedSlider, &press);
    Hover(HoveredLed, HoveredLed->GlyphRect().center());
    Hover(HoveredOnLed, HoveredOnLed->GlyphRect().center());
    // The LED takes the real focus; the slider is told it has it.
    activateWindow();
    FocusedLed->setFocus(Qt::OtherFocusReason);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(FocusedSlider, &focusIn);
  }

private:
  struct CellEntry {
    QWidget* Control;
    QString Text;
  };

  static CellEntry Cell(QWidget* control, const QString& text) { return {control, text}; }

  void Section(QVBoxLayout* outer, const QString& title, const QList<CellEntry>& cells, int columns = 0) {
    auto* heading = new QLabel(title, this);
    QFont f = heading->font();
    f.setBold(true);
    heading->setFont(f);
    outer->addWidget(heading);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(6);
    for (int i = 0; i < cells.size(); ++i) {
      auto* box = new QVBoxLayout;
      box->setSpacing(3);
      box->addWidget(cells[i].Control, 0, Qt::AlignLeft | Qt::AlignTop);
      if (!cells[i].Text.isEmpty()) {
        auto* label = new QLabel(cells[i].Text, this);
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        label->setFont(small);
        box->addWidget(label, 0, Qt::AlignLeft | Qt::AlignTop);
      }
      box->addStretch(1);
      const int row = columns > 0 ? i / columns : 0;
      const int column = columns > 0 ? i % columns : i;
      grid->addLayout(box, row, column);
    }
    grid->setColumnStretch(grid->columnCount(), 1);
    outer->addLayout(grid);
  }

  TVrSlider* VSlider(int position, const std::function<void(TVrSlider*)>& setUp = {}) {
    auto* s = new TVrSlider(this);
    s->SetMaxValue(255);
    s->SetPosition(position);
    if (setUp) setUp(s);
    s->setFixedSize(s->size());
    return s;
  }

  TVrSlider* HSlider(int position, const std::function<void(TVrSlider*)>& setUp = {}) {
    auto* s = new TVrSlider(this);
    s->SetOrientation(voHorizontal);
    s->SetMaxValue(255);
    s->SetPosition(position);
    if (setUp) setUp(s);
    s->setFixedSize(s->size());
    return s;
  }

  TVrCheckLed* Led(const QString& caption, bool checked, const std::function<void(TVrCheckLed*)>& setUp = {}) {
    auto* l = new TVrCheckLed(this);
    l->SetCaption(caption);
    l->SetChecked(checked);
    l->setFixedSize(125, 25);
    if (setUp) setUp(l);
    return l;
  }

  void UseFourStates(TVrSlider* s) {
    s->SetBitmapList(&Thumbs);
    s->SetThumbImageIndex(0);
    s->SetThumbStates(4);
  }

  static void Hover(QWidget* w, QPoint at) {
    QEnterEvent enter(at, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &enter);
    QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
  }

  TVrBitmapList Thumbs;
  TVrSlider* FocusedSlider = nullptr;
  TVrSlider* HoveredSlider = nullptr;
  TVrSlider* DraggedSlider = nullptr;
  TVrCheckLed* HoveredLed = nullptr;
  TVrCheckLed* HoveredOnLed = nullptr;
  TVrCheckLed* FocusedLed = nullptr;
};

// Runs the event loop until cond holds or the deadline passes.
bool WaitFor(const std::function<bool()>& cond, int deadlineMs) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > deadlineMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The pixel ratio must be chosen before the application starts.
  for (int i = 1; i + 1 < argc; ++i)
    if (QByteArray(argv[i]) == "--dpr") qputenv("QT_SCALE_FACTOR", argv[i + 1]);

  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Shows the gauge controls in every state."));
  parser.addHelpOption();
  const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save the window to FILE and quit."),
                                      QStringLiteral("FILE"));
  const QCommandLineOption dpr(QStringLiteral("dpr"), QStringLiteral("Device pixel ratio (sets QT_SCALE_FACTOR)."),
                               QStringLiteral("N"));
  const QCommandLineOption ready(QStringLiteral("ready-file"),
                                 QStringLiteral("Create FILE once the window is on screen."), QStringLiteral("FILE"));
  const QCommandLineOption quitAfter(QStringLiteral("quit-after"), QStringLiteral("Quit after MS milliseconds."),
                                     QStringLiteral("MS"));
  parser.addOptions({screenshot, dpr, ready, quitAfter});
  parser.process(app);

  Gallery gallery;
  gallery.show();
  if (!WaitFor([&] { return gallery.windowHandle() && gallery.windowHandle()->isExposed(); }, 20000)) {
    qCritical("The gallery window never appeared on the screen.");
    return 1;
  }
  gallery.ForceStates();
  WaitFor([&] { return gallery.isActiveWindow(); }, 2000);
  QApplication::processEvents();

  if (parser.isSet(screenshot)) {
    const QString file = parser.value(screenshot);
    if (!gallery.grab().save(file)) {
      qCritical("Cannot write %s", qPrintable(file));
      return 1;
    }
    return 0;
  }
  if (parser.isSet(ready)) {
    QFile marker(parser.value(ready));
    if (!marker.open(QIODevice::WriteOnly)) qWarning("Cannot create %s", qPrintable(marker.fileName()));
  }
  if (parser.isSet(quitAfter)) QTimer::singleShot(parser.value(quitAfter).toInt(), &app, &QApplication::quit);
  return app.exec();
}
