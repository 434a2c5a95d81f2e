#pragma once

#include <gtest/gtest.h>

#include <string>

#include "logging/logger.h"
#include "support/test_support.h"

namespace quillon::test {

// Sends the shared log into a fresh folder for each test.
class WithDayLog : public ::testing::Test {
 protected:
  void SetUp() override { Logger::shared().configure(logDir_.str(), true); }
  void TearDown() override { Logger::shared().configure(std::nullopt, false); }

  std::string logText() {
    Logger::shared().flush();
    return readFile(Logger::shared().currentLogFilePath());
  }
  size_t countInLog(const std::string& text) {
    const std::string log = logText();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

 private:
  TempDir logDir_;
};

}  // namespace quillon::test
