#pragma once

#include <string>

namespace quillon {

// The application's user-visible texts, written by the application channel's
// "init" and read by the menu and the About panel. Main thread only.
struct AppTexts {
  std::string applicationName = "Quillon";
  std::string menuAbout = "关于我们";
  std::string menuUpdate = "更新";
  std::string menuSettings = "设置";
  std::string menuOpen = "打开";
  std::string menuExit = "退出";
  std::string menuAboutCopyrightTip = "Copyright © 2026 Quillon. All rights reserved.";
};

// The process's texts; the application delegate's class-level fields.
AppTexts& appTexts();

}  // namespace quillon
