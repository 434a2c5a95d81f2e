#include "platform/system_log.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdio>

#include <cstdarg>
#include <mutex>

#include "logging/logger.h"

namespace quillon {
namespace {

std::mutex& writerMutex() {
  static std::mutex m;
  return m;
}

SystemLogWriter& writerSlot() {
  static SystemLogWriter writer;
  return writer;
}

}  // namespace

void writeToSystemLog(const std::string& line) {
  syslog(LOG_NOTICE, "%s", line.c_str());
  // Without a syslog daemon the line would vanish; standard error keeps it visible.
  struct stat st {};
  if (stat("/dev/log", &st) != 0 || !S_ISSOCK(st.st_mode)) {
    const bool endsWithNewline = !line.empty() && line.back() == '\n';
    std::fprintf(stderr, endsWithNewline ? "%s" : "%s\n", line.c_str());
    std::fflush(stderr);
  }
}

void setSystemLogWriter(SystemLogWriter writer) {
  std::lock_guard lock(writerMutex());
  writerSlot() = std::move(writer);
}

void systemLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = formatString(format, args);
  va_end(args);
  std::lock_guard lock(writerMutex());
  if (writerSlot()) {
    writerSlot()(line);
  } else {
    writeToSystemLog(line);
  }
}

}  // namespace quillon
