#include "recording/system_log.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "logging/logger.h"

namespace quillon {

namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

SystemLog::Sink& currentSink() {
  static SystemLog::Sink sink;
  return sink;
}

void defaultSink(const std::string& line) {
  syslog(LOG_NOTICE, "%s", line.c_str());
  struct stat st {};
  if (stat("/dev/log", &st) != 0 || !S_ISSOCK(st.st_mode)) {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace

void SystemLog::write(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = formatString(format, args);
  va_end(args);
  Sink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink(line);
  } else {
    defaultSink(line);
  }
}

void SystemLog::setSink(Sink sink) {
  std::lock_guard lock(sinkMutex());
  currentSink() = std::move(sink);
}

}  // namespace quillon
