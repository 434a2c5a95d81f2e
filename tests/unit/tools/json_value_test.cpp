#include "quillon-engine/json_value.h"

#include <gtest/gtest.h>

#include <limits>

#include "unit/engine/value_printer.h"

// The way back, from values to JSON, is checked by EngineCli's echo.
namespace quillon {
namespace {

std::optional<EncodableValue> fromText(const std::string& text) {
  std::string error;
  return jsonToValue(nlohmann::json::parse(text), &error);
}

TEST(JsonValue, IntegersTakeTheCodecsWidthAndBytesTheirOwnForm) {
  const std::vector<std::pair<std::string, EncodableValue>> read = {
      {"-2147483648", int32_t{-2147483648}},
      {"2147483648", int64_t{2147483648}},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {R"({"data":{"$bytes":"00ff7A"},"list":[1,true,null,"x"],"nested":{"k":2.5}})",
       EncodableMap{{"data", std::vector<uint8_t>{0x00, 0xFF, 0x7A}},
                    {"list", EncodableList{int32_t{1}, true, EncodableValue(), "x"}},
                    {"nested", EncodableMap{{"k", 2.5}}}}},
      // "$bytes" beside other keys, or not text, is an ordinary map entry.
      {R"({"$bytes":"00","b":1})", EncodableMap{{"$bytes", "00"}, {"b", int32_t{1}}}},
      {R"({"$bytes":5})", EncodableMap{{"$bytes", int32_t{5}}}},
  };
  for (const auto& [text, value] : read) EXPECT_EQ(fromText(text), value) << text;
  for (const char* bad : {"9223372036854775808", R"({"$bytes":"0"})", R"({"$bytes":"zz"})"}) {
    EXPECT_FALSE(fromText(bad)) << bad;
  }
}

// Errors and "not implemented" print as integration.test_host_spine reads them.
TEST(JsonValue, TypedListsPrintAsArraysAndOtherKeysAsTheirJsonText) {
  EXPECT_EQ(replyToText(MethodSuccess{EncodableValue(std::vector<int32_t>{1, 2})}), "[1,2]");
  EXPECT_EQ(replyToText(MethodSuccess{EncodableMap{{int32_t{3}, "three"}}}), R"({"3":"three"})");
}

}  // namespace
}  // namespace quillon
