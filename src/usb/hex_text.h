#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Hexadecimal text as the device link speaks it: upper-case pairs, no separators.
std::string bytesToHexText(const std::vector<uint8_t>& bytes);

// Cuts the text into pairs of UTF-16 code units from its start (a last single
// unit is ignored) and reads each pair as a hexadecimal number: leading blanks
// are skipped and reading stops at the first non-digit, so "1x" is 0x01 and a
// pair without any leading digit is 0. A space therefore shifts the pairing.
std::vector<uint8_t> hexTextToBytes(const std::string& text);

}  // namespace quillon
