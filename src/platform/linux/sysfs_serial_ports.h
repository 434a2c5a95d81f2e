#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port_registry.h"

namespace quillon {

// Which tty names under a sysfs root are serial ports, and what sits above
// them. Both roots are parameters so tests can lay out a tree of their own.
class SysfsSerialPorts {
 public:
  // Answers true when the 8250 UART behind the device node is only a
  // placeholder (the driver reports type PORT_UNKNOWN for it).
  using PlaceholderProbe = std::function<bool(const std::string& devicePath)>;

  SysfsSerialPorts(std::filesystem::path sysRoot, std::filesystem::path devRoot,
                   PlaceholderProbe probe = {});

  // A tty is a port when sysfs gives it a device link, its device node exists
  // and it is not a placeholder UART.
  bool isPort(const std::string& name) const;
  std::vector<std::string> portNames() const;
  std::string devicePath(const std::string& name) const;
  // The tty name of a device path directly inside the device root, if any.
  std::optional<std::string> nameOfDevicePath(const std::string& path) const;
  // Walks up from the port's device through its parents to the first folder
  // holding both idVendor and idProduct. Empty when there is none or its
  // values are not hexadecimal numbers.
  std::optional<UsbIdentifiers> usbIdentifiers(const std::string& name) const;
  // Non-zero errno when the tty class folder cannot be read.
  int classFolderError() const;

 private:
  std::filesystem::path ttyClass() const { return sysRoot_ / "class" / "tty"; }

  std::filesystem::path sysRoot_;
  std::filesystem::path devRoot_;
  PlaceholderProbe probe_;
};

// Opens the node without waiting for carrier and asks TIOCGSERIAL.
bool isPlaceholderUart(const std::string& devicePath);

}  // namespace quillon
