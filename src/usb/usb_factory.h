#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port_registry.h"
#include "usb/serial_status.h"
#include "usb/usb_watcher.h"

namespace quillon {

// The host's link to the recorder's USB serial port: one open descriptor per
// path, raw and hexadecimal sends, reads that end on a short silence, and a
// self-contained send-and-collect exchange. Every operation blocks its caller;
// calls on one instance must not overlap. Each instance has its own ports and
// its own hot-plug watcher.
class UsbFactory {
 public:
  // nullptr: the system's registry.
  explicit UsbFactory(std::shared_ptr<SerialPortRegistry> registry = nullptr);
  // Closes the ports still open, so their descriptors do not leak.
  ~UsbFactory();
  UsbFactory(const UsbFactory&) = delete;
  UsbFactory& operator=(const UsbFactory&) = delete;

  bool open(const std::string& path);
  void close(const std::string& path);
  std::string sendUsbBytesData(const std::string& path, const std::vector<uint8_t>& bytes);
  std::string sendUsbHexData(const std::string& path, const std::string& hexData);
  std::vector<uint8_t> readBytesData(const std::string& path);
  std::string readHexData(const std::string& path);
  std::string sendUsbBytesAndReadHex(const std::string& path, const std::vector<uint8_t>& bytes);
  // timeoutMs above 2147483 is taken as 2147483.
  std::string sendUsbHexDataAndClose(const std::string& path, const std::string& hexData,
                                     int32_t timeoutMs, const std::string& trace);

  // The same operations for callers that may have no path or text at all (the
  // C surface). A null path acts as one that cannot be opened or is not open
  // and shows as "(null)" in the log; null text is empty text.
  bool open(const std::string* path);
  void close(const std::string* path);
  std::string sendUsbBytesData(const std::string* path, const std::vector<uint8_t>& bytes);
  std::string sendUsbHexData(const std::string* path, const std::string* hexData);
  std::vector<uint8_t> readBytesData(const std::string* path);
  std::string readHexData(const std::string* path);
  std::string sendUsbBytesAndReadHex(const std::string* path, const std::vector<uint8_t>& bytes);
  std::string sendUsbHexDataAndClose(const std::string* path, const std::string* hexData,
                                     int32_t timeoutMs, const std::string* trace);

  static std::vector<uint8_t> hexStringToData(const std::string& text);
  static std::string dataToHexString(const std::vector<uint8_t>& bytes);

  // Replaces the callback, then starts the watcher (a no-op when it runs).
  // The callback runs on the watcher thread.
  void startUsbChangedMonitor(std::function<void(const std::string& path, bool added)> callback);
  // The callback stays stored.
  void stopUsbChangedMonitor();
  // True with both identifiers stored (their low 16 bits) when path is exactly
  // a serial port's path with a USB device above it; otherwise false with the
  // identifiers untouched.
  bool getVidPid(const char* path, uint16_t* vid, uint16_t* pid);

  // The paths of the ports this instance holds open, in path order.
  std::vector<std::string> openPaths() const;

 private:
  int descriptorOf(const std::string* path) const;

  std::shared_ptr<SerialPortRegistry> registry_;
  std::unique_ptr<UsbWatcher> watcher_;
  std::map<std::string, int> openFds_;
};

}  // namespace quillon
