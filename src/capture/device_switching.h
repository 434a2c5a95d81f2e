#pragma once

#include <memory>

#include "platform/audio_server.h"
#include "platform/main_thread.h"

namespace quillon {

class SpeakerCapture;

// Watches the system's default output device while a system-audio capture
// runs and turns each outside change into handleOutputDeviceChanged() on the
// main thread. The capture starts observing after its own switch and stops
// before switching back, so its own switches are never reported.
//
// Must be owned by a std::shared_ptr: a queued notification keeps it alive.
class DeviceSwitching : public std::enable_shared_from_this<DeviceSwitching> {
 public:
  DeviceSwitching(std::weak_ptr<SpeakerCapture> capture, std::shared_ptr<MainThread> mainThread,
                  std::shared_ptr<AudioServer> server);
  virtual ~DeviceSwitching();
  DeviceSwitching(const DeviceSwitching&) = delete;
  DeviceSwitching& operator=(const DeviceSwitching&) = delete;

  void startObservingOutputDeviceChange();
  void stopObservingOutputDeviceChange();
  // A change is only observed: capture, pass-through and the saved user's
  // device stay as they are.
  virtual void handleOutputDeviceChanged() {}

 private:
  std::weak_ptr<SpeakerCapture> _capture;
  std::shared_ptr<MainThread> mainThread_;
  std::shared_ptr<AudioServer> server_;
  std::unique_ptr<AudioServer::ListenerToken> listener_;
};

}  // namespace quillon
