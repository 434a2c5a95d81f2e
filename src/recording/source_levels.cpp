#include "recording/source_levels.h"

#include <cmath>

namespace quillon {

SourceLevels& sourceLevels() {
  static SourceLevels levels;
  return levels;
}

float blockPeak(std::span<const float> block) {
  float peak = 0.0f;
  for (const float sample : block) {
    // NaN fails the comparison and so never becomes the peak.
    if (std::fabs(sample) > peak) peak = std::fabs(sample);
  }
  return peak;
}

}  // namespace quillon
