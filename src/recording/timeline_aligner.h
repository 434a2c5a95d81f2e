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
// reports it. A stream's first second (and a stream that comes back after
// more than two seconds of nothing, when the mixer has padded it) is placed by
// those instants: silence in front when the stream started late, its first
// samples dropped when they were captured before the start. From then on the
// stream's own sample count places its audio, with the holes the server
// reports filled by the capture: a source late for a while catches up by
// itself, steady audio is never cut, and missing time is counted once.
class TimelineAligner {
 public:
  // 30 ms: above the jitter of the servers' timing reports, below what a
  // listener hears as speech out of step.
  static constexpr int64_t kToleranceSamples = 480;
  static constexpr int64_t kStartupSamples = RecordingClock::kRate;
  static constexpr std::chrono::milliseconds kQuietBeforeReturn{2000};

  struct Placement {
    size_t silenceBefore = 0;
    size_t dropFront = 0;
  };

  explicit TimelineAligner(std::shared_ptr<const RecordingClock> clock) : clock_(std::move(clock)) {}

  Placement place(RecordingClock::Clock::time_point firstSampleAt, size_t sampleCount);
  // place() applied to a block of samples: silence put in front or leading
  // samples dropped, in place. Answers the placement.
  Placement align(std::vector<float>& samples, RecordingClock::Clock::time_point firstSampleAt);
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

 private:
  std::shared_ptr<const RecordingClock> clock_;
  int64_t position_ = 0;
  bool settling(RecordingClock::Clock::time_point firstSampleAt, size_t sampleCount);

  bool started_ = false;
  bool settling_ = false;
  int64_t settleLeft_ = 0;  // audio still to pass before settling may end
  RecordingClock::Clock::duration lastLag_{};
  int steadyBlocks_ = 0;
  RecordingClock::Clock::time_point lastEnd_;  // when the last block's audio ended
  int64_t toDrop_ = 0;
  int64_t startupLeft_ = 0;  // audio left of the stream's first second
};

}  // namespace quillon
