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
// reports it; the aligner answers how much silence goes in front of the block
// (the stream started late, the server dropped audio, the device slept) or how
// many of its first samples to drop (audio from before the start, or a device
// clock running fast). Gaps smaller than the tolerance are timing noise and
// left alone, so steady audio is never cut; missing time is counted once,
// because every correction moves the stream's own position with it.
class TimelineAligner {
 public:
  // 30 ms: above the jitter of the servers' timing reports, below what a
  // listener hears as speech out of step.
  static constexpr int64_t kToleranceSamples = 480;

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

  bool started_ = false;
  bool settling_ = false;
  int64_t settleLeft_ = 0;  // audio still to pass before settling may end
  RecordingClock::Clock::duration lastLag_{};
  int steadyBlocks_ = 0;
};

}  // namespace quillon
