#include "app/main_flutter_window.h"

#include "app/application_channel.h"
#include "app/background_activity_channel.h"
#include "app/plugin_registry.h"
#include "app/usb_channel.h"

namespace quillon {

MainFlutterWindow::MainFlutterWindow(Environment environment) : environment_(std::move(environment)) {}

MainFlutterWindow::~MainFlutterWindow() = default;

void MainFlutterWindow::awakeFromNib(PluginRegistry& registry) {
  registerApplicationMethodChannel();
  registerAudioMethodChannel();
  registerUsbMethodChannel();
  registerBackgroundActivityChannel();
  RegisterGeneratedPlugins(registry);
}

void MainFlutterWindow::registerApplicationMethodChannel() {
  applicationChannel_ = std::make_unique<ApplicationChannel>(environment_.messenger, environment_.application);
}

void MainFlutterWindow::registerAudioMethodChannel() {
  audioChannel_ = std::make_unique<AudioChannel>(environment_.messenger, environment_.mainThread,
                                                 environment_.makeNativeAudioFactory, environment_.audioServer);
}

void MainFlutterWindow::registerUsbMethodChannel() {
  usbChannel_ = std::make_unique<UsbChannel>(environment_.messenger, environment_.serialPorts);
}

void MainFlutterWindow::registerBackgroundActivityChannel() {
  backgroundActivityChannel_ =
      std::make_unique<BackgroundActivityChannel>(environment_.messenger, environment_.activityInhibitor);
}

const NativeAudioFactory* MainFlutterWindow::nativeAudioFactory() const {
  return audioChannel_ ? audioChannel_->nativeAudioFactory() : nullptr;
}

const UsbFactory* MainFlutterWindow::usbFactory() const { return usbChannel_ ? &usbChannel_->usbFactory() : nullptr; }

}  // namespace quillon
