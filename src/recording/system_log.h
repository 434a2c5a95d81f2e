#pragma once

#include <functional>
#include <string>

namespace quillon {

// The few recording diagnostics that go to the system log rather than the day
// log file (duration look-ups, the SBC writer). By default they go to
// syslog(3), and to standard error when no syslog daemon listens; tests put a
// sink of their own in its place.
class SystemLog {
 public:
  using Sink = std::function<void(const std::string& line)>;

  static void write(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // An empty sink restores the default.
  static void setSink(Sink sink);
};

}  // namespace quillon
