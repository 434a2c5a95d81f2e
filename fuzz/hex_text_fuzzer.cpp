// The hexadecimal text parser takes whatever text the engine or a C caller
// passes (any bytes, not only UTF-8). It must never fail, must give one byte
// per pair of UTF-16 units, and must read back what the formatter writes.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "usb/hex_text.h"
#include "usb/text_encoding.h"
#include "usb/usb_factory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<uint8_t> parsed = quillon::hexTextToBytes(text);
  FUZZ_CHECK(parsed.size() == quillon::utf8ToUtf16(text).size() / 2);
  FUZZ_CHECK(quillon::UsbFactory::hexStringToData(text) == parsed);

  const bool allDigits =
      std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (allDigits && size % 2 == 0) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FUZZ_CHECK(quillon::bytesToHexText(parsed) == upper);
  }

  const std::vector<uint8_t> raw(data, data + size);
  const std::string formatted = quillon::UsbFactory::dataToHexString(raw);
  FUZZ_CHECK(formatted.size() == 2 * size);
  FUZZ_CHECK(quillon::UsbFactory::hexStringToData(formatted) == raw);
  return 0;
}
