#include "usb/hex_text.h"

#include "usb/text_encoding.h"

namespace quillon {

namespace {

int hexDigitValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return -1;
}

bool isBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r' || unit == u'\v' ||
         unit == u'\f';
}

uint8_t readPair(char16_t first, char16_t second) {
  const char16_t pair[2] = {first, second};
  size_t i = 0;
  while (i < 2 && isBlank(pair[i])) ++i;
  unsigned value = 0;
  for (; i < 2; ++i) {
    const int digit = hexDigitValue(pair[i]);
    if (digit < 0) break;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

std::string bytesToHexText(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::vector<uint8_t> hexTextToBytes(const std::string& text) {
  const std::u16string units = utf8ToUtf16(text);
  std::vector<uint8_t> bytes;
  bytes.reserve(units.size() / 2);
  for (size_t i = 0; i + 1 < units.size(); i += 2) bytes.push_back(readPair(units[i], units[i + 1]));
  return bytes;
}

}  // namespace quillon
