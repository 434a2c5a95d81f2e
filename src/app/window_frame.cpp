#include "app/window_frame.h"

namespace quillon {

namespace {

// Halves rounding towards minus infinity, so that an odd negative difference
// rounds the same way as an odd positive one.
int floorHalf(int value) { return value >= 0 ? value / 2 : -((-value + 1) / 2); }

}  // namespace

std::optional<Rect> mainWindowFrame(const std::optional<Rect>& visibleArea) {
  if (!visibleArea) return std::nullopt;
  return Rect{visibleArea->x + floorHalf(visibleArea->width - kMainWindowWidth),
              visibleArea->y + floorHalf(visibleArea->height - kMainWindowHeight), kMainWindowWidth,
              kMainWindowHeight};
}

}  // namespace quillon
