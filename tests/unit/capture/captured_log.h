#pragma once

#include <string>

#include "logging/logger.h"
#include "support/test_support.h"

namespace quillon::test {

// Points the shared logger at a fresh folder; text() answers what was logged.
class CapturedLog {
 public:
  CapturedLog() { Logger::shared().configure(dir_.str(), true); }
  ~CapturedLog() { Logger::shared().configure(dir_.str(), false); }
  std::string text() {
    Logger::shared().flush();
    return readFile(Logger::shared().currentLogFilePath());
  }

 private:
  TempDir dir_;
};

}  // namespace quillon::test
