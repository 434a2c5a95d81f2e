#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/host_status.h"
#include "platform/main_thread.h"
#include "platform/serial_port_registry.h"

namespace quillon {

class NativeAudioFactory;
class UsbFactory;
class UsbWatcher;

// Gathers the host's state for the status view from what the host already
// keeps: the engine link, the recording facade and its level numbers, the USB
// factory's open ports, the day log, and a port watcher of its own whose
// arrivals and removals are posted to the main thread. Main thread only, apart
// from the watcher's thread, which touches nothing but a posted copy.
class StatusMonitor {
 public:
  using Clock = std::chrono::steady_clock;
  struct Sources {
    std::function<bool()> engineConnected;
    std::string socketPath;
    // The current facade and USB factory; either may answer null.
    std::function<const NativeAudioFactory*()> recorder;
    std::function<const UsbFactory*()> usb;
    // Null: no port list.
    std::shared_ptr<SerialPortRegistry> serialPorts;
    std::function<Clock::time_point()> now = Clock::now;
  };

  StatusMonitor(Sources sources, MainThread& mainThread);
  ~StatusMonitor();
  StatusMonitor(const StatusMonitor&) = delete;
  StatusMonitor& operator=(const StatusMonitor&) = delete;

  // One reading; the level numbers are taken (and reset) by it, so levels
  // fall back when a source stops delivering.
  HostStatus sample();

 private:
  struct Ports;
  void trackRecording(bool recording, bool paused, Clock::time_point now);

  Sources sources_;
  std::shared_ptr<Ports> ports_;
  std::unique_ptr<UsbWatcher> watcher_;
  std::optional<Clock::time_point> recordingSince_;
  std::optional<Clock::time_point> pausedSince_;
  Clock::duration pausedTotal_{};
  float microphoneLevel_ = 0.0f;
  float systemAudioLevel_ = 0.0f;
};

}  // namespace quillon
