#include <gtest/gtest.h>

#include <regex>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "fakes/fake_messenger.h"
#include "platform/linux/glib_main_thread.h"

namespace quillon {
namespace {

class NoInhibitor final : public ActivityInhibitor {
 public:
  std::unique_ptr<ActivityToken> beginActivity(const std::string&) override { return std::make_unique<ActivityToken>(); }
};

class NoQuit final : public ApplicationControl {
 public:
  void terminate() override {}
};

TEST(ResourceUsageChannel, AnswersTheLineOfThisProcess) {
  FakeMessenger messenger;
  GlibMainThread mainThread;
  NoInhibitor inhibitor;
  NoQuit application;
  EmptyPluginRegistry plugins;
  auto window = MainFlutterWindow::create({messenger, mainThread, inhibitor, application});
  window->awakeFromNib(plugins);

  const auto reply = messenger.call("native_application_factory", "getResourceUsage");
  ASSERT_TRUE(reply);
  const auto* success = std::get_if<MethodSuccess>(&*reply);
  ASSERT_NE(success, nullptr);
  const auto* line = success->value.getIf<std::string>();
  ASSERT_NE(line, nullptr);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(*line, match, std::regex(R"(Memory: (\d+\.\d\d) MB \| CPU: (\d+\.\d\d)%)"))) << *line;
  EXPECT_GT(std::stod(match[1]), 0.0);
}

}  // namespace
}  // namespace quillon
