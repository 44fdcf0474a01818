#include "serial/DeviceMap.h"

#include "serial/RelayClaim.h"
#include "serial/SettingsRegistry.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString devicesGroup = QStringLiteral("Software/Parvelco/Quorlink Simulator/Devices");

QString comKey(int portNumber) { return devicesGroup + QStringLiteral("/COM%1").arg(portNumber); }
// When the user last chose the device of a COM number (ns since the epoch):
// claims made before it give way to the choice.
QString chosenKey(int portNumber) { return devicesGroup + QStringLiteral("/COM%1Chosen").arg(portNumber); }

long long nowNs() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool isCharDevice(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Names under /dev that are serial ports even when /sys tells nothing.
bool hasSerialPrefix(const std::string& name) {
  static const char* const prefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
  for (const char* prefix : prefixes)
    if (startsWith(name, prefix) && name.size() > std::char_traits<char>::length(prefix)) return true;
  return false;
}

const char* uartName(int type) {
  switch (type) {
  case PORT_8250: return "8250";
  case PORT_16450: return "16450";
  case PORT_16550: return "16550";
  case PORT_16550A: return "16550A";
  case PORT_16650: return "16650";
  case PORT_16650V2: return "16650V2";
  case PORT_16750: return "16750";
  case PORT_16850: return "16850";
  case PORT_16C950: return "16C950";
  default: return nullptr;
  }
}

// The UART type of a serial-core port: from /sys, else from the driver.
// -1 when this is no serial-core port or nothing can tell.
int uartType(const std::string& name) {
  const std::string text = firstLine("/sys/class/tty/" + name + "/type");
  if (!text.empty()) {
    char* end = nullptr;
    const long type = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str()) return static_cast<int>(type);
  }
  if (!startsWith(name, "ttyS")) return -1;
  const int fd = open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  serial_struct info{};
  const int result = ioctl(fd, TIOCGSERIAL, &info) == 0 ? info.type : -1;
  close(fd);
  return result;
}

void describe(TSerialDeviceInfo& info, const std::string& name, int type) {
  const std::string device = realPath("/sys/class/tty/" + name + "/device");
  // A USB adapter: the USB device is the nearest parent with vendor and product ids.
  for (std::string dir = device; !dir.empty() && dir != "/sys/devices"; dir = parentOf(dir)) {
    const std::string vendor = firstLine(dir + "/idVendor");
    if (vendor.empty()) continue;
    info.UsbVendorId = vendor;
    info.UsbProductId = firstLine(dir + "/idProduct");
    const std::string product = firstLine(dir + "/product");
    const std::string manufacturer = firstLine(dir + "/manufacturer");
    if (!product.empty() && !manufacturer.empty())
      info.Description = product + " (" + manufacturer + ")";
    else
      info.Description = !product.empty() ? product : manufacturer;
    if (info.Description.empty()) info.Description = "USB serial adapter";
    return;
  }
  if (startsWith(name, "rfcomm")) {
    info.Description = "Bluetooth serial port";
  } else if (const char* uart = uartName(type)) {
    info.Description = std::string("Serial port (") + uart + " UART)";
  } else if (!device.empty()) {
    const std::string driver = baseName(realPath(device + "/driver"));
    if (!driver.empty()) info.Description = "Serial port (" + driver + ")";
  }
}

}  // namespace

std::vector<TSerialDeviceInfo> ListSerialDevices() {
  std::vector<std::string> names;
  // Terminals backed by hardware have a device below /sys; virtual consoles
  // and pseudo-terminals have none.
  for (const std::string& name : entriesOf("/sys/class/tty"))
    if (exists("/sys/class/tty/" + name + "/device")) names.push_back(name);
  for (const std::string& name : entriesOf("/dev"))
    if (hasSerialPrefix(name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());

  std::vector<TSerialDeviceInfo> devices;
  for (const std::string& name : names) {
    const std::string path = "/dev/" + name;
    if (!isCharDevice(path)) continue;
    const int type = uartType(name);
    // Serial-core drivers register ports whether or not a UART answers there.
    if (type == PORT_UNKNOWN) continue;
    if (type < 0 && startsWith(name, "ttyS")) continue;
    TSerialDeviceInfo info;
    info.Path = path;
    describe(info, name, type);
    devices.push_back(std::move(info));
  }

  // Stable names for USB adapters, which keep them whatever order they were plugged in.
  const std::vector<TSerialDeviceInfo> found = devices;
  for (const std::string& link : entriesOf("/dev/serial/by-id")) {
    const std::string path = "/dev/serial/by-id/" + link;
    const std::string target = realPath(path);
    const auto match =
        std::find_if(found.begin(), found.end(), [&](const TSerialDeviceInfo& d) { return d.Path == target; });
    if (match == found.end()) continue;
    TSerialDeviceInfo info = *match;
    info.Path = path;
    devices.push_back(std::move(info));
  }

  std::sort(devices.begin(), devices.end(),
            [](const TSerialDeviceInfo& a, const TSerialDeviceInfo& b) { return a.Path < b.Path; });
  return devices;
}

std::string DefaultComDevicePath(int portNumber) {
  if (portNumber < 1 || portNumber > 4) return {};
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string TComMapping::Notice(int portNumber) const {
  if (EndedPid == 0) return {};
  return "COM" + std::to_string(portNumber) + " was mapped to a virtual null-modem port that has ended (" + EndedPath +
         ", process " + std::to_string(EndedPid) + "); COM" + std::to_string(portNumber) + " is " + Path + " now.";
}

TComMapping ResolveComPort(int portNumber) {
  TComMapping mapping;
  if (portNumber < 1 || portNumber > 4) return mapping;
  QString stored;
  long long chosen = 0;
  {
    const SettingsFile file(SettingsFile::Use::Read);
    if (const QSettings* settings = file.Settings()) {
      const QVariant value = settings->value(comKey(portNumber));
      // A path with a comma comes back as a list.
      stored = value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString();
      chosen = settings->value(chosenKey(portNumber)).toLongLong();
    }
  }
  mapping.Path = stored.isEmpty() ? DefaultComDevicePath(portNumber) : stored.toStdString();
  mapping.Source = stored.isEmpty() ? TComMapping::Default : TComMapping::Stored;

  // A null-modem's port chosen by hand lives and dies with its relay as well.
  const std::string claim = RelayClaims::ClaimOf(mapping.Path);
  if (!claim.empty()) {
    const long pid = std::strtol(mapping.Path.c_str() + mapping.Path.find_last_of('-') + 1, nullptr, 10);
    if (RelayClaims::TWitness(claim).Live()) {
      mapping.Source = TComMapping::Relay;
      mapping.RelayPid = pid;
      mapping.ClaimPath = claim;
    } else {
      mapping.EndedPath = mapping.Path;
      mapping.EndedPid = pid;
      mapping.Path = DefaultComDevicePath(portNumber);
      mapping.Source = TComMapping::Default;
    }
  }

  // Newest first: a claim older than the user's choice has given way to it.
  bool passedOver = false;
  for (const TRelayPort& port : RelayClaims::Find(portNumber)) {
    if (port.Since <= chosen) break;
    if (!port.Live) {
      if (!passedOver) {
        mapping.EndedPid = port.Pid;
        mapping.EndedPath = port.DevicePath;
        passedOver = true;
      }
      continue;
    }
    if (!passedOver) mapping.EndedPid = 0;  // the stored choice no longer matters
    mapping.Path = port.DevicePath;
    mapping.Source = TComMapping::Relay;
    mapping.RelayPid = port.Pid;
    mapping.ClaimPath = port.ClaimPath;
    break;
  }
  if (mapping.EndedPid == 0) mapping.EndedPath.clear();
  return mapping;
}

std::string ComDevicePath(int portNumber) { return ResolveComPort(portNumber).Path; }

bool SetComDevicePath(int portNumber, const std::string& path) {
  if (portNumber < 1 || portNumber > 4) return false;
  // Ok in the port dialog with the device left as shown: nothing was chosen.
  if (path == ComDevicePath(portNumber) ||
      (path.empty() && ComDevicePath(portNumber) == DefaultComDevicePath(portNumber)))
    return true;
  SettingsFile file(SettingsFile::Use::Write);
  QSettings* const settings = file.Settings();
  if (!settings || !settings->isWritable()) return false;
  if (path.empty())
    settings->remove(comKey(portNumber));
  else
    settings->setValue(comKey(portNumber), QString::fromStdString(path));
  settings->setValue(chosenKey(portNumber), nowNs());
  return file.Commit();
}
