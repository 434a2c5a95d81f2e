#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/encodable_value.h"

namespace quillon::codec {

// Reads encoded values from a whole message. Every read checks the bounds
// first; a failed read leaves the reason in error() and the reader unusable.
class Reader {
 public:
  // Deeper nesting than this is refused rather than recursed into.
  static constexpr int kMaxDepth = 128;

  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool readByte(uint8_t& out);
  bool readValue(EncodableValue& out) { return readValue(out, 0); }
  bool atEnd() const { return position_ == bytes_.size(); }
  size_t position() const { return position_; }
  const std::string& error() const { return error_; }
  bool fail(std::string reason);

 private:
  bool readValue(EncodableValue& out, int depth);
  bool readSize(size_t& out);
  bool alignTo(size_t alignment);
  bool need(size_t length, const char* what);
  template <typename T>
  bool readScalar(T& out);
  template <typename T>
  bool readTypedList(std::vector<T>& out, size_t alignment);
  bool readUtf8(std::string& out);

  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  std::string error_;
};

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF), which is what the engine's decoder accepts.
bool isValidUtf8(std::span<const uint8_t> text);

}  // namespace quillon::codec
