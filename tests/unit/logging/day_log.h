#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/log_capture.h"

namespace quillon::test {

// Sends the shared log into a fresh folder for each test; logging ends at
// TearDown, before the fixture's own members go away.
class WithDayLog : public ::testing::Test {
 protected:
  void SetUp() override { log_.emplace(); }
  void TearDown() override { log_.reset(); }

  std::string logText() { return log_->text(); }
  size_t countInLog(const std::string& text) { return log_->count(text); }

 private:
  std::optional<LogCapture> log_;
};

}  // namespace quillon::test
