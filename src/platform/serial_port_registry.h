#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// A serial port appearing (added) or going away (removed), by its device path.
struct SerialPortChange {
  std::string path;
  bool added = false;
};

// A running watch of port arrivals and removals. Changes that happen after the
// watch was created are delivered by waitForChanges.
class SerialPortWatch {
 public:
  virtual ~SerialPortWatch() = default;
  // Blocks until changes are available, timeout passes or interrupt() is
  // called; answers the changes in the order they happened (possibly none).
  virtual std::vector<SerialPortChange> waitForChanges(std::chrono::milliseconds timeout) = 0;
  // Safe from any thread: makes a running or the next waitForChanges return.
  virtual void interrupt() = 0;
};

// Vendor and product identifiers as the registry holds them; they may be wider
// than 16 bits.
struct UsbIdentifiers {
  int64_t vendor = 0;
  int64_t product = 0;
};

struct UsbIdentifierLookup {
  // Non-zero (an errno value) when the ports could not be searched at all.
  int errorCode = 0;
  // One entry per port whose path equals the asked path exactly; empty when
  // no port has it. An entry is empty when no USB device with identifiers
  // was found above the port.
  std::vector<std::optional<UsbIdentifiers>> matches;
};

// The system's serial ports: which exist, which come and go, and which USB
// device sits behind each.
class SerialPortRegistry {
 public:
  virtual ~SerialPortRegistry() = default;
  virtual std::vector<std::string> presentPorts() = 0;
  // Null when watching cannot be set up (the cause is logged).
  virtual std::unique_ptr<SerialPortWatch> watchChanges() = 0;
  virtual UsbIdentifierLookup lookUpUsbIdentifiers(const std::string& path) = 0;
};

// The registry of the running system.
std::shared_ptr<SerialPortRegistry> makeSystemSerialPortRegistry();

}  // namespace quillon
