#include "serial/ComPort.h"
#include "serial/DeviceMap.h"
#include "serial/Registry.h"
#include "serial/SettingsRegistry.h"

#include "PtyPair.h"
#include "TestSettings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char* const displayBase = "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\";
const char* const sourceBase = "\\Software\\Parvelco\\Quorlink Simulator\\Source Mode\\";
const QString displayGroup = QStringLiteral("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration/");
const QByteArray displaySection = "[Software/Parvelco/Quorlink%20Simulator/Display%20Mode/Port%20Configuration]\n";

std::unique_ptr<QSettings> Store() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Parvelco", "Quorlink Simulator");
}

// Writes the settings file as given; must come before anything reads it.
void WriteFile(const TestSettings& settings, const QByteArray& content) {
  QDir().mkpath(QFileInfo(settings.FilePath()).path());
  QFile file(settings.FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
}

// Values no default has, to see which fields a load changed.
void Mark(TComPort& port) {
  port.PortNumber = 77;
  port.BaudRate = 1234;
  port.DataBits = 66;
  port.Parity = 33;
}

int liveAccessors = 0;

struct CountingRegistry : SettingsRegistry {
  CountingRegistry() { ++liveAccessors; }
  ~CountingRegistry() override { --liveAccessors; }
};

}  // namespace

TEST(PortSettings, MissingKeyChangesNothingAndAKeyWithoutValuesGivesDefaults) {
  TestSettings settings;
  Store()->setValue(displayGroup + "Unrelated", 5);  // the display key exists, with no port value
  TComPort port;
  Mark(port);
  EXPECT_EQ(port.LoadSettings(sourceBase), 0);
  EXPECT_EQ(port.PortNumber, 77);
  EXPECT_EQ(port.BaudRate, 1234);
  EXPECT_EQ(port.SettingsLoaded, 0);

  EXPECT_EQ(port.LoadSettings(displayBase), 1);
  EXPECT_EQ(port.PortNumber, 1);
  EXPECT_EQ(port.BaudRate, 9600);
  EXPECT_EQ(port.DataBits, 8);
  EXPECT_EQ(port.StopBits, 0);
  EXPECT_EQ(port.FlowControl, 0);
  EXPECT_EQ(port.Parity, 0);
  EXPECT_EQ(port.SettingsLoaded, 1);
}

TEST(PortSettings, SavedValuesComeBackAndByteWideOnesKeepEightBits) {
  TestSettings settings;
  TComPort saved;
  saved.PortNumber = 200;  // written zero-extended
  saved.BaudRate = 31250;
  saved.DataBits = 7;
  saved.StopBits = 1;
  saved.FlowControl = 2;
  saved.Parity = 4;
  ASSERT_EQ(saved.SaveSettings(displayBase), 1);
  EXPECT_EQ(Store()->value(displayGroup + "ComPort").toString(), "200");
  EXPECT_EQ(Store()->value(displayGroup + "StopBits").toString(), "1");
  EXPECT_EQ(Store()->value(displayGroup + "FlowControl").toString(), "2");

  TComPort loaded;
  EXPECT_EQ(loaded.LoadSettings(sourceBase), 0);  // each mode has its own
  ASSERT_EQ(loaded.LoadSettings(displayBase), 1);
  EXPECT_EQ(loaded.PortNumber, 200);
  EXPECT_EQ(loaded.BaudRate, 31250);
  EXPECT_EQ(loaded.DataBits, 7);
  EXPECT_EQ(loaded.StopBits, 1);
  EXPECT_EQ(loaded.FlowControl, 2);
  EXPECT_EQ(loaded.Parity, 4);

  Store()->setValue(displayGroup + "ComPort", 258);
  Store()->setValue(displayGroup + "Parity", -1);
  Store()->setValue(displayGroup + "BaudRate", -5);
  ASSERT_EQ(loaded.LoadSettings(displayBase), 1);
  EXPECT_EQ(loaded.PortNumber, 2);
  EXPECT_EQ(loaded.Parity, 255);
  EXPECT_EQ(loaded.BaudRate, -5);
}

TEST(PortSettings, ValueThatIsNoIntegerStopsTheLoadAfterTheValuesBeforeIt) {
  TestSettings settings;
  WriteFile(settings, displaySection + "ComPort=3\nBaudRate=fast\nDataBits=7\n");
  SetRegistryFactory([]() -> std::unique_ptr<TRegistry> { return std::make_unique<CountingRegistry>(); });
  TComPort port;
  Mark(port);
  try {
    port.LoadSettings(displayBase);
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(),
                 "Settings value \"BaudRate\" under \"Software/Parvelco/Quorlink Simulator/Display Mode/Port "
                 "Configuration\" is not a 32-bit integer: \"fast\"");
  }
  SetRegistryFactory(nullptr);
  EXPECT_EQ(port.PortNumber, 3);
  EXPECT_EQ(port.BaudRate, 1234);
  EXPECT_EQ(port.DataBits, 66);
  EXPECT_EQ(port.SettingsLoaded, 0);
  EXPECT_EQ(liveAccessors, 0) << "the accessor was not released";
}

TEST(PortSettings, OnlyThirtyTwoBitIntegersAreRead) {
  for (const auto& [stored, isInteger, value] : {std::tuple{"2147483647", true, 2147483647},
                                                 {"-2147483648", true, -2147483647 - 1},
                                                 {"+7", true, 7},
                                                 {"2147483648", false, 0},
                                                 {"4294967296", false, 0},
                                                 {"9600.5", false, 0},
                                                 {"0x2580", false, 0},
                                                 {"1,2", false, 0},
                                                 {"\"\"", false, 0}}) {
    TestSettings settings;
    WriteFile(settings, displaySection + "BaudRate=" + stored + "\n");
    SettingsRegistry registry;
    ASSERT_TRUE(registry.OpenKey(std::string(displayBase) + "Port Configuration", false));
    ASSERT_TRUE(registry.ValueExists("BaudRate"));
    if (isInteger) {
      EXPECT_EQ(registry.ReadInteger("BaudRate"), value) << stored;
    } else {
      EXPECT_THROW(registry.ReadInteger("BaudRate"), ERegistryException) << stored;
    }
  }
}

TEST(PortSettings, DamagedFileLoadsAsMissingValues) {
  {
    TestSettings settings;
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage.append(static_cast<char>((i * 7919) % 256));
    WriteFile(settings, garbage);
    TComPort port;
    Mark(port);
    EXPECT_EQ(port.LoadSettings(displayBase), 0);
    EXPECT_EQ(port.PortNumber, 77);
    ASSERT_EQ(port.SaveSettings(displayBase), 1);  // a save replaces the damaged file
    TComPort loaded;
    ASSERT_EQ(loaded.LoadSettings(displayBase), 1);
    EXPECT_EQ(loaded.PortNumber, 77);
  }
  {
    TestSettings settings;
    WriteFile(settings, displaySection + "ComPort=2\nBaudR");  // cut off mid-line
    TComPort port;
    ASSERT_EQ(port.LoadSettings(displayBase), 1);
    EXPECT_EQ(port.PortNumber, 2);
    EXPECT_EQ(port.BaudRate, 9600);
  }
  {
    TestSettings settings;
    ASSERT_TRUE(QDir().mkpath(settings.FilePath()));  // unreadable and unwritable, even for root
    TComPort port;
    Mark(port);
    EXPECT_EQ(port.LoadSettings(displayBase), 0);
    EXPECT_EQ(port.SaveSettings(displayBase), 0) << "a save that was not written reported success";
    EXPECT_EQ(port.PortNumber, 77);
  }
}

TEST(DeviceMap, ComNumbersMapToDevicesChosenPerUser) {
  TestSettings settings;
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(ComDevicePath(n), "/dev/ttyS" + std::to_string(n - 1));
  EXPECT_EQ(ComDevicePath(0), "");
  EXPECT_FALSE(SetComDevicePath(5, "/dev/ttyUSB0"));

  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R,_UART-if00-port0";  // commas occur in such names
  ASSERT_TRUE(SetComDevicePath(2, "/dev/ttyUSB0"));
  ASSERT_TRUE(SetComDevicePath(3, byId));
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath(3), byId);
  EXPECT_EQ(Store()->value("Software/Parvelco/Quorlink Simulator/Devices/COM2").toString(), "/dev/ttyUSB0");
  ASSERT_TRUE(SetComDevicePath(2, ""));
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyS1");
}

TEST(DeviceMap, ListedDevicesAreSortedSerialDevicesOnly) {
  PtyPair pty;  // a pseudo-terminal is no serial device
  const std::vector<TSerialDeviceInfo> devices = ListSerialDevices();
  EXPECT_TRUE(std::is_sorted(devices.begin(), devices.end(), [](auto& a, auto& b) { return a.Path < b.Path; }));
  for (const TSerialDeviceInfo& device : devices) {
    struct stat st {};
    EXPECT_TRUE(stat(device.Path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << device.Path;
    EXPECT_EQ(device.Path.rfind("/dev/pts/", 0), std::string::npos) << device.Path;
    EXPECT_NE(device.Path, "/dev/tty");
    EXPECT_NE(device.Path, "/dev/console");
    EXPECT_EQ(device.UsbVendorId.empty(), device.UsbProductId.empty()) << device.Path;
  }
}

namespace {
std::vector<std::pair<SettingsFile::Problem, std::string>> told;
void Record(SettingsFile::Problem problem, const std::string& text) { told.emplace_back(problem, text); }
}  // namespace

// The settings are only ever read or written as a regular file; what can't be
// read is said once and never written over.
TEST(SettingsFile, OnlyARegularFileIsUsedAndWhatCantBeReadIsSaidAndKept) {
  told.clear();
  SettingsFile::SetProblemHandler(&Record);
  {
    TestSettings settings;
    QDir().mkpath(QFileInfo(settings.FilePath()).path());
    ASSERT_TRUE(QFile::link("/dev/null", settings.FilePath()));
    EXPECT_FALSE(SetComDevicePath(1, "/dev/ttyUSB0"));
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().first, SettingsFile::Problem::CannotSave);
    EXPECT_NE(told.back().second.find(settings.FilePath().toStdString()), std::string::npos) << told.back().second;
    EXPECT_NE(told.back().second.find("a character device"), std::string::npos) << told.back().second;
    struct stat st {};
    EXPECT_TRUE(stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
    EXPECT_TRUE(QFileInfo(settings.FilePath()).isSymLink());
  }
  told.clear();
  {
    TestSettings settings;
    QDir().mkpath(QFileInfo(settings.FilePath()).path());
    ASSERT_EQ(mkfifo(settings.FilePath().toLocal8Bit().constData(), 0600), 0);
    TComPort port;
    Mark(port);
    EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");  // read without waiting for a writer
    EXPECT_EQ(port.LoadSettings(displayBase), 0);
    EXPECT_EQ(port.PortNumber, 77);
    ASSERT_EQ(told.size(), 1u) << "said once, not at every read";
    EXPECT_EQ(told[0].first, SettingsFile::Problem::CannotRead);
    EXPECT_NE(told[0].second.find("a FIFO"), std::string::npos) << told[0].second;
    EXPECT_EQ(port.SaveSettings(displayBase), 0);
    EXPECT_EQ(told.size(), 2u);
    EXPECT_FALSE(SettingsFile::LastProblem().empty());
  }
  if (geteuid() != 0) {
    told.clear();
    TestSettings settings;
    ASSERT_TRUE(SetComDevicePath(2, "/dev/ttyUSB0"));
    const QByteArray before = [&] {
      QFile file(settings.FilePath());
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_EQ(chmod(settings.FilePath().toLocal8Bit().constData(), 0), 0);
    EXPECT_EQ(ComDevicePath(2), "/dev/ttyS1");
    EXPECT_FALSE(SetComDevicePath(3, "/dev/ttyUSB1"));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[1].second.find("not written over"), std::string::npos) << told[1].second;
    chmod(settings.FilePath().toLocal8Bit().constData(), 0600);
    QFile file(settings.FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
  }
  SettingsFile::SetProblemHandler(nullptr);
}

// Root running with a user's settings folder (sudo -E, a service) leaves the
// folders and the file it creates there to that user.
TEST(SettingsFile, RootGivesWhatItCreatesInAUsersFolderToThatUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TestSettings settings;
  ASSERT_EQ(chown(settings.Folder().toLocal8Bit().constData(), 65534, 65534), 0);
  ASSERT_TRUE(SetComDevicePath(2, "/dev/ttyUSB0"));
  TComPort port;
  ASSERT_EQ(port.SaveSettings(displayBase), 1);  // a save writes a new file
  for (const QString& path : {QFileInfo(settings.FilePath()).path(), settings.FilePath()}) {
    struct stat st {};
    ASSERT_EQ(stat(path.toLocal8Bit().constData(), &st), 0) << path.toStdString();
    EXPECT_EQ(st.st_uid, 65534u) << path.toStdString();
  }
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB0");
}
