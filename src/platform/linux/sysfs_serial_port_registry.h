#pragma once

#include <filesystem>

#include "platform/linux/sysfs_serial_ports.h"
#include "platform/serial_port_registry.h"

namespace quillon {

// Serial ports from sysfs, arrivals and removals from inotify on the device folder.
class SysfsSerialPortRegistry : public SerialPortRegistry {
 public:
  SysfsSerialPortRegistry(std::filesystem::path sysRoot = "/sys",
                          std::filesystem::path devRoot = "/dev",
                          SysfsSerialPorts::PlaceholderProbe probe = {});

  std::vector<std::string> presentPorts() override;
  std::unique_ptr<SerialPortWatch> watchChanges() override;
  UsbIdentifierLookup lookUpUsbIdentifiers(const std::string& path) override;

 private:
  std::filesystem::path devRoot_;
  SysfsSerialPorts ports_;
};

}  // namespace quillon
