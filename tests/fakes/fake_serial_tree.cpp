#include "fakes/fake_serial_tree.h"

#include <fstream>

namespace quillon::test {

namespace fs = std::filesystem;

namespace {
void writeText(const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }
}  // namespace

FakeSerialTree::FakeSerialTree(const fs::path& root) : root_(root) {
  fs::create_directories(sysRoot() / "class" / "tty");
  fs::create_directories(sysRoot() / "devices");
  fs::create_directories(sysRoot() / "bus" / "platform" / "drivers");
  fs::create_directories(devRoot());
}

void FakeSerialTree::linkTty(const std::string& name, const fs::path& deviceFolder) {
  const fs::path ttyFolder = deviceFolder / "tty" / name;
  fs::create_directories(ttyFolder);
  fs::create_directory_symlink(deviceFolder, ttyFolder / "device");
  fs::create_directory_symlink(ttyFolder, sysRoot() / "class" / "tty" / name);
}

void FakeSerialTree::addAcmPortWithoutNode(const std::string& name, const std::string& vendor,
                                           const std::string& product) {
  const int bus = nextBus_++;
  const fs::path usbDevice =
      sysRoot() / "devices" / "pci0000:00" / ("usb" + std::to_string(bus)) /
      (std::to_string(bus) + "-1");
  const fs::path interface = usbDevice / (std::to_string(bus) + "-1:1.0");
  fs::create_directories(interface);
  writeText(usbDevice / "idVendor", vendor);
  writeText(usbDevice / "idProduct", product);
  linkTty(name, interface);
}

void FakeSerialTree::addAcmPort(const std::string& name, const std::string& vendor,
                                const std::string& product) {
  addAcmPortWithoutNode(name, vendor, product);
  createNode(name);
}

void FakeSerialTree::addConverterPort(const std::string& name, const std::string& vendor,
                                      const std::string& product) {
  const int bus = nextBus_++;
  const fs::path usbDevice =
      sysRoot() / "devices" / "pci0000:00" / ("usb" + std::to_string(bus)) /
      (std::to_string(bus) + "-2");
  const fs::path converter = usbDevice / (std::to_string(bus) + "-2:1.0") / name;
  fs::create_directories(converter);
  writeText(usbDevice / "idVendor", vendor);
  writeText(usbDevice / "idProduct", product);
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
