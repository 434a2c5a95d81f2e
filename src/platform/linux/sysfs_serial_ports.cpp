#include "platform/linux/sysfs_serial_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace quillon {

namespace fs = std::filesystem;

namespace {

std::optional<int64_t> readHexNumber(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 16);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  return value;
}

bool isPlatform8250(const fs::path& ttyEntry) {
  std::error_code ec;
  const fs::path driver = fs::read_symlink(ttyEntry / "device" / "driver", ec);
  return !ec && driver.filename() == "serial8250";
}

}  // namespace

bool isPlaceholderUart(const std::string& devicePath) {
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool placeholder = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  close(fd);
  return placeholder;
}

SysfsSerialPorts::SysfsSerialPorts(fs::path sysRoot, fs::path devRoot, PlaceholderProbe probe)
    : sysRoot_(std::move(sysRoot)),
      devRoot_(std::move(devRoot)),
      probe_(probe ? std::move(probe) : PlaceholderProbe(isPlaceholderUart)) {}

bool SysfsSerialPorts::isPort(const std::string& name) const {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return false;
  }
  std::error_code ec;
  const fs::path entry = ttyClass() / name;
  if (!fs::exists(entry / "device", ec)) return false;
  if (!fs::exists(devRoot_ / name, ec)) return false;
  return !(isPlatform8250(entry) && probe_(devicePath(name)));
}

std::vector<std::string> SysfsSerialPorts::portNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(ttyClass(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (isPort(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string SysfsSerialPorts::devicePath(const std::string& name) const {
  return (devRoot_ / name).string();
}

std::optional<std::string> SysfsSerialPorts::nameOfDevicePath(const std::string& path) const {
  const std::string prefix = devRoot_.string() + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  std::string name = path.substr(prefix.size());
  if (name.find('/') != std::string::npos) return std::nullopt;
  return name;
}

std::optional<UsbIdentifiers> SysfsSerialPorts::usbIdentifiers(const std::string& name) const {
  std::error_code ec;
  const fs::path top = fs::canonical(sysRoot_, ec);
  if (ec) return std::nullopt;
  fs::path dir = fs::canonical(ttyClass() / name / "device", ec);
  if (ec) return std::nullopt;
  // Stay inside the sysfs root: a link leading out of it ends the search.
  while (dir != top && dir.has_relative_path() &&
         dir.string().compare(0, top.string().size(), top.string()) == 0) {
    if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
      const auto vendor = readHexNumber(dir / "idVendor");
      const auto product = readHexNumber(dir / "idProduct");
      if (!vendor || !product) return std::nullopt;
      return UsbIdentifiers{*vendor, *product};
    }
    dir = dir.parent_path();
  }
  return std::nullopt;
}

int SysfsSerialPorts::classFolderError() const {
  std::error_code ec;
  fs::directory_iterator probe(ttyClass(), ec);
  return ec ? (ec.value() != 0 ? ec.value() : EIO) : 0;
}

}  // namespace quillon
