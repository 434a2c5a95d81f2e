#include "engine/standard_codec.h"

#include <gtest/gtest.h>

#include <limits>

#include "value_printer.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const EncodableValue& value) { return StandardCodec::encodeMessage(value); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(StandardCodec, ScalarsAndStringsEncodeByteForByte) {
  EXPECT_EQ(encode(EncodableValue()), Bytes({0x00}));
  EXPECT_EQ(encode(true), Bytes({0x01}));
  EXPECT_EQ(encode(false), Bytes({0x02}));
  EXPECT_EQ(encode(int32_t{-2}), Bytes({0x03, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(encode(int64_t{0x0102030405060708}), Bytes({0x04, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
  // A double at the start of a message is padded to offset 8.
  EXPECT_EQ(encode(1.0), Bytes({0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(encode("hé"), Bytes({0x07, 0x03, 'h', 0xC3, 0xA9}));
}

TEST(StandardCodec, IntegersTakeInt64OnlyPastTheInt32Range) {
  const int64_t max32 = std::numeric_limits<int32_t>::max();
  const int64_t min32 = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(encode(EncodableValue::integer(max32))[0], 0x03);
  EXPECT_EQ(encode(EncodableValue::integer(min32))[0], 0x03);
  EXPECT_EQ(encode(EncodableValue::integer(max32 + 1))[0], 0x04);
  EXPECT_EQ(encode(EncodableValue::integer(min32 - 1))[0], 0x04);
  EXPECT_EQ(EncodableValue::integer(min32 - 1).asInteger(), min32 - 1);
}

TEST(StandardCodec, TypedListsAlignTheirDataFromTheMessageStart) {
  EXPECT_EQ(encode(Bytes{1, 2, 3}), Bytes({0x08, 0x03, 1, 2, 3}));
  EXPECT_EQ(encode(std::vector<int32_t>{1, -1}),
            Bytes({0x09, 0x02, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(encode(std::vector<int64_t>{1}), Bytes({0x0A, 0x01, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(encode(std::vector<double>{1.0}),
            Bytes({0x0B, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(encode(std::vector<float>{1.0f}), Bytes({0x0E, 0x01, 0, 0, 0, 0, 0x80, 0x3F}));

  // After an odd offset: list tag, count, true, then a double padded from 4 to 8,
  // and a float32 list whose data moves from offset 19 to 20.
  EncodableValue mixed(EncodableList{true, 1.0, std::vector<float>{2.0f}});
  EXPECT_EQ(encode(mixed), concat({{0x0C, 0x03, 0x01, 0x06, 0, 0, 0, 0},
                                   {0, 0, 0, 0, 0, 0, 0xF0, 0x3F},
                                   {0x0E, 0x01, 0, 0},
                                   {0, 0, 0, 0x40}}));
  EXPECT_EQ(StandardCodec::decodeMessage(encode(mixed)), mixed);
}

TEST(StandardCodec, SizesUseTheTwoEscapes) {
  auto header = [](size_t length) {
    auto bytes = encode(std::string(length, 'x'));
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() - length));
  };
  EXPECT_EQ(header(253), Bytes({0x07, 253}));
  EXPECT_EQ(header(254), Bytes({0x07, 254, 254, 0}));
  EXPECT_EQ(header(0xFFFF), Bytes({0x07, 254, 0xFF, 0xFF}));
  EXPECT_EQ(header(0x10000), Bytes({0x07, 255, 0, 0, 1, 0}));
  const EncodableValue big(std::string(0x10000, 'y'));
  EXPECT_EQ(StandardCodec::decodeMessage(encode(big)), big);
}

TEST(StandardCodec, NestedListsAndMapsRoundTrip) {
  EXPECT_EQ(encode(EncodableMap{{"a", EncodableValue()}}), Bytes({0x0D, 0x01, 0x07, 0x01, 'a', 0x00}));
  EXPECT_EQ(encode(EncodableList{int32_t{1}, "a"}), Bytes({0x0C, 0x02, 0x03, 1, 0, 0, 0, 0x07, 0x01, 'a'}));

  EncodableValue nested(EncodableMap{
      {"list", EncodableList{EncodableMap{{int32_t{7}, std::vector<int64_t>{-1, 2}}}, EncodableList{}}},
      {"bytes", Bytes(300, 0xAB)},
      {"pi", 3.25},
      {"big", int64_t{1} << 40},
      {EncodableValue(), false},
  });
  EXPECT_EQ(StandardCodec::decodeMessage(encode(nested)), nested);
}

TEST(StandardCodec, MethodCallsAndEnvelopes) {
  EXPECT_EQ(StandardCodec::encodeMethodCall({"m", EncodableValue()}), Bytes({0x07, 0x01, 'm', 0x00}));
  // The audio path's call encodes a block straight from where it lies, to
  // the same bytes (the 300-byte list takes the two-byte size escape).
  const Bytes block(300, 0x5A);
  EXPECT_EQ(StandardCodec::encodeBytesCall("onPcmData", block),
            StandardCodec::encodeMethodCall({"onPcmData", EncodableValue(block)}));
  const MethodCall call{"onPcmData", EncodableMap{{"data", Bytes{1, 2}}}};
  auto decoded = StandardCodec::decodeMethodCall(StandardCodec::encodeMethodCall(call));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->method, call.method);
  EXPECT_EQ(decoded->arguments, call.arguments);

  // The envelope's status byte counts towards alignment.
  EXPECT_EQ(StandardCodec::encodeSuccessEnvelope(1.0),
            Bytes({0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  auto success = StandardCodec::decodeEnvelope(StandardCodec::encodeSuccessEnvelope(1.0));
  ASSERT_TRUE(success && std::holds_alternative<MethodSuccess>(*success));
  EXPECT_EQ(std::get<MethodSuccess>(*success).value, EncodableValue(1.0));

  const Bytes error = StandardCodec::encodeErrorEnvelope("c", "m", EncodableValue());
  EXPECT_EQ(error, Bytes({0x01, 0x07, 0x01, 'c', 0x07, 0x01, 'm', 0x00}));
  for (const Bytes& trace : {Bytes{}, Bytes{0x07, 0x02, 's', 't'}, Bytes{0x00}}) {
    auto reply = StandardCodec::decodeEnvelope(concat({error, trace}));
    ASSERT_TRUE(reply && std::holds_alternative<MethodError>(*reply));
    EXPECT_EQ(std::get<MethodError>(*reply).code, "c");
    EXPECT_EQ(std::get<MethodError>(*reply).message, "m");
  }
  // A null message is allowed and reads as empty.
  auto nullMessage = StandardCodec::decodeEnvelope(Bytes{0x01, 0x07, 0x01, 'c', 0x00, 0x00});
  ASSERT_TRUE(nullMessage && std::holds_alternative<MethodError>(*nullMessage));
  EXPECT_EQ(std::get<MethodError>(*nullMessage).message, "");

  auto empty = StandardCodec::decodeEnvelope(Bytes{});
  ASSERT_TRUE(empty);
  EXPECT_TRUE(std::holds_alternative<MethodNotImplemented>(*empty));
}

TEST(StandardCodec, EveryTruncationIsRejected) {
  const MethodCall call{"call", EncodableMap{{"n", 2.5},
                                             {"list", EncodableList{int64_t{1} << 40, "text", Bytes{1, 2, 3}}},
                                             {"f", std::vector<float>{1, 2}},
                                             {"d", std::vector<double>{3}}}};
  const Bytes whole = StandardCodec::encodeMethodCall(call);
  ASSERT_TRUE(StandardCodec::decodeMethodCall(whole));
  for (size_t length = 0; length < whole.size(); ++length) {
    std::span<const uint8_t> prefix(whole.data(), length);
    std::string reason;
    EXPECT_FALSE(StandardCodec::decodeMethodCall(prefix, &reason)) << "prefix of " << length;
    EXPECT_FALSE(reason.empty());
  }
  const Bytes message = StandardCodec::encodeMessage(call.arguments);
  for (size_t length = 0; length < message.size(); ++length) {
    EXPECT_FALSE(StandardCodec::decodeMessage(std::span<const uint8_t>(message.data(), length))) << length;
  }
  const Bytes error = StandardCodec::encodeErrorEnvelope("code", "message", EncodableList{1.5});
  for (size_t length = 1; length < error.size(); ++length) {
    EXPECT_FALSE(StandardCodec::decodeEnvelope(std::span<const uint8_t>(error.data(), length))) << length;
  }
}

TEST(StandardCodec, MalformedInputIsRejected) {
  const std::vector<Bytes> bad = {
      {0x0F},                                   // unknown type
      {0xFF},                                   // unknown type
      {0x05, 0x01, 'a'},                        // big integer
      {0x07, 0x05, 'a'},                        // string past the end
      {0x07, 0x02, 0xC3, 0x28},                 // invalid UTF-8
      {0x07, 0x03, 0xED, 0xA0, 0x80},           // encoded surrogate
      {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1},  // absurd byte-array size
      {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0},
      {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},  // absurd list size
      {0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
      {0x00, 0x00},  // trailing bytes
  };
  for (const auto& bytes : bad) {
    std::string reason;
    EXPECT_FALSE(StandardCodec::decodeMessage(bytes, &reason)) << testing::PrintToString(bytes);
  }
  EXPECT_FALSE(StandardCodec::decodeMethodCall(Bytes{0x03, 1, 0, 0, 0, 0x00}));       // name not a string
  EXPECT_FALSE(StandardCodec::decodeMethodCall(Bytes{0x07, 0x01, 'm', 0x00, 0x00}));  // trailing
  EXPECT_FALSE(StandardCodec::decodeEnvelope(Bytes{0x02, 0x00}));                     // unknown status
  EXPECT_FALSE(StandardCodec::decodeEnvelope(Bytes{0x01, 0x00, 0x00, 0x00}));         // code not a string
  EXPECT_FALSE(StandardCodec::decodeEnvelope(Bytes{0x01, 0x07, 0x01, 'c', 0x00, 0x00, 0x03, 1, 0, 0, 0}));
}

TEST(StandardCodec, NestingIsCappedWithoutExhaustingTheStack) {
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
