#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port_registry.h"

namespace quillon {

struct SerialPortStatus {
  std::string path;
  // Empty when no USB device with identifiers sits above the port.
  std::optional<UsbIdentifiers> usb;
  bool open = false;
};

// What the window's status view shows: one reading of the host's state,
// taken on the main thread.
struct HostStatus {
  bool engineConnected = false;
  std::string socketPath;

  bool recording = false;
  bool paused = false;
  bool microphone = false;  // whether the microphone takes part
  std::chrono::milliseconds elapsed{0};
  std::string folder;
  std::string wavPath;
  std::string opusPath;
  // Peak magnitudes, 0 (silence) to 1 (full scale).
  float microphoneLevel = 0.0f;
  float systemAudioLevel = 0.0f;

  std::vector<SerialPortStatus> ports;

  std::string logFolder;
  bool logEnabled = false;
};

}  // namespace quillon
