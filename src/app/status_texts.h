#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/host_status.h"

namespace quillon {

// The texts of the status view, the window title and the recording
// notifications; toolkit-free so that they are the same wherever shown.
std::string engineText(const HostStatus& status);
std::string recordingText(const HostStatus& status);
std::string sourcesText(const HostStatus& status);
std::string portText(const SerialPortStatus& port);
std::string logText(const HostStatus& status);
// "0:05", "12:34", "1:02:03".
std::string elapsedText(std::chrono::milliseconds elapsed);
std::string windowTitle(const std::string& applicationName, const HostStatus& status);

// A level bar's fill for a peak magnitude: decibels from -60 dBFS (empty) to
// 0 dBFS (full), so that speech shows well above the floor.
double levelFraction(float peak);

struct Notice {
  std::string title;
  std::string body;
};
// What to tell the user when a recording starts or stops between two
// readings; nothing otherwise.
std::optional<Notice> recordingNotice(const std::string& applicationName, const HostStatus& before,
                                      const HostStatus& now);

}  // namespace quillon
