#include "app/application_menu.h"

namespace quillon {

ApplicationMenu buildApplicationMenu(const std::string& applicationName, const std::string& menuAbout,
                                     const std::string& menuExit) {
  return ApplicationMenu{applicationName, {{menuAbout, "app.showAbout"}, {menuExit, "app.openExit"}}};
}

}  // namespace quillon
