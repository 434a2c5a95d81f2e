#include "capture/pass_through_fifo.h"

#include <algorithm>

namespace quillon {

bool PassThroughFifo::append(const uint8_t* data, size_t bytes, size_t& held) {
  std::lock_guard lock(mutex_);
  held = bytes_.size();
  if (held + bytes > kCapacity) return false;
  bytes_.insert(bytes_.end(), data, data + bytes);
  return true;
}

std::vector<uint8_t> PassThroughFifo::take(size_t bytes) {
  std::lock_guard lock(mutex_);
  if (bytes == 0 || bytes_.size() < bytes) return {};
  std::vector<uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(bytes));
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(bytes));
  return out;
}

size_t PassThroughFifo::trim(size_t maxBytes, size_t keepBytes) {
  std::lock_guard lock(mutex_);
  if (bytes_.size() <= maxBytes || keepBytes >= bytes_.size()) return 0;
  const size_t dropped = bytes_.size() - keepBytes;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(dropped));
  return dropped;
}

void PassThroughFifo::clear() {
  std::lock_guard lock(mutex_);
  bytes_.clear();
}

size_t PassThroughFifo::size() {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}

}  // namespace quillon
