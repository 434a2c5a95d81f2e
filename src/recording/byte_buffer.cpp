#include "recording/byte_buffer.h"

#include <cstring>

namespace quillon {

ByteBuffer::ByteBuffer(std::vector<uint8_t> bytes)
    : storage_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))) {}

ByteBuffer ByteBuffer::copyOf(const void* data, size_t size) {
  std::vector<uint8_t> bytes(size);
  if (size > 0 && data != nullptr) std::memcpy(bytes.data(), data, size);
  return ByteBuffer(std::move(bytes));
}

const std::vector<uint8_t>& ByteBuffer::bytes() const {
  static const std::vector<uint8_t> kEmpty;
  return storage_ ? *storage_ : kEmpty;
}

}  // namespace quillon
