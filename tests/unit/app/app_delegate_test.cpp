#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "app/window_frame.h"
#include "fakes/fake_messenger.h"

// The window's place, the menu, the About panel and the update and exit
// messages are checked end to end (integration.test_window).
namespace quillon {
namespace {

// A desktop without a toolkit: a screen of the test's choosing and a record
// of what the delegate asked for.
class FakeDesktopShell final : public DesktopShell {
 public:
  bool window = true;
  std::optional<Rect> screen = Rect{0, 0, 1920, 1080};
  FakeMessenger messenger;

  std::optional<Rect> windowFrame;
  std::vector<ApplicationMenu> menus;
  int quits = 0;

  bool hasMainWindow() const override { return window; }
  std::optional<Rect> visibleScreenArea() const override { return screen; }
  void setMainWindowFrame(const Rect& frame) override { windowFrame = frame; }
  void presentMainWindow() override {}
  void hideMainWindow() override {}
  void installMenu(const ApplicationMenu& menu) override { menus.push_back(menu); }
  void showAboutPanel(const AboutPanelContent&) override {}
  void quit() override { ++quits; }
  BinaryMessenger* engineMessenger() override { return window ? &messenger : nullptr; }
  std::string iconPath() const override { return ""; }
};

TEST(MainWindowFrame, CentredOnTheUsableAreaRoundingHalfPixelsUpwards) {
  // A top panel of 27 pixels on the second of two side-by-side monitors.
  EXPECT_EQ(mainWindowFrame(Rect{1920, 27, 1280, 1024}), (Rect{2010, 189, 1100, 700}));
  // Odd negative differences round the same way as odd positive ones.
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1099, 699}), (Rect{-1, -1, 1100, 700}));
  EXPECT_EQ(mainWindowFrame(Rect{0, 0, 1101, 701}), (Rect{0, 0, 1100, 700}));
}

// Without a screen the window is left where it is and the menu still comes;
// messages reach the engine only with a window and a connected engine.
TEST(AppDelegate, MenuAndActionsWithoutAScreenAWindowOrAnEngine) {
  FakeDesktopShell shell;
  AppDelegate delegate{shell};
  shell.screen.reset();
  delegate.applicationDidFinishLaunching();
  EXPECT_FALSE(shell.windowFrame);
  EXPECT_EQ(shell.menus.size(), 1u);

  EXPECT_TRUE(delegate.performAction("openSettings"));
  auto sent = shell.messenger.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].call.method, "menuOnSettings");
  shell.messenger.setEngineConnected(false);
  delegate.callFlutter("menuOnExit");
  shell.messenger.setEngineConnected(true);
  shell.window = false;
  delegate.callFlutter("menuOnExit");
  EXPECT_EQ(shell.messenger.sent().size(), 1u);

  EXPECT_TRUE(delegate.performAction("simulateShutdown"));
  EXPECT_EQ(shell.quits, 1);
}

}  // namespace
}  // namespace quillon
