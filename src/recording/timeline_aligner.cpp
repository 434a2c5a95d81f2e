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
  // A stream that went quiet for a while and comes back is placed at once,
  // like a new one. Judged by capture times, not by when the block is
  // processed: a worker that fell behind is not a quiet stream.
  const bool returning = started_ && firstSampleAt - lastEnd_ > kQuietBeforeReturn;
  lastEnd_ = firstSampleAt + std::chrono::duration_cast<RecordingClock::Clock::duration>(
                                 std::chrono::duration<double>(static_cast<double>(sampleCount) / RecordingClock::kRate));
  // In a stream's first second its reports settle (an idle sink waking, the
  // first timing update arriving): they are followed at once. After it the
  // stream's own sample count places its audio: a source late for a while (a
  // busy machine) catches up by itself, and what the server lost arrives as
  // holes of their real length.
  if (started_ && !returning) {
    gap = startupLeft_ > 0 && (gap <= -kToleranceSamples || gap >= kToleranceSamples) ? gap : 0;
  }
  if (!started_ || returning) startupLeft_ = kStartupSamples;
  startupLeft_ -= std::min<int64_t>(startupLeft_, static_cast<int64_t>(sampleCount));
  started_ = true;
  if (gap > 0) {
    placement.silenceBefore = static_cast<size_t>(gap);
    toDrop_ = 0;
  } else if (gap < 0) {
    toDrop_ = -gap;  // across blocks when this one is shorter
  }
  if (toDrop_ > 0) {
    placement.dropFront = static_cast<size_t>(std::min<int64_t>(toDrop_, static_cast<int64_t>(sampleCount)));
    toDrop_ -= static_cast<int64_t>(placement.dropFront);
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

TimelineAligner::Placement TimelineAligner::align(std::vector<float>& samples,
                                                  RecordingClock::Clock::time_point firstSampleAt) {
  const Placement placement = place(firstSampleAt, samples.size());
  if (placement.dropFront > 0) {
    samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(placement.dropFront));
  }
  if (placement.silenceBefore > 0) samples.insert(samples.begin(), placement.silenceBefore, 0.0f);
  return placement;
}

}  // namespace quillon
