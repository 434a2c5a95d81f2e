#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/desktop_shell.h"
#include "engine/binary_messenger.h"

namespace quillon::test {

// A desktop without a toolkit: a screen of the test's choosing and a record
// of what the delegate asked for.
class FakeDesktopShell final : public DesktopShell {
 public:
  bool window = true;
  std::optional<Rect> screen = Rect{0, 0, 1920, 1080};
  BinaryMessenger* messenger = nullptr;

  std::optional<Rect> windowFrame;
  int presents = 0;
  std::vector<ApplicationMenu> menus;
  std::vector<AboutPanelContent> panels;
  int quits = 0;

  bool hasMainWindow() const override { return window; }
  std::optional<Rect> visibleScreenArea() const override { return screen; }
  void setMainWindowFrame(const Rect& frame) override { windowFrame = frame; }
  void presentMainWindow() override { ++presents; }
  void hideMainWindow() override {}
  void installMenu(const ApplicationMenu& menu) override { menus.push_back(menu); }
  void showAboutPanel(const AboutPanelContent& content) override { panels.push_back(content); }
  void quit() override { ++quits; }
  BinaryMessenger* engineMessenger() override { return window ? messenger : nullptr; }
  std::string iconPath() const override { return "/icons/app.png"; }
};

}  // namespace quillon::test
