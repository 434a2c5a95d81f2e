#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/main_flutter_window.h"
#include "app/plugin_registry.h"
#include "fakes/fake_messenger.h"
#include "platform/linux/glib_main_thread.h"

namespace quillon::test {

// Records the order in which activities begin and end: "begin:REASON" / "end:REASON".
class RecordingInhibitor final : public ActivityInhibitor {
 public:
  std::unique_ptr<ActivityToken> beginActivity(const std::string& reason) override {
    struct Token final : ActivityToken {
      Token(std::vector<std::string>& events, std::string reason) : events(events), reason(std::move(reason)) {
        events.push_back("begin:" + this->reason);
      }
      ~Token() override { events.push_back("end:" + reason); }
      std::vector<std::string>& events;
      std::string reason;
    };
    return std::make_unique<Token>(events, reason);
  }
  std::vector<std::string> events;
};

class CountingApplication final : public ApplicationControl {
 public:
  void terminate() override { ++terminations; }
  int terminations = 0;
};

class RecordingPluginRegistry final : public PluginRegistry {
 public:
  PluginRegistrar* registrarForPlugin(const std::string& name) override {
    asked.push_back(name);
    return nullptr;
  }
  std::vector<std::string> asked;
};

// A window with its four channels open on a fake messenger.
struct WindowFixture {
  FakeMessenger messenger;
  GlibMainThread mainThread;
  RecordingInhibitor inhibitor;
  CountingApplication application;
  RecordingPluginRegistry plugins;
  std::shared_ptr<MainFlutterWindow> window;

  explicit WindowFixture(std::shared_ptr<SerialPortRegistry> serialPorts = nullptr) {
    window = MainFlutterWindow::create({messenger, mainThread, inhibitor, application, std::move(serialPorts)});
    window->awakeFromNib(plugins);
  }
};

}  // namespace quillon::test
