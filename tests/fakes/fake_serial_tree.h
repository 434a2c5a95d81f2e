#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace quillon::test {

// A sysfs and /dev stand-in under a folder: directories and symlinks shaped
// like the kernel's, plain files in place of device nodes.
class FakeSerialTree {
 public:
  using Path = std::filesystem::path;

  explicit FakeSerialTree(const Path& root) : root_(root) {
    std::filesystem::create_directories(sysRoot() / "class" / "tty");
    std::filesystem::create_directories(devRoot());
  }

  Path sysRoot() const { return root_ / "sys"; }
  Path devRoot() const { return root_ / "dev"; }
  std::string devicePath(const std::string& name) const { return (devRoot() / name).string(); }

  // CDC-ACM: the tty's device is the USB interface, whose parent USB device
  // holds idVendor/idProduct (hex text as given). Without a node, createNode
  // adds it later.
  void addAcmPort(const std::string& name, const std::string& vendor, const std::string& product,
                  bool withNode = true) {
    linkTty(name, addUsbDevice(vendor, product), withNode);
  }
  // A USB-serial converter: the tty's device sits one level below the interface.
  void addConverterPort(const std::string& name, const std::string& vendor, const std::string& product) {
    linkTty(name, addUsbDevice(vendor, product) / name);
  }
  // A platform UART with the given driver, no USB device above it.
  void addPlatformPort(const std::string& name, const std::string& driver) {
    const Path device = sysRoot() / "devices" / "platform" / ("uart-" + name);
    const Path driverFolder = sysRoot() / "bus" / "platform" / "drivers" / driver;
    linkTty(name, device);
    std::filesystem::create_directories(driverFolder);
    std::filesystem::create_directory_symlink(driverFolder, device / "driver");
  }
  // A tty without a device link (virtual consoles).
  void addVirtualTty(const std::string& name) {
    const Path ttyFolder = sysRoot() / "devices" / "virtual" / "tty" / name;
    std::filesystem::create_directories(ttyFolder);
    std::filesystem::create_directory_symlink(ttyFolder, sysRoot() / "class" / "tty" / name);
    createNode(name);
  }
  void createNode(const std::string& name) { std::ofstream(devRoot() / name).flush(); }
  // Removes the node first, then the sysfs entry, as the kernel does.
  void removePort(const std::string& name) {
    std::filesystem::remove(devRoot() / name);
    const Path classEntry = sysRoot() / "class" / "tty" / name;
    const Path ttyFolder = std::filesystem::read_symlink(classEntry);
    std::filesystem::remove(classEntry);
    std::filesystem::remove_all(ttyFolder);
  }

 private:
  // A USB device on a bus of its own; returns its interface folder.
  Path addUsbDevice(const std::string& vendor, const std::string& product) {
    const std::string bus = std::to_string(nextBus_++);
    const Path usbDevice = sysRoot() / "devices" / "pci0000:00" / ("usb" + bus) / (bus + "-1");
    std::filesystem::create_directories(usbDevice / (bus + "-1:1.0"));
    std::ofstream(usbDevice / "idVendor") << vendor << "\n";
    std::ofstream(usbDevice / "idProduct") << product << "\n";
    return usbDevice / (bus + "-1:1.0");
  }
  void linkTty(const std::string& name, const Path& deviceFolder, bool withNode = true) {
    const Path ttyFolder = deviceFolder / "tty" / name;
    std::filesystem::create_directories(ttyFolder);
    std::filesystem::create_directory_symlink(deviceFolder, ttyFolder / "device");
    std::filesystem::create_directory_symlink(ttyFolder, sysRoot() / "class" / "tty" / name);
    if (withNode) createNode(name);
  }

  Path root_;
  int nextBus_ = 1;
};

}  // namespace quillon::test
