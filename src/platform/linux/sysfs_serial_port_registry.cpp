#include "platform/linux/sysfs_serial_port_registry.h"

#include "platform/linux/inotify_serial_port_watch.h"

namespace quillon {

SysfsSerialPortRegistry::SysfsSerialPortRegistry(std::filesystem::path sysRoot,
                                                 std::filesystem::path devRoot,
                                                 SysfsSerialPorts::PlaceholderProbe probe)
    : devRoot_(devRoot), ports_(std::move(sysRoot), std::move(devRoot), std::move(probe)) {}

std::vector<std::string> SysfsSerialPortRegistry::presentPorts() {
  std::vector<std::string> paths;
  for (const auto& name : ports_.portNames()) paths.push_back(ports_.devicePath(name));
  return paths;
}

std::unique_ptr<SerialPortWatch> SysfsSerialPortRegistry::watchChanges() {
  return InotifySerialPortWatch::create(ports_, devRoot_.string());
}

UsbIdentifierLookup SysfsSerialPortRegistry::lookUpUsbIdentifiers(const std::string& path) {
  UsbIdentifierLookup lookup;
  lookup.errorCode = ports_.classFolderError();
  if (lookup.errorCode != 0) return lookup;
  const auto name = ports_.nameOfDevicePath(path);
  if (name && ports_.isPort(*name)) lookup.matches.push_back(ports_.usbIdentifiers(*name));
  return lookup;
}

std::shared_ptr<SerialPortRegistry> makeSystemSerialPortRegistry() {
  return std::make_shared<SysfsSerialPortRegistry>();
}

}  // namespace quillon
