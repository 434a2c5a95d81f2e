#include "platform/system_log.h"

#include <syslog.h>

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
    syslog(LOG_NOTICE, "%s", line.c_str());
  }
}

}  // namespace quillon
