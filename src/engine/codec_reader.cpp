#include "engine/codec_reader.h"

#include <cstring>
#include <utility>

#include "engine/codec_writer.h"
#include "logging/logger.h"

namespace quillon::codec {

bool Reader::fail(std::string reason) {
  if (error_.empty()) error_ = formatString("%s at byte %zu", reason.c_str(), position_);
  // Park at the end so no later read can succeed after a failure.
  position_ = bytes_.size();
  return false;
}

bool Reader::need(size_t length, const char* what) {
  if (length > bytes_.size() - position_) return fail(formatString("%s runs past the end", what));
  return true;
}

bool Reader::readByte(uint8_t& out) {
  if (!need(1, "message")) return false;
  out = bytes_[position_++];
  return true;
}

template <typename T>
bool Reader::readScalar(T& out) {
  if (!need(sizeof(T), "number")) return false;
  std::memcpy(&out, bytes_.data() + position_, sizeof(T));
  position_ += sizeof(T);
  return true;
}

bool Reader::readSize(size_t& out) {
  uint8_t first = 0;
  if (!readByte(first)) return false;
  if (first < 254) {
    out = first;
  } else if (first == 254) {
    uint16_t size = 0;
    if (!readScalar(size)) return false;
    out = size;
  } else {
    uint32_t size = 0;
    if (!readScalar(size)) return false;
    out = size;
  }
  return true;
}

bool Reader::alignTo(size_t alignment) {
  const size_t remainder = position_ % alignment;
  if (remainder == 0) return true;
  // The padding's content is not checked, as the engine does not check it.
  if (!need(alignment - remainder, "padding")) return false;
  position_ += alignment - remainder;
  return true;
}

template <typename T>
bool Reader::readTypedList(std::vector<T>& out, size_t alignment) {
  size_t count = 0;
  if (!readSize(count) || !alignTo(alignment)) return false;
  // Compare counts, not byte lengths, so an absurd count cannot overflow.
  if (count > (bytes_.size() - position_) / sizeof(T)) return fail("typed list runs past the end");
  out.resize(count);
  if (count) std::memcpy(out.data(), bytes_.data() + position_, count * sizeof(T));
  position_ += count * sizeof(T);
  return true;
}

bool Reader::readUtf8(std::string& out) {
  size_t length = 0;
  if (!readSize(length) || !need(length, "string")) return false;
  auto text = bytes_.subspan(position_, length);
  if (!isValidUtf8(text)) return fail("string is not valid UTF-8");
  out.assign(reinterpret_cast<const char*>(text.data()), text.size());
  position_ += length;
  return true;
}

bool Reader::readValue(EncodableValue& out, int depth) {
  if (depth > kMaxDepth) return fail("values nested too deeply");
  uint8_t type = 0;
  if (!readByte(type)) return false;
  switch (type) {
    case kNull:
      out = EncodableValue();
      return true;
    case kTrue:
      out = true;
      return true;
    case kFalse:
      out = false;
      return true;
    case kInt32: {
      int32_t v = 0;
      if (!readScalar(v)) return false;
      out = v;
      return true;
    }
    case kInt64: {
      int64_t v = 0;
      if (!readScalar(v)) return false;
      out = v;
      return true;
    }
    case kFloat64: {
      double v = 0;
      if (!alignTo(8) || !readScalar(v)) return false;
      out = v;
      return true;
    }
    case kString: {
      std::string v;
      if (!readUtf8(v)) return false;
      out = std::move(v);
      return true;
    }
    case kUint8List: {
      std::vector<uint8_t> v;
      if (!readTypedList(v, 1)) return false;
      out = std::move(v);
      return true;
    }
    case kInt32List: {
      std::vector<int32_t> v;
      if (!readTypedList(v, 4)) return false;
      out = std::move(v);
      return true;
    }
    case kInt64List: {
      std::vector<int64_t> v;
      if (!readTypedList(v, 8)) return false;
      out = std::move(v);
      return true;
    }
    case kFloat64List: {
      std::vector<double> v;
      if (!readTypedList(v, 8)) return false;
      out = std::move(v);
      return true;
    }
    case kFloat32List: {
      std::vector<float> v;
      if (!readTypedList(v, 4)) return false;
      out = std::move(v);
      return true;
    }
    case kList: {
      size_t count = 0;
      if (!readSize(count)) return false;
      // Every element takes at least its type byte.
      if (!need(count, "list")) return false;
      EncodableList list(count);
      for (auto& item : list) {
        if (!readValue(item, depth + 1)) return false;
      }
      out = std::move(list);
      return true;
    }
    case kMap: {
      size_t count = 0;
      if (!readSize(count)) return false;
      if (count > (bytes_.size() - position_) / 2) return fail("map runs past the end");
      EncodableMap map;
      for (size_t i = 0; i < count; ++i) {
        EncodableValue key, item;
        if (!readValue(key, depth + 1) || !readValue(item, depth + 1)) return false;
        // A repeated key keeps the last value, as a map literal would.
        map.insert_or_assign(std::move(key), std::move(item));
      }
      out = std::move(map);
      return true;
    }
    case kLargeInt:
      return fail("big integers are not supported");
    default:
      --position_;
      return fail(formatString("unknown type byte %u", type));
  }
}

bool isValidUtf8(std::span<const uint8_t> text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const uint8_t lead = text[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (extra > n - i - 1) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = text[i + k];
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace quillon::codec
