#include "engine/standard_codec.h"

#include <gtest/gtest.h>

#include <limits>

#include "quillon-engine/json_value.h"

namespace quillon {

// Readable failure messages: values print as the command-line engine shows them.
static void PrintTo(const EncodableValue& value, std::ostream* out) { *out << dumpJson(valueToJson(value)); }

namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Every value type's exact bytes, each decoded back to the same value.
TEST(StandardCodec, EveryTypeEncodesByteForByteAndDecodesBack) {
  constexpr int64_t max32 = std::numeric_limits<int32_t>::max(), min32 = std::numeric_limits<int32_t>::min();
  const Bytes oneAsDouble{0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  const std::vector<std::pair<EncodableValue, Bytes>> golden = {
      {EncodableValue(), {0x00}},
      {true, {0x01}},
      {false, {0x02}},
      {int32_t{-2}, {0x03, 0xFE, 0xFF, 0xFF, 0xFF}},
      {int64_t{0x0102030405060708}, {0x04, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      // Integers take int64 only past the int32 range.
      {EncodableValue::integer(max32), {0x03, 0xFF, 0xFF, 0xFF, 0x7F}},
      {EncodableValue::integer(min32), {0x03, 0x00, 0x00, 0x00, 0x80}},
      {EncodableValue::integer(max32 + 1), {0x04, 0, 0, 0, 0x80, 0, 0, 0, 0}},
      {EncodableValue::integer(min32 - 1), {0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}},
      // A double at the start of a message is padded to offset 8.
      {1.0, concat({{0x06, 0, 0, 0, 0, 0, 0, 0}, oneAsDouble})},
      {"hé", {0x07, 0x03, 'h', 0xC3, 0xA9}},
      {Bytes{1, 2, 3}, {0x08, 0x03, 1, 2, 3}},
      {std::vector<int32_t>{1, -1}, {0x09, 0x02, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {std::vector<int64_t>{1}, {0x0A, 0x01, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {std::vector<double>{1.0}, concat({{0x0B, 0x01, 0, 0, 0, 0, 0, 0}, oneAsDouble})},
      {std::vector<float>{1.0f}, {0x0E, 0x01, 0, 0, 0, 0, 0x80, 0x3F}},
      {EncodableList{int32_t{1}, "a"}, {0x0C, 0x02, 0x03, 1, 0, 0, 0, 0x07, 0x01, 'a'}},
      {EncodableMap{{"a", EncodableValue()}}, {0x0D, 0x01, 0x07, 0x01, 'a', 0x00}},
      // After an odd offset: list tag, count, true, then a double padded from 4
      // to 8, and a float32 list whose data moves from offset 19 to 20.
      {EncodableList{true, 1.0, std::vector<float>{2.0f}},
       concat({{0x0C, 0x03, 0x01, 0x06, 0, 0, 0, 0}, oneAsDouble, {0x0E, 0x01, 0, 0}, {0, 0, 0, 0x40}})},
  };
  for (const auto& [value, bytes] : golden) {
    EXPECT_EQ(StandardCodec::encodeMessage(value), bytes) << testing::PrintToString(value);
    EXPECT_EQ(StandardCodec::decodeMessage(bytes), value) << testing::PrintToString(bytes);
  }

  // Sizes: one byte below 254, then 254 and a u16, then 255 and a u32.
  for (const auto& [length, head] : std::vector<std::pair<size_t, Bytes>>{
           {253, {0x07, 253}}, {254, {0x07, 254, 254, 0}}, {0xFFFF, {0x07, 254, 0xFF, 0xFF}},
           {0x10000, {0x07, 255, 0, 0, 1, 0}}}) {
    const EncodableValue text(std::string(length, 'x'));
    const Bytes bytes = StandardCodec::encodeMessage(text);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end() - static_cast<long>(length)), head) << length;
    EXPECT_EQ(StandardCodec::decodeMessage(bytes), text) << length;
  }
}

TEST(StandardCodec, MethodCallsAndEnvelopes) {
  // The audio path's own encoding of its blocks is read by an independent
  // decoder end to end (integration.test_recording); decoding is
  // TruncatedOrMalformedInputIsRejected's.
  const Bytes call{0x07, 0x01, 'm', 0x03, 7, 0, 0, 0};
  EXPECT_EQ(StandardCodec::encodeMethodCall({"m", int32_t{7}}), call);
  EXPECT_FALSE(StandardCodec::decodeMethodCall(Bytes{0x03, 1, 0, 0, 0, 0x00}));  // name not a string
  EXPECT_FALSE(StandardCodec::decodeMethodCall(concat({call, {0x00}})));  // trailing bytes

  // The envelope's status byte counts towards alignment.
  const Bytes success{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(StandardCodec::encodeSuccessEnvelope(1.0), success);
  const Bytes error{0x01, 0x07, 0x01, 'c', 0x07, 0x01, 'm', 0x03, 7, 0, 0, 0};
  EXPECT_EQ(StandardCodec::encodeErrorEnvelope("c", "m", int32_t{7}), error);
  // Read back as the command-line engine reads the host's replies (errors and
  // "not implemented" are shown end to end by integration.test_host_spine).
  EXPECT_EQ(replyToText(StandardCodec::decodeEnvelope(success).value_or(MethodNotImplemented{})), "1.0");
  EXPECT_FALSE(StandardCodec::decodeEnvelope(Bytes(error.begin(), error.begin() + 7)));  // details missing
}

TEST(StandardCodec, TruncatedOrMalformedInputIsRejected) {
  const MethodCall call{"call", EncodableMap{{"n", 2.5},
                                             {"list", EncodableList{int64_t{1} << 40, "text", Bytes{1, 2, 3}}},
                                             {"f", std::vector<float>{1, 2}},
                                             {"d", std::vector<double>{3}}}};
  const Bytes whole = StandardCodec::encodeMethodCall(call);
  const auto decoded = StandardCodec::decodeMethodCall(whole);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->arguments, call.arguments);
  for (size_t length = 0; length < whole.size(); ++length) {
    std::string reason;
    EXPECT_FALSE(StandardCodec::decodeMethodCall(std::span<const uint8_t>(whole.data(), length), &reason)) << length;
    EXPECT_FALSE(reason.empty());
  }

  const std::vector<Bytes> bad = {
      {0x0F},                                   // unknown type
      {0x05, 0x01, 'a'},                        // big integer
      {0x07, 0x02, 0xC3, 0x28},                 // invalid UTF-8
      {0x07, 0x03, 0xED, 0xA0, 0x80},           // encoded surrogate
      {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1},  // absurd byte-array size
      {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0},
      {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},  // absurd list size
      {0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
      {0x00, 0x00},  // trailing bytes
  };
  for (const auto& bytes : bad) EXPECT_FALSE(StandardCodec::decodeMessage(bytes)) << testing::PrintToString(bytes);

  // Nesting is capped without exhausting the stack.
  auto nested = [](size_t depth) {
    Bytes bytes;
    for (size_t i = 0; i < depth; ++i) bytes.insert(bytes.end(), {0x0C, 0x01});
    bytes.push_back(0x00);
    return bytes;
  };
  EXPECT_TRUE(StandardCodec::decodeMessage(nested(100)));
  EXPECT_FALSE(StandardCodec::decodeMessage(nested(100'000)));
}

}  // namespace
}  // namespace quillon
