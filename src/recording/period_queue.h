#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillon {

// Carries one capture's periods from the sound server's callback thread to
// the recording's worker without the callback thread ever waiting: one
// producer, one consumer, a ring of bytes allocated once at the start.
//
// When the worker falls so far behind that a period does not fit (a disk
// that stalls for many seconds), the period is dropped and its length is
// remembered; once the worker has caught up (a quarter of the queue free),
// that length goes through the queue as one `dropped` record ahead of the
// next period, so the worker counts the time as silence and alignment and
// duration stay true.
class PeriodQueue {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Kind : uint8_t {
    audio,    // bytes captured by the device
    hole,     // time the sound server lost: `bytes` of silence
    dropped,  // time this queue had no room for: `bytes` of silence
  };

  struct Period {
    Kind kind = Kind::audio;
    size_t bytes = 0;
    // For a `dropped` record: the length of the whole stretch, which the
    // worker may hand on in slices (the first `dropped`, the rest `hole`).
    size_t stretchBytes = 0;
    Clock::time_point capturedAt;
    std::vector<uint8_t> data;  // `bytes` long for audio, empty otherwise
  };

  explicit PeriodQueue(size_t capacityBytes);
  PeriodQueue(const PeriodQueue&) = delete;
  PeriodQueue& operator=(const PeriodQueue&) = delete;

  // The producer. Null data is a hole. Never blocks or allocates.
  void push(const uint8_t* data, size_t bytes, Clock::time_point capturedAt);
  // The consumer: the oldest record into `out` (its buffer reused); false when empty.
  bool pop(Period& out);
  // The consumer: when the oldest record was captured; false when empty.
  bool peekCapturedAt(Clock::time_point& at) const;
  // Once the producer has stopped for good: time dropped that never got
  // through as a record, handed to the consumer as one; false when none.
  bool takeUnreportedDrop(Period& out);

 private:
  struct Header {
    Kind kind;
    uint64_t bytes;
    int64_t capturedAtTicks;
  };

  // The caller has made sure it fits.
  void write(const Header& header, const uint8_t* payload, size_t payloadBytes);
  void copyIn(size_t at, const void* from, size_t count);
  void copyOut(size_t at, void* to, size_t count) const;

  const size_t capacity_;
  std::unique_ptr<uint8_t[]> ring_;
  // Monotonic byte positions; their difference is what the ring holds.
  alignas(64) std::atomic<uint64_t> writePos_{0};
  alignas(64) std::atomic<uint64_t> readPos_{0};
  // The producer's own: time not yet reported as a `dropped` record.
  size_t pendingDropBytes_ = 0;
  Clock::time_point pendingDropAt_;
};

}  // namespace quillon
