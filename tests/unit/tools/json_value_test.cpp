#include "quillon-engine/json_value.h"

#include <gtest/gtest.h>

#include <limits>

namespace quillon {
namespace {

EncodableValue fromText(const std::string& text) {
  std::string error;
  auto value = jsonToValue(nlohmann::json::parse(text), &error);
  EXPECT_TRUE(value) << text << ": " << error;
  return value ? *value : EncodableValue("<failed>");
}

TEST(JsonValue, IntegersTakeTheCodecsWidth) {
  EXPECT_EQ(fromText("-2147483648"), EncodableValue(int32_t{-2147483648}));
  EXPECT_EQ(fromText("2147483648"), EncodableValue(int64_t{2147483648}));
  EXPECT_EQ(fromText("9223372036854775807"), EncodableValue(std::numeric_limits<int64_t>::max()));
  std::string error;
  EXPECT_FALSE(jsonToValue(nlohmann::json::parse("9223372036854775808"), &error));
  EXPECT_FALSE(error.empty());
}

TEST(JsonValue, BytesAndStructures) {
  const EncodableValue value = fromText(
      R"({"path":"/dev/ttyUSB0","data":{"$bytes":"00ff7A"},"list":[1,true,null,"x"],"nested":{"k":2.5}})");
  const EncodableValue expected(EncodableMap{
      {"path", "/dev/ttyUSB0"},
      {"data", std::vector<uint8_t>{0x00, 0xFF, 0x7A}},
      {"list", EncodableList{int32_t{1}, true, EncodableValue(), "x"}},
      {"nested", EncodableMap{{"k", 2.5}}},
  });
  EXPECT_EQ(value, expected);  // the way back is checked by EngineCli's echo

  // "$bytes" beside other keys, or not text, is an ordinary map entry.
  EXPECT_EQ(fromText(R"({"$bytes":"00","b":1})").asMap()->size(), 2u);
  EXPECT_TRUE(fromText(R"({"$bytes":5})").asMap());
  std::string error;
  EXPECT_FALSE(jsonToValue(nlohmann::json::parse(R"({"$bytes":"0"})"), &error));
  EXPECT_FALSE(jsonToValue(nlohmann::json::parse(R"({"$bytes":"zz"})"), &error));
}

TEST(JsonValue, RepliesPrintAsTheCommandLineShowsThem) {
  EXPECT_EQ(replyToText(MethodSuccess{EncodableValue(std::vector<int32_t>{1, 2})}), "[1,2]");
  EXPECT_EQ(replyToText(MethodSuccess{EncodableMap{{int32_t{3}, "three"}}}), R"({"3":"three"})");
  EXPECT_EQ(replyToText(MethodError{"INVALID_ARGS", "Missing 'path'", EncodableValue()}),
            R"({"details":null,"error":"INVALID_ARGS","message":"Missing 'path'"})");
  EXPECT_EQ(replyToText(MethodNotImplemented{}), "not implemented");
}

}  // namespace
}  // namespace quillon
