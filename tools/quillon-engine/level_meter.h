#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// The live level of a recording's 16-bit mono PCM, as a terminal meter: it
// follows rises at once and falls back slowly, so short peaks stay visible.
class LevelMeter {
 public:
  static constexpr double kFloorDb = -60.0;

  // Feeds one block of little-endian 16-bit samples (a trailing odd byte is ignored).
  void feed(const uint8_t* data, size_t bytes);
  // RMS level of what was fed, with the slow fall, in dBFS (kFloorDb for silence).
  double levelDb() const { return levelDb_; }
  // A bar of `width` cells filled in proportion to the level above the floor.
  std::string bar(size_t width) const;

 private:
  double levelDb_ = kFloorDb;
};

}  // namespace quillon
