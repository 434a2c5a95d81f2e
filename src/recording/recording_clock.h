#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace quillon {

// The recording's own timeline: time since the recording started, with the
// paused stretches taken out. Both captures place their audio on it, so a
// sound that reaches the microphone and the output at the same instant lands
// at the same sample of the recording whatever each stream's start-up delay.
// Thread-safe; the lock is held for a few arithmetic steps only.
class RecordingClock {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int64_t kRate = 16000;

  explicit RecordingClock(Clock::time_point origin = Clock::now()) : origin_(origin) {}

  // The timeline sample (16 kHz) of an instant; negative before the start.
  int64_t sampleAt(Clock::time_point t) const;
  void pause(Clock::time_point t = Clock::now());
  void resume(Clock::time_point t = Clock::now());

 private:
  mutable std::mutex mutex_;
  Clock::time_point origin_;
  Clock::duration paused_{};
  std::optional<Clock::time_point> pausedSince_;
};

}  // namespace quillon
