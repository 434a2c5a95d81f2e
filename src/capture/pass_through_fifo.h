#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace quillon {

// The captured system sound waiting for the pass-through player. The capture
// thread appends whole periods, the player's thread takes what it asks for.
// A ring allocated once: the lock is held only around a copy, and nothing
// here allocates, so neither audio thread waits on anything else. Shared by the capture and the
// player's fetch block, so the player never keeps the capture itself alive.
class PassThroughFifo {
 public:
  // Three seconds of 44.1 kHz 16-bit stereo: bounds memory and the delay.
  static constexpr size_t kCapacity = 529200;

  // Appends the whole period, or nothing when it would overflow the cap;
  // `held` answers the size before the call either way.
  bool append(const uint8_t* data, size_t bytes, size_t& held);
  PassThroughFifo() : ring_(std::make_unique<uint8_t[]>(kCapacity)) {}

  // Exactly `bytes` bytes, oldest first, into `out`; false (and the queue
  // unchanged) when fewer are held.
  bool take(uint8_t* out, size_t bytes);
  // Keeps the pass-through close behind the capture: when more than
  // `maxBytes` wait (a burst from a server that woke late, or the two devices'
  // clocks drifting apart), the oldest are dropped until `keepBytes` remain.
  // Answers how many were dropped.
  size_t trim(size_t maxBytes, size_t keepBytes);
  // The least the queue held after a take since the last call, and starts
  // the next window; `kNoTake` when nothing was taken since.
  size_t lowWater();
  static constexpr size_t kNoTake = static_cast<size_t>(-1);
  // Drops up to `bytes` of the oldest; answers how many were dropped.
  size_t dropOldest(size_t bytes);
  void clear();
  size_t size();

 private:
  void dropFront(size_t bytes) {
    head_ = (head_ + bytes) % kCapacity;
    size_ -= bytes;
  }

  std::mutex mutex_;
  std::unique_ptr<uint8_t[]> ring_;
  size_t head_ = 0;  // the oldest byte
  size_t size_ = 0;
  size_t lowWater_ = kNoTake;
};

}  // namespace quillon
