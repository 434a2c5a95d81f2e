#include "quillon-engine/level_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace quillon {
namespace {

std::vector<uint8_t> sineBlock(double amplitude) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 640; ++i) {
    const auto s = static_cast<int16_t>(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * 500.0 * i / 16000.0));
    bytes.push_back(static_cast<uint8_t>(s & 0xff));
    bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xff));
  }
  return bytes;
}

TEST(LevelMeter, ShowsRmsInDbfsRisesAtOnceAndFallsSlowly) {
  LevelMeter meter;
  EXPECT_EQ(meter.bar(10), "----------");
  const auto loud = sineBlock(1.0);
  meter.feed(loud.data(), loud.size());
  EXPECT_NEAR(meter.levelDb(), -3.01, 0.1);  // a full-scale sine's RMS
  EXPECT_EQ(meter.bar(10), "#########-");

  const std::vector<uint8_t> silence(1280, 0);
  meter.feed(silence.data(), silence.size());
  EXPECT_LT(meter.levelDb(), -3.1);
  EXPECT_GT(meter.levelDb(), -6.0);
  for (int i = 0; i < 200; ++i) meter.feed(silence.data(), silence.size());
  EXPECT_EQ(meter.levelDb(), LevelMeter::kFloorDb);

  const auto quiet = sineBlock(0.01);
  meter.feed(quiet.data(), 3);  // one whole sample and a stray byte
  meter.feed(quiet.data(), quiet.size());
  EXPECT_NEAR(meter.levelDb(), -43.0, 0.3);
}

}  // namespace
}  // namespace quillon
