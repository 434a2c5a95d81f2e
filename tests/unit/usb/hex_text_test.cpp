#include <gtest/gtest.h>

#include "usb/text_encoding.h"
#include "usb/usb_factory.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(HexText, PairsFromTheStartIgnoringALastSingleCharacter) {
  EXPECT_EQ(UsbFactory::hexStringToData("a1B2"), (Bytes{0xA1, 0xB2}));
  EXPECT_EQ(UsbFactory::hexStringToData("ABC"), (Bytes{0xAB}));
  EXPECT_EQ(UsbFactory::hexStringToData(""), Bytes{});
  EXPECT_EQ(UsbFactory::dataToHexString({0x00, 0x0F, 0xFF}), "000FFF");
  EXPECT_EQ(UsbFactory::dataToHexString({}), "");
}

TEST(HexText, BlanksAndNonDigitsShiftOrCutAPair) {
  // "AA", " B", "B" (ignored): the space shifts the pairing.
  EXPECT_EQ(UsbFactory::hexStringToData("AA BB"), (Bytes{0xAA, 0x0B}));
  // Reading stops at the first non-digit; a pair without a leading digit is 0.
  EXPECT_EQ(UsbFactory::hexStringToData("1xzz  \t7"), (Bytes{0x01, 0x00, 0x00, 0x07}));
}

TEST(HexText, PositionsCountUtf16Units) {
  // "é" is one UTF-16 unit (two UTF-8 bytes): "é1" is one pair giving 0, "22" the next.
  EXPECT_EQ(UsbFactory::hexStringToData("\xC3\xA9" "122"), (Bytes{0x00, 0x22}));
  // U+1F600 is two units, a pair of its own.
  EXPECT_EQ(UsbFactory::hexStringToData("\xF0\x9F\x98\x80" "7F"), (Bytes{0x00, 0x7F}));
}

TEST(Utf8, RejectsMalformedInput) {
  EXPECT_TRUE(isValidUtf8("/dev/ttyACM0 \xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(isValidUtf8("\xFF"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
}

}  // namespace
}  // namespace quillon
