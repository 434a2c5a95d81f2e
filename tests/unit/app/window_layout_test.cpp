#include <gtest/gtest.h>

#include "app/about_panel.h"
#include "app/window_frame.h"

namespace quillon {
namespace {

// Full HD and 1024x600 screens are checked on a real X server (integration.test_window).
TEST(MainWindowFrame, CentredOnTheUsableAreaRoundingHalfPixelsUpwards) {
  // A top panel of 27 pixels: centred in what is left.
  EXPECT_EQ(mainWindowFrame(Rect{0, 27, 1920, 1053}), (Rect{410, 203, 1100, 700}));
  // The second of two side-by-side monitors.
  EXPECT_EQ(mainWindowFrame(Rect{1920, 0, 1280, 1024}), (Rect{2010, 162, 1100, 700}));
  // Odd negative differences round the same way as odd positive ones.
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1099, 699}), (Rect{-1, -1, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1101, 701}), (Rect{0, 0, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(std::nullopt), std::nullopt);
}

TEST(AboutPanelLayout, MeasuredFromTheBottomEdge) {
  const auto layout = aboutPanelLayout(kAboutPanelWidth, kAboutPanelHeight, true);
  ASSERT_TRUE(layout.icon);
  EXPECT_EQ(*layout.icon, (Rect{182, 24, 56, 56}));
  EXPECT_EQ(layout.name, (Rect{0, 85, 420, 20}));
  EXPECT_EQ(layout.version, (Rect{0, 107, 420, 18}));
  EXPECT_EQ(layout.copyright, (Rect{20, 180, 380, 40}));

  // Without an icon its space stays empty and nothing else moves.
  const auto bare = aboutPanelLayout(kAboutPanelWidth, kAboutPanelHeight, false);
  EXPECT_FALSE(bare.icon);
  EXPECT_EQ(bare.name, layout.name);
  EXPECT_EQ(bare.copyright, layout.copyright);
}

TEST(AboutPanelText, VersionLineAndBuildVersion) {
  EXPECT_EQ(aboutVersionLine("2.3.0-beta 7"), "Version 2.3.0-beta 7");
  EXPECT_EQ(applicationVersion(nullptr), "1.0.0");
  EXPECT_EQ(applicationVersion(""), "1.0.0");
  EXPECT_EQ(applicationVersion("0.1.0"), "0.1.0");
}

}  // namespace
}  // namespace quillon
