#include "serial/ComPort.h"
#include "serial/DeviceMap.h"
#include "serial/Registry.h"
#include "serial/SettingsRegistry.h"

#include "TestSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

using ::testing::HasSubstr;

namespace {

const char* const displayBase = "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\";
const char* const sourceBase = "\\Software\\Parvelco\\Quorlink Simulator\\Source Mode\\";
const QString displayGroup = QStringLiteral("Software/Parvelco/Quorlink Simulator/Display Mode/Port Configuration");
const QString sourceGroup = QStringLiteral("Software/Parvelco/Quorlink Simulator/Source Mode/Port Configuration");
// How the settings file names the display-mode port group.
const QByteArray displaySection = "[Software/Parvelco/Quorlink%20Simulator/Display%20Mode/Port%20Configuration]\n";

std::unique_ptr<QSettings> Store() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Parvelco"),
                                     QStringLiteral("Quorlink Simulator"));
}

void Put(const QString& group, const QString& name, const QVariant& value) {
  const auto store = Store();
  store->setValue(group + u'/' + name, value);
  store->sync();
}

// Writes the settings file as given; must come before anything reads it.
void WriteFile(const TestSettings& settings, const QByteArray& content) {
  QDir().mkpath(QFileInfo(settings.FilePath()).path());
  QFile file(settings.FilePath());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content);
}

// Values no default has, to see which fields a load changed.
void Mark(TComPort& port) {
  port.PortNumber = 77;
  port.BaudRate = 1234;
  port.DataBits = 66;
  port.StopBits = 55;
  port.FlowControl = 44;
  port.Parity = 33;
}

int liveAccessors = 0;

class CountingRegistry : public SettingsRegistry {
public:
  CountingRegistry() { ++liveAccessors; }
  ~CountingRegistry() override { --liveAccessors; }
};

struct CountingFactory {
  CountingFactory() {
    liveAccessors = 0;
    SetRegistryFactory([]() -> std::unique_ptr<TRegistry> { return std::make_unique<CountingRegistry>(); });
  }
  ~CountingFactory() { SetRegistryFactory(nullptr); }
};

}  // namespace

TEST(PortSettings, MissingKeyChangesNothing) {
  TestSettings settings;
  Put(sourceGroup, "ComPort", 2);  // the other mode's settings don't count
  TComPort port;
  Mark(port);
  EXPECT_EQ(port.LoadSettings(displayBase), 0);
  EXPECT_EQ(port.PortNumber, 77);
  EXPECT_EQ(port.BaudRate, 1234);
  EXPECT_EQ(port.Parity, 33);
  EXPECT_EQ(port.SettingsLoaded, 0);
}

TEST(PortSettings, KeyWithoutPortValuesLoadsDefaults) {
  TestSettings settings;
  Put(displayGroup, "Unrelated", 5);
  TComPort port;
  Mark(port);
  EXPECT_EQ(port.LoadSettings(displayBase), 1);
  EXPECT_EQ(port.PortNumber, 1);
  EXPECT_EQ(port.BaudRate, 9600);
  EXPECT_EQ(port.DataBits, 8);
  EXPECT_EQ(port.StopBits, 0);
  EXPECT_EQ(port.FlowControl, 0);
  EXPECT_EQ(port.Parity, 0);
  EXPECT_EQ(port.SettingsLoaded, 1);
}

TEST(PortSettings, SavedValuesComeBackUnchangedInTheirOwnMode) {
  TestSettings settings;
  TComPort saved;
  saved.PortNumber = 200;  // byte-wide: written zero-extended
  saved.BaudRate = 31250;
  saved.DataBits = 7;
  saved.StopBits = 1;
  saved.FlowControl = 2;
  saved.Parity = 4;
  ASSERT_EQ(saved.SaveSettings(displayBase), 1);

  const auto store = Store();
  EXPECT_EQ(store->value(displayGroup + "/ComPort").toString(), "200");
  EXPECT_EQ(store->value(displayGroup + "/BaudRate").toString(), "31250");
  EXPECT_EQ(store->value(displayGroup + "/StopBits").toString(), "1");
  EXPECT_EQ(store->value(displayGroup + "/FlowControl").toString(), "2");
  store->beginGroup(sourceGroup);
  EXPECT_TRUE(store->allKeys().isEmpty());
  store->endGroup();

  TComPort loaded;
  EXPECT_EQ(loaded.LoadSettings(sourceBase), 0);
  ASSERT_EQ(loaded.LoadSettings(displayBase), 1);
  EXPECT_EQ(loaded.PortNumber, 200);
  EXPECT_EQ(loaded.BaudRate, 31250);
  EXPECT_EQ(loaded.DataBits, 7);
  EXPECT_EQ(loaded.StopBits, 1);
  EXPECT_EQ(loaded.FlowControl, 2);
  EXPECT_EQ(loaded.Parity, 4);
  EXPECT_EQ(loaded.SettingsLoaded, 1);
}

TEST(PortSettings, ByteWideValuesKeepTheirLowEightBits) {
  TestSettings settings;
  Put(displayGroup, "ComPort", 258);
  Put(displayGroup, "DataBits", 263);
  Put(displayGroup, "Parity", -1);
  Put(displayGroup, "BaudRate", -5);
  TComPort port;
  ASSERT_EQ(port.LoadSettings(displayBase), 1);
  EXPECT_EQ(port.PortNumber, 2);
  EXPECT_EQ(port.DataBits, 7);
  EXPECT_EQ(port.Parity, 255);
  EXPECT_EQ(port.BaudRate, -5);
}

TEST(PortSettings, ValueThatIsNoIntegerStopsTheLoadAfterTheValuesBeforeIt) {
  TestSettings settings;
  WriteFile(settings, displaySection + "ComPort=3\nBaudRate=fast\nDataBits=7\n");
  CountingFactory counting;
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
  EXPECT_EQ(port.PortNumber, 3);
  EXPECT_EQ(port.BaudRate, 1234);
  EXPECT_EQ(port.DataBits, 66);
  EXPECT_EQ(port.SettingsLoaded, 0);
  EXPECT_EQ(liveAccessors, 0) << "the accessor was not released";
}

TEST(PortSettings, OnlyThirtyTwoBitIntegersAreRead) {
  const struct {
    const char* stored;
    bool isInteger;
    std::int32_t value;
  } cases[] = {
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"+7", true, 7},
      {"2147483648", false, 0},
      {"4294967296", false, 0},
      {"-2147483649", false, 0},
      {"9600.5", false, 0},
      {"0x2580", false, 0},
      {"1e3", false, 0},
      {"1,2", false, 0},  // a list
      {"\"\"", false, 0},
  };
  for (const auto& c : cases) {
    TestSettings settings;
    WriteFile(settings, displaySection + "BaudRate=" + c.stored + "\n");
    SettingsRegistry registry;
    ASSERT_TRUE(registry.OpenKey(std::string(displayBase) + "Port Configuration", false));
    ASSERT_TRUE(registry.ValueExists("BaudRate"));
    if (c.isInteger) {
      EXPECT_EQ(registry.ReadInteger("BaudRate"), c.value) << c.stored;
    } else {
      EXPECT_THROW(registry.ReadInteger("BaudRate"), ERegistryException) << c.stored;
    }
  }
}

TEST(PortSettings, KeyExistsOnlyWithValuesBelowIt) {
  TestSettings settings;
  SettingsRegistry registry;
  EXPECT_FALSE(registry.OpenKey("\\Software\\Parvelco", false));
  ASSERT_TRUE(registry.OpenKey("\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\Quorlink Configuration", true));
  registry.WriteInteger("Quorlink_DataLength", 36);
  EXPECT_TRUE(registry.Flush());
  registry.CloseKey();

  SettingsRegistry again;
  EXPECT_TRUE(again.OpenKey("\\Software\\Parvelco", false));  // a subkey holds a value
  EXPECT_FALSE(again.OpenKey(std::string(displayBase) + "Port Configuration", false));
  ASSERT_TRUE(again.OpenKey(std::string(displayBase) + "Quorlink Configuration", false));
  EXPECT_EQ(again.ReadInteger("Quorlink_DataLength"), 36);
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
    // Saving replaces the damaged file with a sound one.
    ASSERT_EQ(port.SaveSettings(displayBase), 1);
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
    // Unreadable and unwritable, root or not: a folder where the file should be.
    ASSERT_TRUE(QDir().mkpath(settings.FilePath()));
    TComPort port;
    Mark(port);
    EXPECT_EQ(port.LoadSettings(displayBase), 0);
    EXPECT_EQ(port.SaveSettings(displayBase), 0) << "a save that could not be written reported success";
    EXPECT_EQ(port.PortNumber, 77);
  }
}

TEST(DeviceMap, ComNumbersMapToDevicesChosenPerUser) {
  TestSettings settings;
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(ComDevicePath(n), "/dev/ttyS" + std::to_string(n - 1));
  EXPECT_EQ(ComDevicePath(0), "");
  EXPECT_EQ(ComDevicePath(5), "");
  EXPECT_FALSE(SetComDevicePath(0, "/dev/ttyUSB0"));
  EXPECT_FALSE(SetComDevicePath(5, "/dev/ttyUSB0"));

  const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R,_UART-if00-port0";  // commas occur in such names
  ASSERT_TRUE(SetComDevicePath(2, "/dev/ttyUSB0"));
  ASSERT_TRUE(SetComDevicePath(3, byId));
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath(3), byId);
  EXPECT_EQ(Store()->value("Software/Parvelco/Quorlink Simulator/Devices/COM2").toString(), "/dev/ttyUSB0");

  TComPort port;
  port.PortNumber = 2;
  EXPECT_EQ(port.DevicePath(), "/dev/ttyUSB0");
  ASSERT_TRUE(SetComDevicePath(2, ""));
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyS1");
  EXPECT_EQ(port.DevicePath(), "/dev/ttyS1");
}

TEST(DeviceMap, ListedDevicesAreSortedSerialDevicesOnly) {
  const std::vector<TSerialDeviceInfo> devices = ListSerialDevices();
  EXPECT_TRUE(std::is_sorted(devices.begin(), devices.end(),
                             [](const TSerialDeviceInfo& a, const TSerialDeviceInfo& b) { return a.Path < b.Path; }));
  for (const TSerialDeviceInfo& device : devices) {
    struct stat st {};
    EXPECT_TRUE(stat(device.Path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << device.Path;
    EXPECT_EQ(device.Path.rfind("/dev/pts/", 0), std::string::npos) << device.Path;
    EXPECT_NE(device.Path, "/dev/tty");
    EXPECT_NE(device.Path, "/dev/console");
    EXPECT_EQ(device.UsbVendorId.empty(), device.UsbProductId.empty()) << device.Path;
    // A built-in port is listed only where a UART answers.
    const std::string name = device.Path.substr(device.Path.find_last_of('/') + 1);
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int uart = -1;
    if (name.rfind("ttyS", 0) == 0 && (type >> uart)) {
      EXPECT_NE(uart, 0) << device.Path;
    }
  }
}
