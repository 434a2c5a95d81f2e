#include "recording/recording_clock.h"

#include <cmath>

namespace quillon {

int64_t RecordingClock::sampleAt(Clock::time_point t) const {
  std::lock_guard lock(mutex_);
  // An instant inside a pause sits where the pause began.
  if (pausedSince_ && t > *pausedSince_) t = *pausedSince_;
  const double seconds = std::chrono::duration<double>(t - origin_ - paused_).count();
  return std::llround(seconds * static_cast<double>(kRate));
}

void RecordingClock::pause(Clock::time_point t) {
  std::lock_guard lock(mutex_);
  if (!pausedSince_) pausedSince_ = t;
}

void RecordingClock::resume(Clock::time_point t) {
  std::lock_guard lock(mutex_);
  if (!pausedSince_) return;
  if (t > *pausedSince_) paused_ += t - *pausedSince_;
  pausedSince_.reset();
}

}  // namespace quillon
