#include "quillon-engine/level_meter.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {
// Per 40 ms block, about 15 dB a second.
constexpr double kFallPerBlockDb = 0.6;
}  // namespace

void LevelMeter::feed(const uint8_t* data, size_t bytes) {
  const size_t count = bytes / 2;
  if (count == 0) return;
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto sample = static_cast<int16_t>(uint16_t(data[2 * i]) | uint16_t(data[2 * i + 1]) << 8);
    const double x = sample / 32768.0;
    sum += x * x;
  }
  const double rms = std::sqrt(sum / double(count));
  const double blockDb = rms > 0 ? std::max(kFloorDb, 20.0 * std::log10(rms)) : kFloorDb;
  levelDb_ = std::max(blockDb, std::max(kFloorDb, levelDb_ - kFallPerBlockDb));
}

std::string LevelMeter::bar(size_t width) const {
  const double fraction = std::clamp((levelDb_ - kFloorDb) / -kFloorDb, 0.0, 1.0);
  const auto filled = static_cast<size_t>(std::lround(fraction * double(width)));
  return std::string(filled, '#') + std::string(width - filled, '-');
}

}  // namespace quillon
