#include "usb/text_encoding.h"

namespace quillon {

namespace {

// Decodes one code point at text[pos]; returns its length in bytes, or 0 when
// the bytes there are not a valid sequence.
size_t decodeOne(std::string_view text, size_t pos, char32_t& codePoint) {
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byteAt(pos);
  size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byteAt(pos + i);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    char32_t codePoint;
    const size_t length = decodeOne(text, pos, codePoint);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    char32_t codePoint;
    size_t length = decodeOne(text, pos, codePoint);
    if (length == 0) {
      codePoint = 0xFFFD;
      length = 1;
    }
    pos += length;
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(codePoint));
    }
  }
  return units;
}

}  // namespace quillon
