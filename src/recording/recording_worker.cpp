#include "recording/recording_worker.h"

#include <algorithm>

namespace quillon {

namespace {
constexpr PeriodQueue::Clock::duration kSliceLength = std::chrono::milliseconds(100);
}  // namespace

bool RecordingWorker::Lane::nextCapturedAt(PeriodQueue::Clock::time_point& at) const {
  if (!hasCurrent_) return queue_.peekCapturedAt(at);
  at = current_.capturedAt;
  return true;
}

void RecordingWorker::Lane::consumeNext(PeriodQueue::Clock::duration sliceLength) {
  if (!hasCurrent_ && !queue_.pop(current_)) return;
  hasCurrent_ = true;
  if (current_.kind == PeriodQueue::Kind::audio || current_.bytes <= sliceBytes_) {
    hasCurrent_ = false;
    consume_(current_);
    return;
  }
  slice_.kind = current_.kind;
  slice_.bytes = sliceBytes_;
  slice_.stretchBytes = current_.stretchBytes;
  slice_.capturedAt = current_.capturedAt;
  slice_.data.clear();
  current_.bytes -= sliceBytes_;
  current_.capturedAt += sliceLength;
  // Said once, with the first slice; the rest is plain silence.
  current_.kind = PeriodQueue::Kind::hole;
  consume_(slice_);
}

RecordingWorker::RecordingWorker() : thread_([this](std::stop_token stop) { run(stop); }) {}

RecordingWorker::~RecordingWorker() {
  thread_.request_stop();  // wakes the sleep between polls
  thread_.join();
}

RecordingWorker::Lane* RecordingWorker::addLane(size_t capacityBytes, size_t bytesPerSecond, size_t frameBytes,
                                                Consumer consume) {
  const size_t frame = std::max<size_t>(frameBytes, 1);
  const auto perSlice = static_cast<size_t>(bytesPerSecond * kSliceLength / std::chrono::seconds(1));
  const size_t sliceBytes = std::max(perSlice / frame, size_t{1}) * frame;
  std::lock_guard lock(lanesMutex_);
  lanes_.push_back(std::unique_ptr<Lane>(new Lane(capacityBytes, sliceBytes, std::move(consume))));
  return lanes_.back().get();
}

void RecordingWorker::closeLane(Lane* lane) {
  std::lock_guard lock(lanesMutex_);
  finish(*lane);
  lanes_.remove_if([lane](const std::unique_ptr<Lane>& candidate) { return candidate.get() == lane; });
}

RecordingWorker::Lane* RecordingWorker::earliestLane() {
  Lane* earliest = nullptr;
  PeriodQueue::Clock::time_point earliestAt;
  for (const auto& lane : lanes_) {
    PeriodQueue::Clock::time_point at;
    if (lane->nextCapturedAt(at) && (!earliest || at < earliestAt)) {
      earliest = lane.get();
      earliestAt = at;
    }
  }
  return earliest;
}

void RecordingWorker::run(std::stop_token stop) {
  for (;;) {
    bool handled = false;
    {
      std::lock_guard lock(lanesMutex_);
      if (Lane* lane = earliestLane()) {
        lane->consumeNext(kSliceLength);
        handled = true;
      }
    }
    if (handled) continue;
    std::unique_lock lock(sleepMutex_);
    sleep_.wait_for(lock, stop, kPollInterval, [] { return false; });
    if (stop.stop_requested()) break;
  }
  std::lock_guard lock(lanesMutex_);
  for (const auto& lane : lanes_) finish(*lane);
}

void RecordingWorker::finish(Lane& lane) {
  if (lane.hasCurrent_) {
    lane.hasCurrent_ = false;
    lane.consume_(lane.current_);
  }
  while (lane.queue_.pop(lane.current_)) lane.consume_(lane.current_);
  if (lane.queue_.takeUnreportedDrop(lane.current_)) lane.consume_(lane.current_);
}

}  // namespace quillon
