#pragma once

#include <functional>
#include <string>

namespace quillon {

// Diagnostics that go to the system log rather than the day log file.
// Replaceable so tests can read them.
using SystemLogWriter = std::function<void(const std::string& line)>;
void setSystemLogWriter(SystemLogWriter writer);  // empty restores the default
// The default: syslog(3), and standard error when no syslog daemon listens.
void writeToSystemLog(const std::string& line);
void systemLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quillon
