#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include "app/app_texts.h"
#include "engine/standard_codec.h"
#include "fakes/fake_desktop_shell.h"
#include "fakes/fake_messenger.h"
#include "support/expected_log_lines.h"
#include "unit/logging/day_log.h"

// The window's place on a real screen, the menu's title after "init", the
// About panel as drawn, and the menu's engine messages are checked end to end
// (integration.test_window); these are the cases only a fake shows.
namespace quillon {
namespace {

// The texts are process-wide; each test starts from the defaults and leaves them so.
class AppDelegateTest : public test::WithDayLog {
 protected:
  void SetUp() override {
    WithDayLog::SetUp();
    appTexts() = AppTexts{};
    shell.messenger = &messenger;
  }
  void TearDown() override {
    appTexts() = AppTexts{};
    WithDayLog::TearDown();
  }

  test::FakeDesktopShell shell;
  FakeMessenger messenger;
  AppDelegate delegate{shell};
};

TEST_F(AppDelegateTest, TheMenuOffersAboutAndExitAndAboutShowsTheTextsOfItsMoment) {
  delegate.applicationDidFinishLaunching();
  ASSERT_EQ(shell.menus.size(), 1u);
  const ApplicationMenu& menu = shell.menus[0];
  EXPECT_EQ(menu.title, "Quillon");
  ASSERT_EQ(menu.items.size(), 2u);
  EXPECT_EQ(menu.items[0].label, "关于我们");
  EXPECT_EQ(menu.items[0].action, "app.showAbout");
  EXPECT_EQ(menu.items[1].label, "退出");
  EXPECT_EQ(menu.items[1].action, "app.openExit");

  appTexts().applicationName = "Renamed";
  appTexts().menuAboutCopyrightTip = "(c) Someone";
  EXPECT_TRUE(delegate.performAction("showAbout"));
  ASSERT_EQ(shell.panels.size(), 1u);
  EXPECT_EQ(shell.panels[0].appName, "Renamed");
  EXPECT_EQ(shell.panels[0].copyrightText, "(c) Someone");
  EXPECT_EQ(shell.panels[0].version, QUILLON_VERSION);
  EXPECT_EQ(shell.panels[0].iconPath, "/icons/app.png");
}

TEST_F(AppDelegateTest, WithoutScreenOrWindowNothingIsShaped) {
  shell.screen.reset();
  delegate.applicationDidFinishLaunching();
  EXPECT_FALSE(shell.windowFrame);

  test::FakeDesktopShell bare;
  bare.window = false;
  AppDelegate windowless(bare);
  windowless.applicationDidFinishLaunching();
  EXPECT_FALSE(bare.windowFrame);
  EXPECT_EQ(bare.menus.size(), 1u);
  windowless.applicationDidBecomeActive();
  EXPECT_EQ(bare.presents, 0);
}

TEST_F(AppDelegateTest, SettingsBecomesACallOnTheApplicationChannelAndActionNamesKeepTheirCase) {
  EXPECT_TRUE(delegate.performAction("openSettings"));
  EXPECT_FALSE(delegate.performAction("OpenExit"));
  const auto sent = messenger.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].channel, "native_application_factory");
  EXPECT_EQ(sent[0].call.method, "menuOnSettings");
  EXPECT_TRUE(sent[0].call.arguments.isNull());
  EXPECT_FALSE(sent[0].wantsReply);
}

TEST_F(AppDelegateTest, CallFlutterNeedsAWindowAndAnEngine) {
  int completions = 0;
  auto count = [&completions](MethodReply) { ++completions; };

  messenger.setEngineConnected(false);
  delegate.callFlutter("menuOnExit", EncodableValue(), count);
  messenger.setEngineConnected(true);
  shell.window = false;
  delegate.callFlutter("menuOnExit", EncodableValue(), count);
  EXPECT_TRUE(messenger.sent().empty());

  // With both, the engine's answer reaches the completion as received.
  shell.window = true;
  std::optional<MethodReply> answer;
  delegate.callFlutter("menuOnSettings", EncodableValue("x"), [&answer](MethodReply reply) { answer = reply; });
  ASSERT_EQ(messenger.sent().size(), 1u);
  ASSERT_TRUE(messenger.answerPending("native_application_factory",
                                      StandardCodec::encodeErrorEnvelope("NOPE", "declined", EncodableValue())));
  ASSERT_TRUE(answer);
  const auto* error = std::get_if<MethodError>(&*answer);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, "NOPE");
  EXPECT_EQ(completions, 0);
}

TEST_F(AppDelegateTest, SimulateShutdownLogsAndQuits) {
  EXPECT_TRUE(delegate.performAction("simulateShutdown"));
  EXPECT_EQ(shell.quits, 1);
  EXPECT_EQ(countInLog(std::string(test::log_lines::kSimulateShutdown)), 1u);
}

}  // namespace
}  // namespace quillon
