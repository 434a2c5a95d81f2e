#include "capture/pass_through_fifo.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillon {

bool PassThroughFifo::append(const uint8_t* data, size_t bytes, size_t& held) {
  std::lock_guard lock(mutex_);
  held = size_;
  if (size_ + bytes > kCapacity) return false;
  const size_t tail = (head_ + size_) % kCapacity;
  const size_t first = std::min(bytes, kCapacity - tail);
  std::memcpy(ring_.get() + tail, data, first);
  std::memcpy(ring_.get(), data + first, bytes - first);
  size_ += bytes;
  return true;
}

bool PassThroughFifo::take(uint8_t* out, size_t bytes) {
  std::lock_guard lock(mutex_);
  if (bytes == 0 || size_ < bytes) {
    lowWater_ = std::min(lowWater_, size_);
    return false;
  }
  const size_t first = std::min(bytes, kCapacity - head_);
  std::memcpy(out, ring_.get() + head_, first);
  std::memcpy(out + first, ring_.get(), bytes - first);
  dropFront(bytes);
  lowWater_ = std::min(lowWater_, size_);
  return true;
}

size_t PassThroughFifo::trim(size_t maxBytes, size_t keepBytes) {
  std::lock_guard lock(mutex_);
  if (size_ <= maxBytes || keepBytes >= size_) return 0;
  const size_t dropped = size_ - keepBytes;
  dropFront(dropped);
  return dropped;
}

size_t PassThroughFifo::lowWater() {
  std::lock_guard lock(mutex_);
  return std::exchange(lowWater_, kNoTake);
}

size_t PassThroughFifo::dropOldest(size_t bytes) {
  std::lock_guard lock(mutex_);
  const size_t dropped = std::min(bytes, size_);
  dropFront(dropped);
  return dropped;
}

void PassThroughFifo::clear() {
  std::lock_guard lock(mutex_);
  head_ = 0;
  size_ = 0;
  lowWater_ = kNoTake;
}

size_t PassThroughFifo::size() {
  std::lock_guard lock(mutex_);
  return size_;
}

}  // namespace quillon
