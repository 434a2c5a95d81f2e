#include "app/about_panel.h"

namespace quillon {

namespace {

// From a frame measured from the bottom-left corner to one measured from the top-left.
Rect fromBottom(int height, int x, int bottom, int width, int frameHeight) {
  return Rect{x, height - bottom - frameHeight, width, frameHeight};
}

}  // namespace

AboutPanelLayout aboutPanelLayout(int width, int height, bool hasIcon) {
  AboutPanelLayout layout;
  if (hasIcon) {
    layout.icon = fromBottom(height, (width - kAboutIconSize) / 2, 160, kAboutIconSize, kAboutIconSize);
  }
  layout.name = fromBottom(height, 0, 135, width, 20);
  layout.version = fromBottom(height, 0, 115, width, 18);
  layout.copyright = fromBottom(height, 20, 20, width - 40, 40);
  return layout;
}

std::string aboutVersionLine(const std::string& version) { return "Version " + version; }

std::string applicationVersion(const char* buildVersion) {
  if (buildVersion == nullptr || *buildVersion == '\0') return "1.0.0";
  return buildVersion;
}

}  // namespace quillon
