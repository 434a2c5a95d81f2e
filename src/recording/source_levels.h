#pragma once

#include <atomic>

#include <span>

namespace quillon {

// The loudness of the latest converted block of each source, for the
// window's meters. The audio path only stores a number here; whoever shows
// the levels reads and resets them on its own schedule.
struct SourceLevels {
  std::atomic<float> microphone{0.0f};
  std::atomic<float> systemAudio{0.0f};
};

// The process's levels; one recording runs at a time.
SourceLevels& sourceLevels();

// The largest magnitude among the block's samples, 0 for none.
float blockPeak(std::span<const float> block);

}  // namespace quillon
