#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace quillon {

// The captured system sound waiting for the pass-through player. The capture
// thread appends whole periods, the player's thread takes what it asks for.
// The lock is held only around the queue operations, so neither thread waits
// on the other's conversion or file writes. Shared by the capture and the
// player's fetch block, so the player never keeps the capture itself alive.
class PassThroughFifo {
 public:
  // Three seconds of 44.1 kHz 16-bit stereo: bounds memory and the delay.
  static constexpr size_t kCapacity = 529200;

  // Appends the whole period, or nothing when it would overflow the cap;
  // `held` answers the size before the call either way.
  bool append(const uint8_t* data, size_t bytes, size_t& held);
  // Exactly `bytes` bytes, oldest first, or nothing (and the queue unchanged)
  // when fewer are held.
  std::vector<uint8_t> take(size_t bytes);
  // Keeps the pass-through close behind the capture: when more than
  // `maxBytes` wait (a burst from a server that woke late, or the two devices'
  // clocks drifting apart), the oldest are dropped until `keepBytes` remain.
  // Answers how many were dropped.
  size_t trim(size_t maxBytes, size_t keepBytes);
  void clear();
  size_t size();

 private:
  std::mutex mutex_;
  std::deque<uint8_t> bytes_;
};

}  // namespace quillon
