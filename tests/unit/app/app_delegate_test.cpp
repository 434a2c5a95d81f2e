#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "fakes/fake_desktop_shell.h"
#include "fakes/fake_messenger.h"
#include "support/expected_log_lines.h"
#include "support/log_capture.h"

// The window's place on a real screen, the menu's title, the About panel as
// drawn with the texts of its moment, and the update and exit messages are
// checked end to end (integration.test_window); these are the cases only a fake shows.
namespace quillon {
namespace {

class AppDelegateTest : public testing::Test {
 protected:
  AppDelegateTest() { shell.messenger = &messenger; }

  test::LogCapture log;
  test::FakeDesktopShell shell;
  FakeMessenger messenger;
  AppDelegate delegate{shell};
};

TEST_F(AppDelegateTest, TheMenuOffersAboutAndExitWithoutAScreenOrAWindowToo) {
  shell.screen.reset();
  delegate.applicationDidFinishLaunching();
  EXPECT_FALSE(shell.windowFrame);
  shell.window = false;
  delegate.applicationDidBecomeActive();
  EXPECT_EQ(shell.presents, 0);
  ASSERT_EQ(shell.menus.size(), 1u);
  const auto& items = shell.menus[0].items;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(std::make_pair(items[0].label, items[0].action), std::make_pair(std::string("关于我们"), std::string("app.showAbout")));
  EXPECT_EQ(std::make_pair(items[1].label, items[1].action), std::make_pair(std::string("退出"), std::string("app.openExit")));
  EXPECT_TRUE(delegate.performAction("showAbout"));
  ASSERT_EQ(shell.panels.size(), 1u);
  EXPECT_EQ(shell.panels[0].version, QUILLON_VERSION);
  EXPECT_EQ(shell.panels[0].iconPath, "/icons/app.png");
}

TEST_F(AppDelegateTest, ActionsReachTheEngineOnlyWithAWindowAndAConnectedEngine) {
  EXPECT_TRUE(delegate.performAction("openSettings"));
  EXPECT_FALSE(delegate.performAction("OpenExit"));  // action names keep their case
  // Its channel and null arguments are checked end to end with the update
  // and exit actions (integration.test_window).
  auto sent = messenger.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].call.method, "menuOnSettings");
  EXPECT_FALSE(sent[0].wantsReply);

  // A completion has no caller in the host; one reaching the caller is
  // MethodChannel's test.
  messenger.setEngineConnected(false);
  delegate.callFlutter("menuOnExit");
  messenger.setEngineConnected(true);
  shell.window = false;
  delegate.callFlutter("menuOnExit");
  EXPECT_EQ(messenger.sent().size(), 1u);

  EXPECT_TRUE(delegate.performAction("simulateShutdown"));
  EXPECT_EQ(shell.quits, 1);
  EXPECT_EQ(log.count(std::string(test::log_lines::kSimulateShutdown)), 1u);
}

}  // namespace
}  // namespace quillon
