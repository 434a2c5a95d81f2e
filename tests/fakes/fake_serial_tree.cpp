#include "fakes/fake_serial_tree.h"

#include <fstream>

namespace quillon::test {

namespace fs = std::filesystem;

FakeSerialTree::FakeSerialTree(const fs::path& root) : root_(root) {
  fs::create_directories(sysRoot() / "class" / "tty");
  fs::create_directories(sysRoot() / "bus" / "platform" / "drivers");
  fs::create_directories(devRoot());
}

void FakeSerialTree::linkTty(const std::string& name, const fs::path& deviceFolder) {
  const fs::path ttyFolder = deviceFolder / "tty" / name;
  fs::create_directories(ttyFolder);
  fs::create_directory_symlink(deviceFolder, ttyFolder / "device");
  fs::create_directory_symlink(ttyFolder, sysRoot() / "class" / "tty" / name);
}

// A USB device on a bus of its own; returns its interface folder.
fs::path FakeSerialTree::addUsbDevice(const std::string& port, const std::string& vendor,
                                      const std::string& product) {
  const std::string bus = std::to_string(nextBus_++);
  const fs::path usbDevice = sysRoot() / "devices" / "pci0000:00" / ("usb" + bus) / (bus + "-" + port);
  const fs::path interface = usbDevice / (bus + "-" + port + ":1.0");
  fs::create_directories(interface);
  std::ofstream(usbDevice / "idVendor") << vendor << "\n";
  std::ofstream(usbDevice / "idProduct") << product << "\n";
  return interface;
}

void FakeSerialTree::addAcmPort(const std::string& name, const std::string& vendor, const std::string& product,
                                bool withNode) {
  linkTty(name, addUsbDevice("1", vendor, product));
  if (withNode) createNode(name);
}

void FakeSerialTree::addConverterPort(const std::string& name, const std::string& vendor,
                                      const std::string& product) {
  const fs::path converter = addUsbDevice("2", vendor, product) / name;
  fs::create_directories(converter);
  linkTty(name, converter);
  createNode(name);
}

void FakeSerialTree::addPlatformPort(const std::string& name, const std::string& driver) {
  const fs::path device = sysRoot() / "devices" / "platform" / ("uart-" + name);
  const fs::path driverFolder = sysRoot() / "bus" / "platform" / "drivers" / driver;
  fs::create_directories(device);
  fs::create_directories(driverFolder);
  fs::create_directory_symlink(driverFolder, device / "driver");
  linkTty(name, device);
  createNode(name);
}

void FakeSerialTree::addVirtualTty(const std::string& name) {
  const fs::path ttyFolder = sysRoot() / "devices" / "virtual" / "tty" / name;
  fs::create_directories(ttyFolder);
  fs::create_directory_symlink(ttyFolder, sysRoot() / "class" / "tty" / name);
  createNode(name);
}

void FakeSerialTree::createNode(const std::string& name) { std::ofstream(devRoot() / name).flush(); }

void FakeSerialTree::removePort(const std::string& name) {
  fs::remove(devRoot() / name);
  const fs::path classEntry = sysRoot() / "class" / "tty" / name;
  std::error_code ec;
  const fs::path ttyFolder = fs::read_symlink(classEntry, ec);
  fs::remove(classEntry);
  if (!ec) fs::remove_all(ttyFolder);
}

}  // namespace quillon::test
