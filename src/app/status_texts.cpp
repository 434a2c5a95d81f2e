#include "app/status_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillon {

namespace {
constexpr double kFloorDb = -60.0;

std::string hex4(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%04llX", static_cast<unsigned long long>(value));
  return text;
}
}  // namespace

std::string engineText(const HostStatus& status) {
  return status.engineConnected ? "Connected" : "Waiting for the engine";
}

std::string recordingText(const HostStatus& status) {
  if (!status.recording) return "Idle";
  return status.paused ? "Recording, paused" : "Recording";
}

std::string sourcesText(const HostStatus& status) {
  if (!status.recording) return "None";
  return status.microphone ? "Microphone and system audio" : "System audio only";
}

std::string portText(const SerialPortStatus& port) {
  std::string text = port.path;
  if (port.usb) text += " (VID " + hex4(port.usb->vendor) + ", PID " + hex4(port.usb->product) + ")";
  if (port.open) text += ", open";
  return text;
}

std::string logText(const HostStatus& status) { return status.logEnabled ? "On" : "Off"; }

std::string elapsedText(std::chrono::milliseconds elapsed) {
  const long long seconds = std::max<long long>(0, elapsed.count() / 1000);
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

std::string windowTitle(const std::string& applicationName, const HostStatus& status) {
  if (!status.recording) return applicationName;
  return applicationName + (status.paused ? " — Recording paused" : " — Recording");
}

double levelFraction(float peak) {
  if (!(peak > 0.0f)) return 0.0;
  const double db = 20.0 * std::log10(static_cast<double>(peak));
  return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

std::optional<Notice> recordingNotice(const std::string& applicationName, const HostStatus& before,
                                      const HostStatus& now) {
  if (!before.recording && now.recording) {
    const std::string what = now.microphone ? "the microphone and the system audio" : "the system audio";
    return Notice{applicationName + " is recording", "Recording " + what + " into " + now.folder};
  }
  if (before.recording && !now.recording) {
    return Notice{applicationName + " stopped recording",
                  "Recorded " + elapsedText(before.elapsed) + " into " + before.folder};
  }
  return std::nullopt;
}

}  // namespace quillon
