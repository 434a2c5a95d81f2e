#include "recording/period_queue.h"

#include <algorithm>
#include <cstring>

namespace quillon {

PeriodQueue::PeriodQueue(size_t capacityBytes)
    : capacity_(std::max<size_t>(capacityBytes, 4 * sizeof(Header))),
      ring_(std::make_unique<uint8_t[]>(capacity_)) {}

void PeriodQueue::copyIn(size_t at, const void* from, size_t count) {
  const size_t start = at % capacity_;
  const size_t first = std::min(count, capacity_ - start);
  std::memcpy(ring_.get() + start, from, first);
  std::memcpy(ring_.get(), static_cast<const uint8_t*>(from) + first, count - first);
}

void PeriodQueue::copyOut(size_t at, void* to, size_t count) const {
  const size_t start = at % capacity_;
  const size_t first = std::min(count, capacity_ - start);
  std::memcpy(to, ring_.get() + start, first);
  std::memcpy(static_cast<uint8_t*>(to) + first, ring_.get(), count - first);
}

void PeriodQueue::write(const Header& header, const uint8_t* payload, size_t payloadBytes) {
  const uint64_t at = writePos_.load(std::memory_order_relaxed);
  copyIn(at, &header, sizeof header);
  if (payloadBytes > 0) copyIn(at + sizeof header, payload, payloadBytes);
  writePos_.store(at + sizeof header + payloadBytes, std::memory_order_release);
}

void PeriodQueue::push(const uint8_t* data, size_t bytes, Clock::time_point capturedAt) {
  if (bytes == 0) return;
  const size_t payload = data ? bytes : 0;
  const uint64_t held = writePos_.load(std::memory_order_relaxed) - readPos_.load(std::memory_order_acquire);
  const size_t free = capacity_ - static_cast<size_t>(held);
  // A stretch being dropped ends only once the worker has really caught up
  // (a quarter of the queue free), not at the first period that squeezes in:
  // one stretch is one record, said once.
  const size_t needed =
      sizeof(Header) + payload + (pendingDropBytes_ > 0 ? sizeof(Header) + capacity_ / 4 : 0);
  if (free < needed) {
    if (pendingDropBytes_ == 0) pendingDropAt_ = capturedAt;
    pendingDropBytes_ += bytes;
    return;
  }
  if (pendingDropBytes_ > 0) {
    write({Kind::dropped, pendingDropBytes_, pendingDropAt_.time_since_epoch().count()}, nullptr, 0);
    pendingDropBytes_ = 0;
  }
  write({data ? Kind::audio : Kind::hole, bytes, capturedAt.time_since_epoch().count()}, data, payload);
}

bool PeriodQueue::pop(Period& out) {
  const uint64_t read = readPos_.load(std::memory_order_relaxed);
  const uint64_t write = writePos_.load(std::memory_order_acquire);
  if (write == read) return false;
  Header header{};
  copyOut(read, &header, sizeof header);
  out.kind = header.kind;
  out.bytes = header.bytes;
  out.stretchBytes = header.kind == Kind::dropped ? header.bytes : 0;
  out.capturedAt = Clock::time_point(Clock::duration(header.capturedAtTicks));
  const size_t payload = header.kind == Kind::audio ? header.bytes : 0;
  out.data.resize(payload);
  if (payload > 0) copyOut(read + sizeof header, out.data.data(), payload);
  readPos_.store(read + sizeof header + payload, std::memory_order_release);
  return true;
}

bool PeriodQueue::peekCapturedAt(Clock::time_point& at) const {
  const uint64_t read = readPos_.load(std::memory_order_relaxed);
  if (writePos_.load(std::memory_order_acquire) == read) return false;
  Header header{};
  copyOut(read, &header, sizeof header);
  at = Clock::time_point(Clock::duration(header.capturedAtTicks));
  return true;
}

bool PeriodQueue::takeUnreportedDrop(Period& out) {
  if (pendingDropBytes_ == 0) return false;
  out.kind = Kind::dropped;
  out.bytes = pendingDropBytes_;
  out.stretchBytes = pendingDropBytes_;
  out.capturedAt = pendingDropAt_;
  out.data.clear();
  pendingDropBytes_ = 0;
  return true;
}

}  // namespace quillon
