#include <gtest/gtest.h>

#include "app/window_frame.h"

// Full HD and 1024x600 screens, the About panel's layout and its version line
// are checked on a real X server (integration.test_window).
namespace quillon {
namespace {

TEST(MainWindowFrame, CentredOnTheUsableAreaRoundingHalfPixelsUpwards) {
  // A top panel of 27 pixels on the second of two side-by-side monitors.
  EXPECT_EQ(mainWindowFrame(Rect{1920, 27, 1280, 1024}), (Rect{2010, 189, 1100, 700}));
  // Odd negative differences round the same way as odd positive ones.
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1099, 699}), (Rect{-1, -1, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1101, 701}), (Rect{0, 0, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace quillon
