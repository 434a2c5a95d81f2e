#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/linux/sysfs_serial_ports.h"
#include "platform/serial_port_registry.h"

namespace quillon {

// Watches the device folder with inotify: a created node whose tty is a port
// (per sysfs) is an arrival; a deleted node of a known port is a removal. An
// eventfd lets another thread interrupt the wait.
class InotifySerialPortWatch : public SerialPortWatch {
 public:
  // Null when inotify or the eventfd cannot be set up (logged).
  static std::unique_ptr<InotifySerialPortWatch> create(SysfsSerialPorts ports,
                                                        const std::string& devRoot);
  ~InotifySerialPortWatch() override;

  std::vector<SerialPortChange> waitForChanges(std::chrono::milliseconds timeout) override;
  void interrupt() override;

 private:
  InotifySerialPortWatch(SysfsSerialPorts ports, int inotifyFd, int wakeFd);
  void readEvents(std::vector<SerialPortChange>& changes);
  // After a queue overflow, events were lost: compare with what sysfs says now.
  void resynchronise(std::vector<SerialPortChange>& changes);

  SysfsSerialPorts ports_;
  int inotifyFd_;
  int wakeFd_;
  std::set<std::string> known_;
  // Created and gone again before the create event was read, so never judged
  // a port here; the watch's user may have listed it as one meanwhile. Their
  // removal is reported even if they never were ports: the user drops removals
  // of paths it never had.
  std::set<std::string> vanished_;
};

}  // namespace quillon
