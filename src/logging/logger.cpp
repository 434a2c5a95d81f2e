#include "logging/logger.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <variant>
#include <vector>

#include "platform/system_log.h"

namespace quillon {

namespace {

// The day log's echo bypasses the replaceable writer: tests that replace it
// must not receive every log line.
void defaultSystemLog(const std::string& line) { writeToSystemLog(line); }

std::string formatTimestamp(Logger::Clock::time_point when) {
  const auto sinceEpoch = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
  if (millis < 0) millis += 1000;
  std::time_t t = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&t, &local);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return buffer;
}

std::string formatDay(Logger::Clock::time_point when) {
  std::time_t t = Logger::Clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return buffer;
}

std::string documentsLogsFolder() {
  const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
  if (documents && *documents) return std::string(documents) + "/logs";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/Documents/logs";
}

struct ClearTask {};
struct FlushTask {
  std::shared_ptr<std::promise<void>> done;
};
using Task = std::variant<std::string, ClearTask, FlushTask>;

}  // namespace

struct Logger::State {
  SystemLogSink systemLog;
  std::atomic<bool> logEnabled{false};
  std::atomic<bool> configured{false};

  // Guards the bound identifiers; lines read them under this lock so a
  // concurrent change never shows half a value.
  mutable std::mutex lock;
  std::string deviceSn;
  std::string userId;

  // Guards the file and the directory; held by the writer for a write and its
  // sync, and by configure while it replaces the file.
  mutable std::mutex fileMutex;
  int fd = -1;
  std::string logDirectory;
  Clock::time_point currentLogDate{};

  std::mutex queueMutex;
  std::condition_variable queueChanged;
  std::deque<Task> queue;
  bool stopping = false;
  std::thread writer;

  void closeFileLocked() {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }

  void enqueue(Task task) {
    {
      std::lock_guard guard(queueMutex);
      queue.push_back(std::move(task));
    }
    queueChanged.notify_one();
  }

  void writeBatch(std::deque<Task>& batch) {
    std::vector<std::string> echoes;
    std::vector<std::shared_ptr<std::promise<void>>> flushed;
    {
      std::lock_guard guard(fileMutex);
      bool wrote = false;
      for (auto& task : batch) {
        if (auto* line = std::get_if<std::string>(&task)) {
          // A line queued before logging was switched off is dropped.
          if (!logEnabled.load()) continue;
          if (fd >= 0) {
            const char* data = line->data();
            size_t left = line->size();
            while (left > 0) {
              ssize_t n = ::write(fd, data, left);
              if (n < 0 && errno == EINTR) continue;
              if (n <= 0) break;  // disk full or file gone: this line is lost, later ones still try
              data += n;
              left -= static_cast<size_t>(n);
            }
            wrote = true;
          }
          echoes.push_back(std::move(*line));
        } else if (std::holds_alternative<ClearTask>(task)) {
          if (fd >= 0) {
            if (wrote) ::fsync(fd);
            wrote = false;
            if (::ftruncate(fd, 0) == 0) ::lseek(fd, 0, SEEK_END);
          }
        } else if (auto* flush = std::get_if<FlushTask>(&task)) {
          flushed.push_back(flush->done);
        }
      }
      if (wrote && fd >= 0) ::fsync(fd);
    }
    for (const auto& line : echoes) systemLog(line);
    for (auto& done : flushed) done->set_value();
  }

  void run() {
    std::unique_lock guard(queueMutex);
    for (;;) {
      queueChanged.wait(guard, [&] { return stopping || !queue.empty(); });
      if (queue.empty() && stopping) return;
      std::deque<Task> batch;
      batch.swap(queue);
      guard.unlock();
      writeBatch(batch);
      guard.lock();
    }
  }
};

Logger& Logger::shared() {
  // Never destroyed: threads may still log while the process exits.
  static Logger* instance = new Logger();
  return *instance;
}

Logger::Logger() : Logger(defaultSystemLog) {}

Logger::Logger(SystemLogSink systemLog) : state_(std::make_unique<State>()) {
  state_->systemLog = std::move(systemLog);
  state_->writer = std::thread([state = state_.get()] { state->run(); });
}

Logger::~Logger() {
  {
    std::lock_guard guard(state_->queueMutex);
    state_->stopping = true;
  }
  state_->queueChanged.notify_one();
  state_->writer.join();
  std::lock_guard guard(state_->fileMutex);
  state_->closeFileLocked();
}

void Logger::configure(const std::optional<std::string>& path, bool logEnable) {
  state_->configured.store(true);
  state_->logEnabled.store(logEnable);
  if (!logEnable) {
    std::lock_guard guard(state_->fileMutex);
    state_->closeFileLocked();
    return;
  }
  {
    std::lock_guard guard(state_->fileMutex);
    state_->logDirectory = path ? *path : documentsLogsFolder();
    std::error_code ec;
    if (!std::filesystem::exists(state_->logDirectory, ec)) {
      std::filesystem::create_directories(state_->logDirectory, ec);
      if (ec) {
        state_->systemLog(formatString("创建日志目录失败: %s", ec.message().c_str()));
      }
    }
    state_->currentLogDate = currentDateOnly();
  }
  switchToLogFileForDate(state_->currentLogDate);
}

void Logger::switchToLogFileForDate(Clock::time_point date) {
  std::lock_guard guard(state_->fileMutex);
  state_->closeFileLocked();
  const std::string path = state_->logDirectory + "/native_" + formatDay(date) + ".log";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    state_->systemLog(formatString("打开日志文件失败: %s", std::strerror(errno)));
    return;
  }
  state_->fd = fd;
}

void Logger::debugWithTag(std::string_view tag, std::string_view message) { logger("DEBUG", tag, message); }
void Logger::infoWithTag(std::string_view tag, std::string_view message) { logger("INFO", tag, message); }
void Logger::warningWithTag(std::string_view tag, std::string_view message) { logger("WARNING", tag, message); }
void Logger::errorWithTag(std::string_view tag, std::string_view message) { logger("ERROR", tag, message); }

#define QUILLON_LOG_FORMATTED(LEVEL)            \
  if (!state_->logEnabled.load()) return;       \
  va_list args;                                 \
  va_start(args, format);                       \
  std::string message = formatString(format, args); \
  va_end(args);                                 \
  logger(LEVEL, tag, message)

void Logger::debug(std::string_view tag, const char* format, ...) { QUILLON_LOG_FORMATTED("DEBUG"); }
void Logger::info(std::string_view tag, const char* format, ...) { QUILLON_LOG_FORMATTED("INFO"); }
void Logger::warning(std::string_view tag, const char* format, ...) { QUILLON_LOG_FORMATTED("WARNING"); }
void Logger::error(std::string_view tag, const char* format, ...) { QUILLON_LOG_FORMATTED("ERROR"); }

#undef QUILLON_LOG_FORMATTED

void Logger::logger(std::string_view level, std::string_view tag, std::string_view message) {
  if (!state_->logEnabled.load()) return;
  state_->enqueue(makeLogStringWithLevel(level, tag, message));
}

std::string Logger::makeLogStringWithLevel(std::string_view level, std::string_view tag,
                                           std::string_view message) const {
  const std::string timestamp = formatTimestamp(Clock::now());
  std::string deviceSn;
  std::string userId;
  {
    std::lock_guard guard(state_->lock);
    deviceSn = state_->deviceSn;
    userId = state_->userId;
  }
  std::string line;
  line.reserve(timestamp.size() + deviceSn.size() + userId.size() + tag.size() + level.size() +
               message.size() + 16);
  line.append(timestamp).append(" [").append(deviceSn).append("] [").append(userId);
  line.append("] [").append(tag).append("] [").append(level).append("] ");
  line.append(message).push_back('\n');
  return line;
}

void Logger::bindDeviceSn(std::string_view deviceSn) {
  std::lock_guard guard(state_->lock);
  state_->deviceSn = deviceSn;
}
void Logger::unbindDeviceSn() {
  std::lock_guard guard(state_->lock);
  state_->deviceSn.clear();
}
void Logger::bindUserId(std::string_view userId) {
  std::lock_guard guard(state_->lock);
  state_->userId = userId;
}
void Logger::unbindUserId() {
  std::lock_guard guard(state_->lock);
  state_->userId.clear();
}

void Logger::clearLogs() { state_->enqueue(ClearTask{}); }

Logger::Clock::time_point Logger::currentDateOnly() {
  std::time_t now = Clock::to_time_t(Clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return Clock::from_time_t(std::mktime(&local));
}

void Logger::flush() {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  state_->enqueue(FlushTask{done});
  future.wait();
}

bool Logger::logEnabled() const { return state_->logEnabled.load(); }

bool Logger::configured() const { return state_->configured.load(); }

std::string Logger::logDirectory() const {
  std::lock_guard guard(state_->fileMutex);
  return state_->logDirectory;
}

std::string formatString(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::string result(static_cast<size_t>(needed), '\0');
  std::vsnprintf(result.data(), result.size() + 1, format, args);
  return result;
}

std::string formatString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = formatString(format, args);
  va_end(args);
  return result;
}

}  // namespace quillon
