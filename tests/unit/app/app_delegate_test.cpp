#include <gtest/gtest.h>

#include "app/window_frame.h"

// The window's place on full HD and 1024x600 screens, the menu, the About panel and the
// update and exit messages are checked end to end (integration.test_window).
namespace quillon {
namespace {

TEST(MainWindowFrame, CentredOnTheUsableAreaRoundingHalfPixelsUpwardsAndNoneWithoutAScreen) {
  // A top panel of 27 pixels on the second of two side-by-side monitors.
  EXPECT_EQ(mainWindowFrame(Rect{1920, 27, 1280, 1024}), (Rect{2010, 189, 1100, 700}));
  // Odd negative differences round the same way as odd positive ones.
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1099, 699}), (Rect{-1, -1, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1101, 701}), (Rect{0, 0, 1100, 700}));
  EXPECT_FALSE(mainWindowFrame(std::nullopt));  // no screen: the window stays where it is
}

}  // namespace
}  // namespace quillon
