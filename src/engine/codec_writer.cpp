#include "engine/codec_writer.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace quillon::codec {

static_assert(std::endian::native == std::endian::little,
              "the codec copies numbers as they lie in memory: little-endian hosts only");

void Writer::writeBytes(const void* data, size_t length) {
  if (length == 0) return;
  const auto* bytes = static_cast<const uint8_t*>(data);
  out_.insert(out_.end(), bytes, bytes + length);
}

template <typename T>
void Writer::writeScalar(T value) {
  writeBytes(&value, sizeof value);
}

void Writer::writeSize(size_t size) {
  if (size < 254) {
    writeByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    writeByte(254);
    writeScalar(static_cast<uint16_t>(size));
  } else {
    writeByte(255);
    writeScalar(static_cast<uint32_t>(size));
  }
}

void Writer::alignTo(size_t alignment) {
  const size_t remainder = out_.size() % alignment;
  if (remainder != 0) out_.insert(out_.end(), alignment - remainder, uint8_t{0});
}

void Writer::writeString(const std::string& text) {
  writeByte(kString);
  writeSize(text.size());
  writeBytes(text.data(), text.size());
}

template <typename T>
void Writer::writeTypedList(uint8_t type, const std::vector<T>& items, size_t alignment) {
  writeByte(type);
  writeSize(items.size());
  alignTo(alignment);
  writeBytes(items.data(), items.size() * sizeof(T));
}

void Writer::writeUint8List(std::span<const uint8_t> bytes) {
  writeByte(kUint8List);
  writeSize(bytes.size());
  writeBytes(bytes.data(), bytes.size());
}

void Writer::writeValue(const EncodableValue& value) {
  std::visit(
      [this](const auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          writeByte(kNull);
        } else if constexpr (std::is_same_v<V, bool>) {
          writeByte(v ? kTrue : kFalse);
        } else if constexpr (std::is_same_v<V, int32_t>) {
          writeByte(kInt32);
          writeScalar(v);
        } else if constexpr (std::is_same_v<V, int64_t>) {
          writeByte(kInt64);
          writeScalar(v);
        } else if constexpr (std::is_same_v<V, double>) {
          writeByte(kFloat64);
          alignTo(8);
          writeScalar(v);
        } else if constexpr (std::is_same_v<V, std::string>) {
          writeString(v);
        } else if constexpr (std::is_same_v<V, std::vector<uint8_t>>) {
          writeUint8List(v);
        } else if constexpr (std::is_same_v<V, std::vector<int32_t>>) {
          writeTypedList(kInt32List, v, 4);
        } else if constexpr (std::is_same_v<V, std::vector<int64_t>>) {
          writeTypedList(kInt64List, v, 8);
        } else if constexpr (std::is_same_v<V, std::vector<double>>) {
          writeTypedList(kFloat64List, v, 8);
        } else if constexpr (std::is_same_v<V, std::vector<float>>) {
          writeTypedList(kFloat32List, v, 4);
        } else if constexpr (std::is_same_v<V, EncodableList>) {
          writeByte(kList);
          writeSize(v.size());
          for (const auto& item : v) writeValue(item);
        } else if constexpr (std::is_same_v<V, EncodableMap>) {
          writeByte(kMap);
          writeSize(v.size());
          for (const auto& [key, item] : v) {
            writeValue(key);
            writeValue(item);
          }
        } else {
          static_assert(!sizeof(V), "every alternative must be encoded");
        }
      },
      value.variant());
}

size_t encodedSizeBound(const EncodableValue& value) {
  // Type byte + largest size prefix + largest padding, plus the content.
  constexpr size_t kOverhead = 1 + 5 + 7;
  return std::visit(
      [](const auto& v) -> size_t {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, EncodableList>) {
          size_t total = kOverhead;
          for (const auto& item : v) total += encodedSizeBound(item);
          return total;
        } else if constexpr (std::is_same_v<V, EncodableMap>) {
          size_t total = kOverhead;
          for (const auto& [key, item] : v) total += encodedSizeBound(key) + encodedSizeBound(item);
          return total;
        } else if constexpr (std::is_same_v<V, std::string>) {
          return kOverhead + v.size();
        } else if constexpr (std::is_arithmetic_v<V> || std::is_same_v<V, std::monostate>) {
          return kOverhead + 8;
        } else {
          return kOverhead + v.size() * sizeof(typename V::value_type);
        }
      },
      value.variant());
}

}  // namespace quillon::codec
