#include "recording/timeline_aligner.h"

#include <algorithm>

namespace quillon {

TimelineAligner::Placement TimelineAligner::place(RecordingClock::Clock::time_point firstSampleAt,
                                                  size_t sampleCount) {
  Placement placement;
  if (!clock_) {
    position_ += static_cast<int64_t>(sampleCount);
    return placement;
  }
  const int64_t target = clock_->sampleAt(firstSampleAt);
  int64_t gap = target - position_;
  if (started_ && settling(firstSampleAt, sampleCount)) {
    // Settling: the position follows the reports, the audio continues
    // seamlessly.
    position_ = target + static_cast<int64_t>(sampleCount);
    return placement;
  }
  if (started_ && gap > -kToleranceSamples && gap < kToleranceSamples) gap = 0;
  started_ = true;
  if (gap > 0) {
    placement.silenceBefore = static_cast<size_t>(gap);
  } else if (gap < 0) {
    placement.dropFront = static_cast<size_t>(std::min<int64_t>(-gap, static_cast<int64_t>(sampleCount)));
  }
  position_ += static_cast<int64_t>(placement.silenceBefore) + static_cast<int64_t>(sampleCount) -
               static_cast<int64_t>(placement.dropFront);
  return placement;
}

bool TimelineAligner::settling(RecordingClock::Clock::time_point firstSampleAt, size_t sampleCount) {
  if (!settling_) return false;
  // A source that held audio back while paused drains it at once, and its
  // reports then run ahead of its audio, the latency shrinking block after
  // block. Settled means a second of audio and latencies that hold still.
  const auto lag = RecordingClock::Clock::now() - firstSampleAt;
  const auto change = lag > lastLag_ ? lag - lastLag_ : lastLag_ - lag;
  steadyBlocks_ = change < std::chrono::milliseconds(10) ? steadyBlocks_ + 1 : 0;
  lastLag_ = lag;
  settleLeft_ -= std::min<int64_t>(settleLeft_, static_cast<int64_t>(sampleCount));
  if (settleLeft_ == 0 && steadyBlocks_ >= 3) settling_ = false;
  return settling_;
}

TimelineAligner::Placement TimelineAligner::align(std::vector<uint8_t>& floatBytes,
                                                  RecordingClock::Clock::time_point firstSampleAt) {
  const Placement placement = place(firstSampleAt, floatBytes.size() / sizeof(float));
  if (placement.dropFront > 0) {
    floatBytes.erase(floatBytes.begin(),
                     floatBytes.begin() + static_cast<std::ptrdiff_t>(placement.dropFront * sizeof(float)));
  }
  if (placement.silenceBefore > 0) floatBytes.insert(floatBytes.begin(), placement.silenceBefore * sizeof(float), 0);
  return placement;
}

}  // namespace quillon
