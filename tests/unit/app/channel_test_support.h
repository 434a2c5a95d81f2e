#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "fakes/fake_messenger.h"
#include "platform/linux/glib_main_thread.h"
#include "unit/facade/facade_test_support.h"

namespace quillon::test {

// Counts the activities begun and not yet ended; their reasons are checked end
// to end (integration.test_host_spine).
struct CountingInhibitor final : ActivityInhibitor {
  std::unique_ptr<ActivityToken> beginActivity(const std::string&) override {
    struct Token final : ActivityToken {
      explicit Token(int& count) : live(++count) {}
      ~Token() override { --live; }
      int& live;
    };
    return std::make_unique<Token>(live);
  }
  int live = 0;
};

// "eventByExit" is checked end to end (integration.test_host_spine).
struct IgnoredApplication final : ApplicationControl {
  void terminate() override {}
};

struct RecordingPluginRegistry final : PluginRegistry {
  PluginRegistrar* registrarForPlugin(const std::string& name) override {
    asked.push_back(name);
    return nullptr;
  }
  std::vector<std::string> asked;
};

// A window with its four channels open on a fake messenger; its audio "init"
// makes facades over fake captures.
struct WindowFixture {
  FakeMessenger messenger;
  GlibMainThread mainThread;
  CountingInhibitor inhibitor;
  IgnoredApplication application;
  RecordingPluginRegistry plugins;
  FacadeWorld world;
  std::unique_ptr<MainFlutterWindow> window;

  explicit WindowFixture(std::shared_ptr<SerialPortRegistry> serialPorts = nullptr) {
    window = std::make_unique<MainFlutterWindow>(MainFlutterWindow::Environment{
        messenger, mainThread, inhibitor, application, std::move(serialPorts),
        [this](const std::string& blackHolePath, bool reserveStageAudio) {
          return std::make_unique<NativeAudioFactory>(blackHolePath, reserveStageAudio, world.dependencies());
        }});
    window->awakeFromNib(plugins);
  }
  // Sends still queued must not outlive the messenger.
  ~WindowFixture() {
    window.reset();
    runPosted();
  }

  // Runs what was posted to the main thread so far.
  void runPosted() {
    while (g_main_context_iteration(nullptr, FALSE)) continue;
  }
};

inline EncodableMap map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap result;
  for (const auto& [key, value] : entries) result[EncodableValue(key)] = value;
  return result;
}

inline void expectError(const std::optional<MethodReply>& reply, const std::string& code, const std::string& message) {
  ASSERT_TRUE(reply.has_value());
  const auto* error = std::get_if<MethodError>(&*reply);
  ASSERT_NE(error, nullptr) << "expected an error reply";
  EXPECT_EQ(error->code, code);
  EXPECT_EQ(error->message, message);
  EXPECT_TRUE(error->details.isNull());
}

inline EncodableValue successValue(const std::optional<MethodReply>& reply) {
  const auto* success = reply ? std::get_if<MethodSuccess>(&*reply) : nullptr;
  EXPECT_NE(success, nullptr) << "expected a success reply";
  return success ? success->value : EncodableValue("<not a success>");
}

}  // namespace quillon::test
