#pragma once

#include <algorithm>
#include <cstdint>

namespace quillon {

// Float to 16-bit the one way the whole recording path does it: clamp to
// [-1, 1], scale by 32767, truncate toward zero. Full scale is +/-32767;
// -32768 never occurs.
// NaN, which a broken source could deliver, becomes silence.
inline int16_t floatToPcm16(float sample) {
  if (sample != sample) return 0;
  const float clamped = sample < -1.0f ? -1.0f : std::min(sample, 1.0f);
  return static_cast<int16_t>(clamped * 32767.0f);
}

}  // namespace quillon
