#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/output_device_state_file.h"
#include "capture/pass_through_fifo.h"
#include "support/test_support.h"

namespace quillon {
namespace {

TEST(PassThroughFifo, HoldsAtMostThreeSecondsAndHandsOutOnlyWhatItHasInOrderAcrossTheRingsEnd) {
  PassThroughFifo fifo;
  std::vector<uint8_t> period(529000);
  for (size_t i = 0; i < period.size(); ++i) period[i] = static_cast<uint8_t>(i % 251);
  size_t held = 99;
  ASSERT_TRUE(fifo.append(period.data(), period.size(), held));
  EXPECT_EQ(held, 0u);
  // 529300 would be over the cap: the period is refused whole.
  std::vector<uint8_t> more(300, 0xAB);
  EXPECT_FALSE(fifo.append(more.data(), 300, held));
  EXPECT_EQ(held, 529000u);
  // Exactly the cap is accepted.
  ASSERT_TRUE(fifo.append(more.data(), 200, held));
  EXPECT_EQ(fifo.size(), PassThroughFifo::kCapacity);

  std::vector<uint8_t> out(PassThroughFifo::kCapacity + 4, 0xEE);
  EXPECT_FALSE(fifo.take(out.data(), PassThroughFifo::kCapacity + 4));
  EXPECT_EQ(out[0], 0xEE);
  ASSERT_TRUE(fifo.take(out.data(), 4096));
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4096, period.begin()));

  // Room at the front again: the next period wraps round the ring's end and
  // still comes out after everything before it, byte for byte.
  std::vector<uint8_t> wrapped(3000);
  for (size_t i = 0; i < wrapped.size(); ++i) wrapped[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(fifo.append(wrapped.data(), wrapped.size(), held));
  ASSERT_TRUE(fifo.take(out.data(), 529000 - 4096 + 200));
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + (529000 - 4096), period.begin() + 4096));
  EXPECT_EQ(out[529000 - 4096 + 199], 0xAB);
  ASSERT_TRUE(fifo.take(out.data(), wrapped.size()));
  EXPECT_TRUE(std::equal(wrapped.begin(), wrapped.end(), out.begin()));
  EXPECT_EQ(fifo.size(), 0u);
}

TEST(OutputDeviceStateFile, LivesUnderTheUsersStateFolder) {
  test::TempDir home;
  const char* old = std::getenv("XDG_STATE_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_STATE_HOME", home.str().c_str(), 1);
  EXPECT_EQ(OutputDeviceStateFile().path(), home.str() + "/quillon-host/speaker-output-device");
  if (old) setenv("XDG_STATE_HOME", saved.c_str(), 1); else unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace quillon
