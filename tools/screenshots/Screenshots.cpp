// Grabs every window of the program, in both modes, into PNG files of the
// folder given as the only argument. Run it through tools/screenshots.sh.
// It keeps its settings in a temporary folder and opens no port but a
// pseudo-terminal of its own, to show a device that went away.

#include "app/AboutBox.h"
#include "app/Application.h"
#include "app/HelpWindow.h"
#include "app/MainForm.h"
#include "app/ModeSelect.h"
#include "capture/CaptureFormat.h"
#include "capture/window/CaptureViewer.h"
#include "capture/window/QuorlinkCapture.h"
#include "link/LinkFigures.h"
#include "link/Quorlink.h"
#include "link/window/QuorlinkBytes.h"
#include "link/window/RxBytesView.h"
#include "serial/ComPort.h"
#include "serial/DeviceMap.h"
#include "serial/dialog/ComportConfiguration.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/trend/TrendWindow.h"
#include "simulator/window/FormQuorlink.h"
#include "widgets/Messages.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

QString OutDir;
int Failures = 0;

void Settle(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
  // Let the window manager map it and the widgets polish and paint.
  QEventLoop loop;
  QTimer::singleShot(200, &loop, &QEventLoop::quit);
  loop.exec();
}

void Save(QWidget* w, const QString& name) {
  Settle(w);
  const QString file = OutDir + QLatin1Char('/') + name + QStringLiteral(".png");
  if (w->grab().save(file)) {
    std::printf("%s\n", qPrintable(file));
  } else {
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    ++Failures;
  }
}

void SaveMenu(TMainForm& main, QMenu* menu, const QString& name) {
  menu->popup(main.mapToGlobal(main.menuBar()->geometry().bottomLeft()));
  Save(menu, name);
  menu->hide();
}

void AddFrame(std::vector<std::uint8_t>& stream, int length, int seed, int damage) {
  std::uint8_t sum = 0x2F;
  stream.push_back(0x2F);
  for (int i = 0; i < length; ++i) {
    const auto b = static_cast<std::uint8_t>(seed * 7 + i * (i < 21 ? 11 : 1));
    stream.push_back(b);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  stream.push_back(static_cast<std::uint8_t>(-sum + damage));
}

// A display-mode link, its port open on a pseudo-terminal, that has seen good
// frames, a stray byte and a frame with a bad checksum, and then nothing for
// twelve seconds. Returns the master end, which the caller closes after the
// port; -1 when there is no pseudo-terminal.
int FeedQuietLink(TMainForm& main) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !SetComDevicePath(1, ptsname(master))) {
    std::fprintf(stderr, "no pseudo-terminal for the quiet link\n");
    ++Failures;
    return -1;
  }
  main.Button_SaveConfigurationClick();
  main.Button_OpenClick();
  // Opened forty seconds ago.
  main.GetLinkFigures().Restart(TLinkFigures::Clock::now() - std::chrono::seconds(40));
  TQUORLINK& link = *main.GetLink();
  std::vector<std::uint8_t> stream;
  for (int k = 0; k < 8; ++k) AddFrame(stream, 24, k, 0);
  stream.push_back(0x55);
  AddFrame(stream, 24, 8, 0x10);
  for (int k = 9; k < 12; ++k) AddFrame(stream, 24, k, 0);
  if (write(master, stream.data(), stream.size()) != static_cast<ssize_t>(stream.size())) ++Failures;
  QEventLoop loop;
  for (int i = 0; i < 500 && link.GoodFrameCount < 11; ++i) {
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  // The last good frame, as if it had come twelve seconds ago.
  const auto now = TLinkFigures::Clock::now();
  link.LastGoodFrameTime =
      std::chrono::duration_cast<std::chrono::nanoseconds>((now - std::chrono::seconds(12)).time_since_epoch()).count();
  main.Timer_LinkFiguresTimer();
  return master;
}

void MainWindows(int mode, const QString& modeName) {
  TMainForm main;
  main.SetMode(mode);
  main.ShowHint(QStringLiteral("Open an existing file"));
  Save(&main, QStringLiteral("main-window-") + modeName);
  if (mode == 0) {
    SaveMenu(main, main.FileMenu, QStringLiteral("menu-file"));
    SaveMenu(main, main.MenuItem_Log, QStringLiteral("menu-log"));
    SaveMenu(main, main.WindowMenu, QStringLiteral("menu-window"));
    SaveMenu(main, main.HelpMenu, QStringLiteral("menu-help"));
  }

  TForm_QUORLINK simulator(nullptr);
  simulator.Link = main.GetLink();
  simulator.SetMode(mode);
  simulator.SetNumberBytes(main.GetLink()->DataLength);
  auto* tabs = simulator.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  const int pages = tabs ? tabs->count() : 1;
  for (int i = 0; i < pages; ++i) {
    if (tabs) tabs->setCurrentIndex(i);
    QString page = tabs ? tabs->tabText(i).toLower().replace(QLatin1Char(' '), QLatin1Char('-')) : QString();
    Save(&simulator,
         QStringLiteral("simulator-") + modeName + (page.isEmpty() ? QString() : QStringLiteral("-") + page));
  }
  simulator.hide();

  if (mode == 0) {
    const auto capture = main.CreateCaptureWindow();
    Save(capture.get(), QStringLiteral("capture"));

    const int master = FeedQuietLink(main);
    main.ShowHint(QString());
    Save(&main, QStringLiteral("main-window-quiet"));
    simulator.Figures = &main.GetLinkFigures();
    if (tabs) tabs->setCurrentIndex(0);
    Save(&simulator, QStringLiteral("simulator-display-quiet"));
    simulator.hide();
    main.Button_CloseClick();
    if (master >= 0) close(master);
    SetComDevicePath(1, std::string());

    TForm_QuorlinkBytes bytes;
    bytes.Link = main.GetLink();
    bytes.resize(bytes.sizeHint());
    Save(&bytes, QStringLiteral("bytes"));
  }
}

// Display mode on a USB adapter (a pseudo-terminal behind a path of its own)
// that is pulled out: both windows say the port is lost and waited for.
void LostPort() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  QTemporaryDir dev(QDir::tempPath() + QStringLiteral("/usb-XXXXXX"));
  const QByteArray link = QFile::encodeName(dev.path() + QStringLiteral("/ttyUSB0"));
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || symlink(ptsname(master), link.constData()) != 0 ||
      !SetComDevicePath(1, link.toStdString())) {
    std::fprintf(stderr, "no pseudo-terminal for the lost port\n");
    ++Failures;
    return;
  }
  TMainForm main;
  main.SetMode(0);
  main.Button_SaveConfigurationClick();
  main.Button_OpenClick();
  main.Button_OpenTruckSimulatorClick();
  TForm_QUORLINK& simulator = *main.GetSimulatorForm();
  simulator.hide();
  unlink(link.constData());
  close(master);
  QEventLoop loop;
  for (int i = 0; i < 100 && !main.StatusText_Port->isVisible(); ++i) {
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  main.ShowHint(QString());
  Save(&main, QStringLiteral("main-window-lost"));
  Save(&simulator, QStringLiteral("simulator-display-lost"));
  main.Button_CloseClick();
  SetComDevicePath(1, std::string());
}

// The port dialog's answer when a virtual port is opened with even parity
// and 7 data bits: it opens, and says what it does not apply.
void VirtualPortOpened() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !SetComDevicePath(1, ptsname(master))) {
    std::fprintf(stderr, "no pseudo-terminal for the virtual port\n");
    ++Failures;
    return;
  }
  TComPort port;
  port.Parity = 2;
  port.DataBits = 7;
  if (port.Open() != 1 || port.OpenNotice().empty()) {
    std::fprintf(stderr, "the virtual port: %s\n", port.LastError().c_str());
    ++Failures;
  } else {
    std::unique_ptr<QMessageBox> box(Messages::Create(nullptr, QStringLiteral("Success"),
                                                      QStringLiteral("Port Open Successfully"),
                                                      QString::fromStdString(port.OpenNotice())));
    Save(box.get(), QStringLiteral("message-virtual-port"));
  }
  port.Close();
  close(master);
  SetComDevicePath(1, std::string());
}

// A minute of a truck pulling away and stopping again, with a few receive
// errors, as the live trend shows it.
void Trend(int mode, const QString& modeName) {
  TrendWindow trend(mode);
  trend.Chart()->SetChosen(
      {ChartValues::Find(QStringLiteral("ground_speed")), ChartValues::Find(QStringLiteral("engine_rpm")),
       ChartValues::Find(QStringLiteral("fuel_level")), ChartValues::Find(QStringLiteral("hand_brake")),
       ChartValues::Find(QStringLiteral("dump_body_up"))});
  const qint64 start = trend.Now() - 60000;
  std::uint8_t record[TruckDataMap::RecordSize] = {};
  for (int i = 0; i * 70 <= 60000; ++i) {
    const double s = i * 0.07;
    const double speed = s < 10 ? 0 : s < 35 ? (s - 10) * 7.6 : s < 45 ? 190 : std::max(0.0, 190 - (s - 45) * 19);
    record[TruckDataMap::GroundSpeed] = static_cast<std::uint8_t>(speed);
    record[TruckDataMap::EngineRPM] = static_cast<std::uint8_t>(60 + speed * 0.8 + 6 * std::sin(s * 3));
    record[TruckDataMap::FuelLevel] = static_cast<std::uint8_t>(180 - s * 0.4);
    record[TruckDataMap::Status1] =
        static_cast<std::uint8_t>((s < 8 || s > 56 ? 0x01 : 0) | (s > 48 && s < 54 ? 0x80 : 0));
    const int status = mode == 0 && (i == 300 || i == 301 || i == 610) ? 1 : mode == 0 && i == 450 ? 3 : 0;
    trend.AddRecordAt(start + i * 70, status, 24, record);
  }
  Save(&trend, QStringLiteral("trend-") + modeName);
}

// Twenty minutes of haul cycles captured in display mode, with a burst of
// checksum errors, a length error, one spike of the engine RPM and a line
// damaged in the file, as the capture viewer shows them.
void Viewer() {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("Quorlink_Capture.txt"));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    ++Failures;
    return;
  }
  const QDateTime start(QDate(2026, 12, 8), QTime(14, 2, 11));
  file.write(CaptureFormat::FormatHeader(start).c_str());
  std::uint8_t record[24] = {};
  char line[CaptureFormat::RecordLineMax];
  const int startMs = start.time().msecsSinceStartOfDay() + 380;
  for (int i = 0; i * 70 < 20 * 60000; ++i) {
    const double s = std::fmod(i * 0.07, 400.0);  // one cycle: load, haul, dump, return
    const double speed = s < 60    ? 0
                         : s < 90  ? (s - 60) * 6
                         : s < 170 ? 180
                         : s < 190 ? 180 - (s - 170) * 9
                         : s < 230 ? 0
                         : s < 250 ? (s - 230) * 10
                         : s < 380 ? 200
                                   : std::max(0.0, 200 - (s - 380) * 10);
    record[TruckDataMap::GroundSpeed] = static_cast<std::uint8_t>(speed);
    record[TruckDataMap::EngineRPM] =
        static_cast<std::uint8_t>(i == 9000 ? 252 : 70 + speed * 0.7 + 5 * std::sin(i * 0.21));
    record[TruckDataMap::FuelLevel] = static_cast<std::uint8_t>(200 - i * 0.004);
    record[TruckDataMap::Status1] = static_cast<std::uint8_t>(0x01 | (s > 195 && s < 225 ? 0x80 : 0));
    const int status = (i >= 5200 && i < 5206) || i == 12040 ? 1 : i == 15500 ? 3 : 0;
    file.write(line, static_cast<qint64>(CaptureFormat::FormatRecordLine(line, startMs + i * 70, status, 24, record)));
    if (i == 7300) file.write("14:10:42:3\r\n");
  }
  file.close();

  CaptureViewer viewer(0);
  viewer.Chart()->SetChosen(
      {ChartValues::Find(QStringLiteral("ground_speed")), ChartValues::Find(QStringLiteral("engine_rpm")),
       ChartValues::Find(QStringLiteral("fuel_level")), ChartValues::Find(QStringLiteral("dump_body_up"))});
  viewer.Open(path);
  QEventLoop loop;
  QObject::connect(&viewer, &CaptureViewer::Indexed, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  viewer.show();
  if (!viewer.Ready()) loop.exec();
  if (!viewer.Ready()) {
    std::fprintf(stderr, "the capture viewer did not finish reading\n");
    ++Failures;
    return;
  }
  viewer.Step(true, true);  // the first checksum error
  Save(&viewer, QStringLiteral("capture-viewer"));
}

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
    return 2;
  }
  OutDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(OutDir);

  // Never the user's own settings.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());

  {
    TForm_ModeSelect select;
    Save(&select, QStringLiteral("mode-select"));
  }
  MainWindows(0, QStringLiteral("display"));
  MainWindows(1, QStringLiteral("source"));
  LostPort();
  Trend(0, QStringLiteral("display"));
  Viewer();
  {
    TQUORLINK link;
    TForm_ComportConfiguration dialog;
    dialog.Port = &link;
    Save(&dialog, QStringLiteral("port-configuration"));
    TComDeviceChooser chooser(1);
    Save(&chooser, QStringLiteral("port-device-chooser"));
  }
  {
    TAboutBox about;
    Save(&about, QStringLiteral("about"));
  }
  {
    THelpWindow help;
    help.ShowTopic(QStringLiteral("capture"));
    Save(&help, QStringLiteral("help"));
  }
  {
    std::unique_ptr<QMessageBox> box(Messages::Create(nullptr, QStringLiteral("Error"),
                                                      QStringLiteral("Cannot Open Comport"),
                                                      QStringLiteral("COM1 (/dev/ttyS0): in use by another program.")));
    Save(box.get(), QStringLiteral("message-cannot-open"));
  }
  {
    std::unique_ptr<QMessageBox> box(Messages::Create(
        nullptr, QStringLiteral("Error"), QStringLiteral("The settings could not be read."),
        QStringLiteral(
            "/home/bench/.config/Parvelco/Quorlink Simulator.ini: Permission denied. The defaults are used.")));
    Save(box.get(), QStringLiteral("message-settings-unreadable"));
  }
  VirtualPortOpened();
  return Failures == 0 ? 0 : 1;
}
