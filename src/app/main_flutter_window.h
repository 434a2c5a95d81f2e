#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/binary_messenger.h"
#include "engine/method_channel.h"
#include "platform/activity_inhibitor.h"
#include "platform/application_control.h"
#include "platform/audio_server.h"
#include "platform/main_thread.h"

namespace quillon {

class NativeAudioFactory;
class UsbFactory;
class PluginRegistry;
class SerialPortRegistry;

// The engine's window: it opens the four method channels, registers the
// engine's plug-ins and owns the services behind the channels for its life.
// Channel handlers hold it weakly: once it is gone they answer
// "UNAVAILABLE" instead of reaching a dead object.
class MainFlutterWindow : public std::enable_shared_from_this<MainFlutterWindow> {
 public:
  // What the window needs from the process around it; all must outlive it.
  struct Environment {
    BinaryMessenger& messenger;
    MainThread& mainThread;
    ActivityInhibitor& activityInhibitor;
    ApplicationControl& application;
    // The serial ports the USB channel watches; null means the system's.
    std::shared_ptr<SerialPortRegistry> serialPorts = nullptr;
    // Makes the recording facade of each audio "init"; null means the real one.
    std::function<std::shared_ptr<NativeAudioFactory>(const std::string& blackHolePath, bool reserveStageAudio)>
        makeNativeAudioFactory = nullptr;
    // The sound server the real recording facade and "checkMicActive" use;
    // null: no microphone is reported and no real facade can record.
    std::shared_ptr<AudioServer> audioServer = nullptr;
  };

  static std::shared_ptr<MainFlutterWindow> create(Environment environment);
  ~MainFlutterWindow();

  // Opens the channels in the order application, audio, USB, background
  // activity, then registers the plug-ins.
  void awakeFromNib(PluginRegistry& registry);

  void registerApplicationMethodChannel();
  void registerAudioMethodChannel();
  void registerUsbMethodChannel();
  void registerBackgroundActivityChannel();

  const Environment& environment() const { return environment_; }

  // The window's four fields.
  std::shared_ptr<NativeAudioFactory> nativeAudioFactory;
  std::unique_ptr<UsbFactory> usbFactory;
  std::unique_ptr<ActivityToken> backgroundActivity;
  std::shared_ptr<MethodChannel> applicationChannel;

 private:
  explicit MainFlutterWindow(Environment environment);
  Environment environment_;
};

// The reply every channel gives once its window is gone.
void replyInstanceNotAvailable(MethodResult& result);

}  // namespace quillon
