#pragma once

#include <optional>
#include <string_view>
#include <string>

#include "logging/logger.h"
#include "support/test_support.h"

namespace quillon::test {

// Routes the shared logger into a fresh folder for one test and reads it back.
class LogCapture {
 public:
  LogCapture() { Logger::shared().configure(dir_.str(), true); }
  ~LogCapture() { Logger::shared().configure(std::nullopt, false); }
  std::string text() {
    Logger::shared().flush();
    return readFile(file_);
  }
  bool has(std::string_view needle) { return text().find(needle) != std::string::npos; }
  size_t count(const std::string& needle) {
    const std::string all = text();
    size_t n = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  TempDir dir_;
  std::filesystem::path file_ = dir_.path() / dayLogName();
};

}  // namespace quillon::test
