#include "app/main_flutter_window.h"

#include "app/plugin_registry.h"
#include "usb/usb_factory.h"

namespace quillon {

std::shared_ptr<MainFlutterWindow> MainFlutterWindow::create(Environment environment) {
  return std::shared_ptr<MainFlutterWindow>(new MainFlutterWindow(environment));
}

MainFlutterWindow::MainFlutterWindow(Environment environment) : environment_(environment) {}

MainFlutterWindow::~MainFlutterWindow() = default;

void MainFlutterWindow::awakeFromNib(PluginRegistry& registry) {
  registerApplicationMethodChannel();
  registerAudioMethodChannel();
  registerUsbMethodChannel();
  registerBackgroundActivityChannel();
  RegisterGeneratedPlugins(registry);
}

void replyInstanceNotAvailable(MethodResult& result) {
  result.error("UNAVAILABLE", "Instance not available");
}

}  // namespace quillon
