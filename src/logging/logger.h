#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace quillon {

// The process-wide log. Lines are built on the caller's thread (so the
// timestamp is the moment of the call) and written by one background writer,
// which keeps them in order and covers each burst with a single sync. A caller
// never waits on the disk.
class Logger {
 public:
  using Clock = std::chrono::system_clock;
  // Where lines are echoed besides the day file: syslog(3), and standard error
  // when no syslog daemon listens. Tests replace it.
  using SystemLogSink = std::function<void(const std::string& line)>;

  static Logger& shared();

  Logger();
  explicit Logger(SystemLogSink systemLog);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // A null path means the "logs" folder of the user's documents folder.
  void configure(const std::optional<std::string>& path, bool logEnable);

  void debugWithTag(std::string_view tag, std::string_view message);
  void infoWithTag(std::string_view tag, std::string_view message);
  void warningWithTag(std::string_view tag, std::string_view message);
  void errorWithTag(std::string_view tag, std::string_view message);

  // printf-style; strings are passed as "%s" with c_str().
  void debug(std::string_view tag, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void info(std::string_view tag, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void warning(std::string_view tag, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void error(std::string_view tag, const char* format, ...) __attribute__((format(printf, 3, 4)));

  void logger(std::string_view level, std::string_view tag, std::string_view message);
  std::string makeLogStringWithLevel(std::string_view level, std::string_view tag,
                                     std::string_view message) const;

  void bindDeviceSn(std::string_view deviceSn);
  void unbindDeviceSn();
  void bindUserId(std::string_view userId);
  void unbindUserId();

  void clearLogs();

  // Local midnight of today.
  static Clock::time_point currentDateOnly();
  void switchToLogFileForDate(Clock::time_point date);

  // Blocks until every line queued before the call has been written and
  // synced. For orderly shutdown and tests; never called on the audio path.
  void flush();

  bool logEnabled() const;
  // Whether configure was ever called on this logger, enabling or not.
  bool configured() const;
  std::string logDirectory() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Formats printf-style into a std::string; shared by the logger's format family.
std::string formatString(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quillon
