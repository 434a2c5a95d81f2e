#include <gtest/gtest.h>

#include <regex>

#include "logging/logger.h"
#include "support/test_support.h"

namespace quillon {
namespace {

TEST(Logger, LineLayoutHasTimestampEmptyBindingsTagLevelMessage) {
  Logger logger([](const std::string&) {});
  const std::string line = logger.makeLogStringWithLevel("INFO", "UsbFactory", "hello %d");
  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\] \[\] \[UsbFactory\] \[INFO\] hello %d\n)")))
      << line;
}

}  // namespace
}  // namespace quillon
