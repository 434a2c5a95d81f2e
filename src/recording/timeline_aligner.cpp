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
  if (started_ && position_ < settleUntil_) {
    // Settling after a pause: the position follows the reports, the audio
    // continues seamlessly.
    settleUntil_ += gap;
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
