#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "recording/recording_clock.h"

namespace quillon {

// Keeps one capture's 16 kHz blocks on the recording's timeline. Each block
// comes with the instant its first sample was captured, as the sound server
// reports it. The first block (and one after the stream went quiet for a
// while) is placed by that instant: silence in front when the stream started
// late, its first samples dropped when they were captured before the start.
// From then on the stream's own sample count places its audio, and the
// reports only correct a deviation that lasts a second of audio (a stretch
// the server dropped without saying so, a device clock drifting), by the
// smallest deviation of that second. A source that delivers late for a moment
// catches up by itself and is left alone, so steady audio is never cut and
// missing time is counted once.
class TimelineAligner {
 public:
  // 30 ms: above the jitter of the servers' timing reports, below what a
  // listener hears as speech out of step.
  static constexpr int64_t kToleranceSamples = 480;
  static constexpr int64_t kLastingSamples = RecordingClock::kRate;
  static constexpr std::chrono::milliseconds kQuietBeforeReturn{1000};

  struct Placement {
    size_t silenceBefore = 0;
    size_t dropFront = 0;
  };

  explicit TimelineAligner(std::shared_ptr<const RecordingClock> clock) : clock_(std::move(clock)) {}

  Placement place(RecordingClock::Clock::time_point firstSampleAt, size_t sampleCount);
  // place() applied to a block of float samples (as bytes): silence put in
  // front or leading samples dropped, in place. Answers the placement.
  Placement align(std::vector<uint8_t>& floatBytes, RecordingClock::Clock::time_point firstSampleAt);
  // After the source was paused: a stream's timing reports are off for a
  // while after it resumes, so for at least the next second of audio, and
  // until its latency holds still, the stream's position follows them
  // without adding or cutting samples.
  void rebase() {
    settling_ = true;
    settleLeft_ = kSettleSamples;
    steadyBlocks_ = 0;
  }
  static constexpr int64_t kSettleSamples = RecordingClock::kRate;
  // Samples handed on so far, silence included.
  int64_t position() const { return position_; }

 private:
  std::shared_ptr<const RecordingClock> clock_;
  int64_t position_ = 0;
  bool settling(RecordingClock::Clock::time_point firstSampleAt, size_t sampleCount);
  int64_t lastingGap(int64_t gap, size_t sampleCount);

  bool started_ = false;
  bool settling_ = false;
  int64_t settleLeft_ = 0;  // audio still to pass before settling may end
  RecordingClock::Clock::duration lastLag_{};
  int steadyBlocks_ = 0;
  RecordingClock::Clock::time_point lastArrival_;
  int64_t deviatedFor_ = 0;  // audio for which the deviation has lasted
  int64_t smallestGap_ = 0;
  int64_t toDrop_ = 0;
  int64_t startupLeft_ = 0;  // audio left of the stream's first second
};

}  // namespace quillon
