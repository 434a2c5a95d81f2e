#include "recording/source_levels.h"

#include <cmath>
#include <cstring>

namespace quillon {

SourceLevels& sourceLevels() {
  static SourceLevels levels;
  return levels;
}

float blockPeak(const ByteBuffer& block) {
  float peak = 0.0f;
  const size_t count = block.size() / sizeof(float);
  for (size_t i = 0; i < count; ++i) {
    float sample;
    std::memcpy(&sample, block.data() + i * sizeof(float), sizeof sample);
    // NaN fails the comparison and so never becomes the peak.
    if (std::fabs(sample) > peak) peak = std::fabs(sample);
  }
  return peak;
}

}  // namespace quillon
