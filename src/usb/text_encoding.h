#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Strict UTF-8 check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// UTF-16 code units of UTF-8 text. A byte that does not start a valid sequence
// becomes one U+FFFD unit, so malformed input still yields something to pair.
std::u16string utf8ToUtf16(std::string_view text);

}  // namespace quillon
