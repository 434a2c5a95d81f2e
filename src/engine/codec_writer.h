#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/encodable_value.h"

namespace quillon::codec {

// Type bytes of the Standard message codec.
enum Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // hexadecimal text of a big integer; never written, refused when read
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// Appends encoded values to a buffer. Alignment padding is counted from the
// start of the buffer, so the buffer must begin where the message begins.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}

  void writeByte(uint8_t value) { out_.push_back(value); }
  void writeValue(const EncodableValue& value);
  void writeString(const std::string& text);
  // The same bytes as writeValue of a Uint8List holding `bytes`.
  void writeUint8List(std::span<const uint8_t> bytes);

 private:
  void writeSize(size_t size);
  void writeBytes(const void* data, size_t length);
  void alignTo(size_t alignment);
  template <typename T>
  void writeScalar(T value);
  template <typename T>
  void writeTypedList(uint8_t type, const std::vector<T>& items, size_t alignment);

  std::vector<uint8_t>& out_;
};

// A size that is never exceeded by the encoding of `value`, for reserving once.
size_t encodedSizeBound(const EncodableValue& value);

}  // namespace quillon::codec
