#pragma once

#include <memory>

#include "app/audio_channel.h"
#include "engine/binary_messenger.h"
#include "platform/activity_inhibitor.h"
#include "platform/application_control.h"
#include "platform/audio_server.h"
#include "platform/main_thread.h"
#include "platform/serial_port_registry.h"

namespace quillon {

class ApplicationChannel;
class BackgroundActivityChannel;
class PluginRegistry;
class UsbChannel;
class UsbFactory;

// The engine's window: it opens the four method channels, each owning the
// service behind it, and registers the engine's plug-ins. Once the window is
// gone its channels answer "UNAVAILABLE". Main thread only.
class MainFlutterWindow {
 public:
  // What the channels need from the process around them; all must outlive the window.
  struct Environment {
    BinaryMessenger& messenger;
    MainThread& mainThread;
    ActivityInhibitor& activityInhibitor;
    ApplicationControl& application;
    // The serial ports the USB channel watches; null means the system's.
    std::shared_ptr<SerialPortRegistry> serialPorts;
    // Makes the recording facade of each audio "init".
    AudioChannel::FacadeMaker makeNativeAudioFactory;
    // Asked whether a microphone is in use ("checkMicActive"); null: none is.
    std::shared_ptr<AudioServer> audioServer = nullptr;
  };

  explicit MainFlutterWindow(Environment environment);
  ~MainFlutterWindow();
  MainFlutterWindow(const MainFlutterWindow&) = delete;
  MainFlutterWindow& operator=(const MainFlutterWindow&) = delete;

  // Opens the channels in the order application, audio, USB, background
  // activity, then registers the plug-ins.
  void awakeFromNib(PluginRegistry& registry);

  // The audio channel's current facade and the USB channel's port manager;
  // null before awakeFromNib (and for the facade, before the first "init").
  const NativeAudioFactory* nativeAudioFactory() const;
  const UsbFactory* usbFactory() const;

 private:
  void registerApplicationMethodChannel();
  void registerAudioMethodChannel();
  void registerUsbMethodChannel();
  void registerBackgroundActivityChannel();

  Environment environment_;
  std::unique_ptr<ApplicationChannel> applicationChannel_;
  std::unique_ptr<AudioChannel> audioChannel_;
  std::unique_ptr<UsbChannel> usbChannel_;
  std::unique_ptr<BackgroundActivityChannel> backgroundActivityChannel_;
};

}  // namespace quillon
