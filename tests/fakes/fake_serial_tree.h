#pragma once

#include <filesystem>
#include <string>

namespace quillon::test {

// A sysfs and /dev stand-in under a folder: directories and symlinks shaped
// like the kernel's, plain files in place of device nodes.
class FakeSerialTree {
 public:
  explicit FakeSerialTree(const std::filesystem::path& root);

  std::filesystem::path sysRoot() const { return root_ / "sys"; }
  std::filesystem::path devRoot() const { return root_ / "dev"; }
  std::string devicePath(const std::string& name) const { return (devRoot() / name).string(); }

  // CDC-ACM: the tty's device is the USB interface, whose parent USB device
  // holds idVendor/idProduct (hex text as given). Without a node, createNode
  // adds it later.
  void addAcmPort(const std::string& name, const std::string& vendor, const std::string& product,
                  bool withNode = true);
  // A USB-serial converter: the tty's device sits one level below the interface.
  void addConverterPort(const std::string& name, const std::string& vendor, const std::string& product);
  // A platform UART with the given driver, no USB device above it.
  void addPlatformPort(const std::string& name, const std::string& driver);
  // A tty without a device link (virtual consoles).
  void addVirtualTty(const std::string& name);
  void createNode(const std::string& name);
  // Removes the node first, then the sysfs entry, as the kernel does.
  void removePort(const std::string& name);

 private:
  std::filesystem::path addUsbDevice(const std::string& port, const std::string& vendor,
                                     const std::string& product);
  void linkTty(const std::string& name, const std::filesystem::path& deviceFolder);

  std::filesystem::path root_;
  int nextBus_ = 1;
};

}  // namespace quillon::test
