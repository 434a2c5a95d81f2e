#pragma once

#include <optional>

namespace quillon {

// A rectangle in screen coordinates (y grows downwards, as on X11 and GTK).
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// The main window's size as the user sees it; also its minimum size.
inline constexpr int kMainWindowWidth = 1100;
inline constexpr int kMainWindowHeight = 700;

// Where the main window goes on a screen whose usable area (the screen less
// panels and docks) is `visibleArea`: centred, always 1100 × 700, even when the
// area is smaller, so that its origin may then lie outside the area. Without a
// screen the window is left where it is (none). Half pixels round towards the
// top-left.
std::optional<Rect> mainWindowFrame(const std::optional<Rect>& visibleArea);

}  // namespace quillon
