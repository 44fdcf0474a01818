// quorlink-harness: the windowed program (mode dialog, main window, simulator
// window, capture window, message boxes) run by a script instead of an
// operator. It plays the operator's part through the real controls: it answers
// the mode dialog, presses Open Port, Open Truck Simulator, Save to Logfile and
// the capture window's Start, fills in the capture file name, and reads and
// answers every message box. Commands come one per line on standard input;
// replies and events go to standard output as JSON lines.
//
//   quorlink-harness --settings DIR --mode display|source [--port PATH]
//       [--baud N] [--length N] [--keep-settings] [--open] [--simulator]
//       [--capture FILE] [--block-ms MS --block-every-ms MS] [--trend N]
//
// Commands: stats, open, close, map PATH, simulator, startlog FILE, stoplog,
// block MS, block-exit MS (block, then close the main window at once),
// length N, trend N (Window > Live Trend showing N values: the first named
// bytes and two flags; 0 closes it), quit. SIGTERM, SIGINT and end of input
// mean quit.

#include "app/Application.h"
#include "app/MainForm.h"
#include "app/ModeSelect.h"
#include "app/Program.h"
#include "capture/window/QuorlinkCapture.h"
#include "link/Quorlink.h"
#include "link/ThreadQuorlink.h"
#include "serial/DeviceMap.h"
#include "simulator/chart/ValueChart.h"
#include "simulator/trend/TrendBuffer.h"
#include "simulator/trend/TrendWindow.h"
#include "simulator/window/FormQuorlink.h"
#include "simulator/window/SpinEdit.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

struct Options {
  QString Settings;
  int Mode = 0;
  QString Port;
  int Baud = 115200;
  int Length = 24;
  bool KeepSettings = false;
  bool Open = false;
  bool Simulator = false;
  QString Capture;
  int BlockMs = 0;
  int BlockEveryMs = 0;
  int Trend = 0;
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "quorlink-harness: %s\n", why);
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  bool haveMode = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> QString {
      if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
      return QString::fromLocal8Bit(argv[++i]);
    };
    if (a == "--settings")
      o.Settings = value();
    else if (a == "--mode") {
      const QString m = value();
      if (m != QLatin1String("display") && m != QLatin1String("source")) Usage("--mode wants display or source");
      o.Mode = m == QLatin1String("source") ? 1 : 0;
      haveMode = true;
    } else if (a == "--port")
      o.Port = value();
    else if (a == "--baud")
      o.Baud = value().toInt();
    else if (a == "--length")
      o.Length = value().toInt();
    else if (a == "--keep-settings")
      o.KeepSettings = true;
    else if (a == "--open")
      o.Open = true;
    else if (a == "--simulator")
      o.Simulator = true;
    else if (a == "--capture")
      o.Capture = value();
    else if (a == "--block-ms")
      o.BlockMs = value().toInt();
    else if (a == "--block-every-ms")
      o.BlockEveryMs = value().toInt();
    else if (a == "--trend")
      o.Trend = value().toInt();
    else
      Usage(("unknown option " + a).c_str());
  }
  // Never the operator's own settings: the caller names a folder for them.
  if (o.Settings.isEmpty()) Usage("--settings DIR is required");
  if (!haveMode) Usage("--mode is required");
  if (o.Simulator || !o.Capture.isEmpty()) o.Open = true;
  return o;
}

QByteArray Json(const QString& text) {
  QByteArray out = "\"";
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == '"' || u == '\\')
      out += '\\', out += static_cast<char>(u);
    else if (u == '\n')
      out += "\\n";
    else if (u < 0x20)
      out += QByteArray("\\u00") + QByteArray::number(u, 16).rightJustified(2, '0');
    else
      out += QString(c).toUtf8();
  }
  return out + "\"";
}

const char* PortStateName(TPortState state) {
  switch (state) {
  case TPortState::Open: return "open";
  case TPortState::Lost: return "lost";
  case TPortState::Reopening: return "reopening";
  case TPortState::Closed: break;
  }
  return "closed";
}

void Emit(const QByteArray& line) {
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int SignalPipe[2] = {-1, -1};
void OnSignal(int) {
  const char c = 'q';
  [[maybe_unused]] const ssize_t n = write(SignalPipe[1], &c, 1);
}

// Plays the operator: a timer looks at the modal window in front and answers
// it the way the current step wants; commands are run one at a time.
class Operator : public QObject {
public:
  explicit Operator(const Options& options) : O(options) {
    // The operator looks every 10 ms while something is to be answered and
    // sleeps otherwise, so that the figures measured are the program's own: a
    // window being shown wakes it.
    Poll.setInterval(10);
    connect(&Poll, &QTimer::timeout, this, [this] { Look(); });
    Poll.start();
    qApp->installEventFilter(this);

    In = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(In, &QSocketNotifier::activated, this, [this] { ReadInput(); });
    Sig = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(Sig, &QSocketNotifier::activated, this, [this] {
      char c;
      [[maybe_unused]] const ssize_t n = read(SignalPipe[0], &c, 1);
      // A signal ends the run even while a step still waits for its window.
      Waiting.clear();
      Queue.clear();
      Queue.push_back(QStringLiteral("quit"));
      Started = true;
      Next();
    });
    if (O.BlockMs > 0 && O.BlockEveryMs > 0) {
      Blocker.setInterval(O.BlockEveryMs);
      connect(&Blocker, &QTimer::timeout, this, [this] {
        usleep(static_cast<useconds_t>(O.BlockMs) * 1000);
        ++Blocks;
      });
    }
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !Quitting && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow() && !Poll.isActive())
      Poll.start();
    return false;
  }

private:
  const Options& O;
  bool Quitting = false;
  QTimer Poll;
  QTimer Blocker;
  QSocketNotifier* In;
  QSocketNotifier* Sig;
  QByteArray Pending;
  std::deque<QString> Queue;
  bool Busy = false;     // a command is being run
  bool Started = false;  // the start-up steps have been queued
  long long Blocks = 0;
  QString CaptureFile;  // the file name the capture window's file dialog gets
  bool StartPressed = false;
  bool FileAccepting = false;  // the file dialog's accept is posted and has not run yet
  QElapsedTimer FileAnswered;  // since the file dialog was answered
  QString Waiting;             // a command whose reply comes from Look
  QString LastMessage;

  TMainForm* Main() const { return MainForm; }

  void Reply(const QString& command, const QByteArray& fields = QByteArray()) {
    Emit("{\"reply\":" + Json(command) + (fields.isEmpty() ? QByteArray() : "," + fields) + "}");
  }

  QByteArray Stats() const {
    TMainForm* m = Main();
    if (!m || !m->GetLink()) return "\"window\":false";
    TQUORLINK* link = m->GetLink();
    TThread_Quorlink* thread = m->GetLinkThread();
    return QStringLiteral(
               "\"window\":true,\"mode\":%1,\"isopen\":%2,\"good\":%3,\"sent\":%4,\"rxstatus\":%5,"
               "\"length\":%6,\"passes\":%7,\"logopen\":%8,\"blocks\":%9,\"simulator\":%10,\"port\":\"%11\","
               "\"trend\":%12,\"trend_interval\":%13")
        .arg(m->GetMode())
        .arg(link->IsOpen.load() ? "true" : "false")
        .arg(link->GoodFrameCount.load())
        .arg(link->SentFrameCount.load())
        .arg(link->RxStatus.load())
        .arg(link->DataLength.load())
        .arg(thread ? static_cast<qulonglong>(thread->PassCount()) : 0)
        .arg(m->LogOpen() ? "true" : "false")
        .arg(Blocks)
        .arg(m->GetSimulatorForm() && m->GetSimulatorForm()->isVisible() ? "true" : "false")
        .arg(PortStateName(link->State()))
        .arg(m->GetTrendWindow() ? static_cast<qulonglong>(m->GetTrendWindow()->Buffer().Added()) : 0)
        .arg(m->GetTrendWindow() ? m->GetTrendWindow()->RedrawInterval() : 0)
        .toUtf8();
  }

  void ReadInput() {
    char buffer[4096];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      In->setEnabled(false);
      Queue.push_back(QStringLiteral("quit"));
    } else {
      Pending.append(buffer, n);
      int eol;
      while ((eol = Pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(Pending.left(eol)).trimmed();
        Pending.remove(0, eol + 1);
        if (!line.isEmpty()) Queue.push_back(line);
      }
    }
    Next();
  }

  // Commands run from the event loop, never inside the input handler, because
  // some of them enter a modal loop (capture window, message boxes).
  void Next() {
    if (Busy || !Waiting.isEmpty() || Queue.empty() || !Started) return;
    const QString line = Queue.front();
    Queue.pop_front();
    Busy = true;
    QTimer::singleShot(0, this, [this, line] {
      Run(line);
      Busy = false;
      Next();
    });
  }

  void Run(const QString& line) {
    const QString command = line.section(QLatin1Char(' '), 0, 0);
    const QString arg = line.section(QLatin1Char(' '), 1);
    TMainForm* m = Main();
    if (command == QLatin1String("ready")) {
      Emit("{\"event\":\"ready\",\"pid\":" + QByteArray::number(getpid()) + "," + Stats() + "}");
    } else if (command == QLatin1String("stats")) {
      Reply(command, Stats());
    } else if (command == QLatin1String("open")) {
      LastMessage.clear();
      if (m->Button_Open->isEnabled()) m->Button_Open->click();
      Reply(command, Stats() + ",\"message\":" + Json(LastMessage));
    } else if (command == QLatin1String("close")) {
      if (m->Button_Close->isEnabled()) m->Button_Close->click();
      Reply(command, Stats());
    } else if (command == QLatin1String("map")) {
      const bool ok = SetComDevicePath(1, arg.toStdString());
      Reply(command, QByteArray("\"ok\":") + (ok ? "true" : "false"));
    } else if (command == QLatin1String("simulator")) {
      if (m->Button_OpenTruckSimulator->isEnabled()) m->Button_OpenTruckSimulator->click();
      Reply(command, Stats());
    } else if (command == QLatin1String("startlog")) {
      StartCapture(arg);
    } else if (command == QLatin1String("stoplog")) {
      if (auto* capture = qobject_cast<TForm_QuorlinkCapture*>(QApplication::activeModalWidget()))
        capture->Button_Done->click();
      Reply(command, Stats());
    } else if (command == QLatin1String("block")) {
      usleep(static_cast<useconds_t>(arg.toInt()) * 1000);
      ++Blocks;
      Reply(command, Stats());
    } else if (command == QLatin1String("block-exit")) {
      // Frames keep coming while the GUI thread sleeps, so the worker waits in
      // its hand-over when the window is closed without returning to the loop.
      usleep(static_cast<useconds_t>(arg.toInt()) * 1000);
      Reply(command, Stats());
      Quitting = true;
      Poll.stop();
      Blocker.stop();
      if (m) m->FileExit();
    } else if (command == QLatin1String("length")) {
      if (TForm_QUORLINK* s = m->GetSimulatorForm()) s->AdvSpinEdit_NumberBytes->setValue(arg.toInt());
      Reply(command, Stats());
    } else if (command == QLatin1String("trend")) {
      ShowTrend(arg.toInt());
      Reply(command, Stats());
    } else if (command == QLatin1String("quit")) {
      Quitting = true;
      Poll.stop();
      Blocker.stop();
      // Every modal window first (the capture window closes its file on the way out).
      while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* capture = qobject_cast<TForm_QuorlinkCapture*>(modal))
          capture->Button_Done->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
          dialog->reject();
        else
          break;
        QApplication::processEvents();
      }
      Reply(command, Stats());
      if (m) m->FileExit();
    } else {
      Reply(command, "\"error\":\"unknown command\"");
    }
  }

  void ShowTrend(int values) {
    TMainForm* m = Main();
    if (values <= 0) {
      if (m->GetTrendWindow()) m->GetTrendWindow()->close();
      return;
    }
    m->WindowTrendItem->trigger();
    std::vector<int> chosen;
    const int flags = values >= 3 ? 2 : 0;
    for (int i = 0; i < values - flags && i < TruckDataMap::AnalogBytes; ++i) chosen.push_back(i);
    for (int i = 0; i < flags; ++i) chosen.push_back(TruckDataMap::AnalogBytes + i);
    m->GetTrendWindow()->Chart()->SetChosen(chosen);
  }

  // Save to Logfile opens the modal capture window; Look presses Start and
  // fills in the file dialog; the reply comes when the capture runs or failed.
  void StartCapture(const QString& file) {
    TMainForm* m = Main();
    if (!m->SavetoLogfile1->isEnabled()) {
      Reply(QStringLiteral("startlog"), "\"ok\":false,\"message\":\"Save to Logfile is disabled\"");
      return;
    }
    CaptureFile = file;
    StartPressed = false;
    FileAnswered.invalidate();
    Waiting = QStringLiteral("startlog");
    Poll.start();
    LastMessage.clear();
    QTimer::singleShot(0, m, [m] { m->SavetoLogfile1->trigger(); });
  }

  void Look() {
    if (!Started) {
      StartUp();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    const bool idle = Waiting.isEmpty() && (!modal || qobject_cast<TForm_QuorlinkCapture*>(modal));
    if (idle) {
      Poll.stop();
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      Emit("{\"event\":\"message\",\"caption\":" + Json(box->windowTitle()) + ",\"text\":" + Json(box->text()) +
           ",\"detail\":" + Json(box->informativeText()) + "}");
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        // The file dialog asks before it replaces a file: the script named it on purpose.
        yes->click();
        return;
      }
      LastMessage = box->text();
      box->accept();
      if (Waiting == QLatin1String("startlog")) {
        // The capture window stays up, ready for another try; leave it.
        Waiting.clear();
        QTimer::singleShot(0, this, [this] {
          if (auto* capture = qobject_cast<TForm_QuorlinkCapture*>(QApplication::activeModalWidget()))
            capture->Button_Done->click();
          Reply(QStringLiteral("startlog"), "\"ok\":false,\"message\":" + Json(LastMessage));
          Next();
        });
      }
      return;
    }
    if (auto* files = qobject_cast<QFileDialog*>(modal)) {
      // A poll that was due before the posted accept runs first on a busy
      // machine: the dialog is still up then, but answered.
      if (FileAccepting) return;
      if (Waiting == QLatin1String("startlog") && !CaptureFile.isEmpty()) {
        // Typed into the name box, as an operator does; accept reads it from there.
        if (auto* edit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
          edit->setText(CaptureFile);
        else
          files->selectFile(CaptureFile);
        CaptureFile.clear();
        // QFileDialog::accept, as the Save button does; posted, because it asks
        // before it replaces a file, and that box is answered by the next Look.
        FileAccepting = true;
        QTimer::singleShot(0, files, [this, files] {
          FileAccepting = false;
          FileAnswered.start();
          static_cast<QDialog*>(files)->accept();
        });
      } else {
        FileAnswered.start();
        files->reject();
      }
      return;
    }
    if (auto* capture = qobject_cast<TForm_QuorlinkCapture*>(modal)) {
      if (Waiting != QLatin1String("startlog")) return;
      if (Main()->LogOpen()) {
        Waiting.clear();
        Reply(QStringLiteral("startlog"), "\"ok\":true," + Stats());
        Next();
      } else if (capture->Button_Start->isEnabled() && !StartPressed) {
        StartPressed = true;
        QTimer::singleShot(0, capture, [capture] { capture->Button_Start->click(); });
      } else if (capture->Button_Start->isEnabled() && CaptureFile.isEmpty() && FileAnswered.isValid() &&
                 FileAnswered.elapsed() > 1000) {
        // The file dialog was answered a while ago (a poll can run in the same
        // pass of the event loop as the accept, before the capture window has
        // gone on), but no capture runs and nothing was said: give up, say so.
        Waiting.clear();
        capture->Button_Done->click();
        Reply(QStringLiteral("startlog"), "\"ok\":false,\"message\":\"no capture after the file dialog\"");
        Next();
      }
      return;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      // Nothing else is expected (the port dialog only comes without stored
      // settings): say so and cancel it.
      Emit("{\"event\":\"dialog\",\"name\":" + Json(dialog->objectName()) +
           ",\"title\":" + Json(dialog->windowTitle()) + "}");
      dialog->reject();
    }
  }

  // The mode dialog first, then the main window's commands the options ask for.
  void StartUp() {
    if (auto* select = qobject_cast<TForm_ModeSelect*>(QApplication::activeModalWidget())) {
      (O.Mode == 1 ? select->RadioButton_Source : select->RadioButton_QuorlinkDisplay)->setChecked(true);
      select->Button_Ok->click();
      return;
    }
    TMainForm* m = Main();
    if (!m || !m->isVisible()) return;
    Started = true;
    connect(m, &TMainForm::CaptureStopped, this,
            [](const QString& reason) { Emit("{\"event\":\"capture-stopped\",\"reason\":" + Json(reason) + "}"); });
    if (O.Open) Queue.push_front(QStringLiteral("open"));
    if (O.Simulator) Queue.push_back(QStringLiteral("simulator"));
    if (!O.Capture.isEmpty()) Queue.push_back(QStringLiteral("startlog ") + O.Capture);
    if (O.Trend > 0) Queue.push_back(QStringLiteral("trend %1").arg(O.Trend));
    Queue.push_back(QStringLiteral("ready"));
    if (Blocker.interval() > 0 && O.BlockMs > 0) Blocker.start();
    Next();
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  // Settings and the COM mapping live in the named folder only.
  QDir().mkpath(options.Settings);
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(options.Settings));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, options.Settings);

  TApplication app(argc, argv);
  if (!options.Port.isEmpty()) {
    if (!SetComDevicePath(1, options.Port.toStdString())) Usage("cannot map COM1 in the settings folder");
    if (!options.KeepSettings) {
      // Stored settings for the mode, so Open Port opens without the port dialog.
      TQUORLINK link;
      link.PortNumber = 1;
      link.BaudRate = options.Baud;
      link.DataLength = static_cast<std::uint8_t>(options.Length);
      if (!link.SaveConfiguration(SettingsBasePath(options.Mode))) Usage("cannot write the settings");
    }
  }

  if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);

  Operator op(options);
  int code = 0;
  try {
    code = RunProgram();
  } catch (const std::exception& e) {
    Emit("{\"event\":\"exception\",\"what\":" + Json(QString::fromLocal8Bit(e.what())) + "}");
    code = 1;
  }
  Emit("{\"event\":\"exit\",\"code\":" + QByteArray::number(code) + "}");
  return code;
}
