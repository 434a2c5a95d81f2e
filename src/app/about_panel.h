#pragma once

#include <optional>
#include <string>

#include "app/window_frame.h"

namespace quillon {

// What one About panel shows. The icon is a file the toolkit can load; empty
// when the application has none.
struct AboutPanelContent {
  std::string appName;
  std::string version;
  std::string copyrightText;
  std::string iconPath;
};

inline constexpr int kAboutPanelWidth = 420;
inline constexpr int kAboutPanelHeight = 240;
inline constexpr int kAboutIconSize = 56;
// The copyright line wraps at words and is cut after this many lines.
inline constexpr int kAboutCopyrightMaxLines = 2;

// Frames of the panel's elements, top-left origin, for a content area of the
// given size. The layout is drawn from the bottom edge up (name 135 points
// above the bottom, and so on), so every element keeps its distance from the
// bottom whatever the height; an absent icon leaves its space empty and moves
// nothing else.
struct AboutPanelLayout {
  std::optional<Rect> icon;
  Rect name;
  Rect version;
  Rect copyright;
};
AboutPanelLayout aboutPanelLayout(int width, int height, bool hasIcon);

// "Version " followed by the version, unchanged.
std::string aboutVersionLine(const std::string& version);

// The version this build was made as; "1.0.0" when the build gave none.
std::string applicationVersion(const char* buildVersion);

}  // namespace quillon
