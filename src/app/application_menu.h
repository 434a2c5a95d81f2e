#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The application's actions, reachable by name ("app." + name in the toolkit's
// action namespace, and over the session bus).
inline constexpr std::array<std::string_view, 6> kApplicationActions = {
    "showAbout", "checkUpdate", "openSettings", "openExit", "showMainWindow", "simulateShutdown"};

struct MenuEntry {
  std::string label;
  std::string action;  // detailed action name, e.g. "app.showAbout"
};

// One application menu titled with the application's name.
struct ApplicationMenu {
  std::string title;
  std::vector<MenuEntry> items;
};

// The menu as it is built at launch: the texts are copied, so a later change
// of the texts does not reach an installed menu.
ApplicationMenu buildApplicationMenu(const std::string& applicationName, const std::string& menuAbout,
                                     const std::string& menuExit);

}  // namespace quillon
