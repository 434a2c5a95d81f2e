#include "capture/device_switching.h"

#include "logging/logger.h"

namespace quillon {

DeviceSwitching::DeviceSwitching(std::weak_ptr<SpeakerCapture> capture,
                                 std::shared_ptr<MainThread> mainThread,
                                 std::shared_ptr<AudioServer> server)
    : _capture(std::move(capture)), mainThread_(std::move(mainThread)), server_(std::move(server)) {}

DeviceSwitching::~DeviceSwitching() { stopObservingOutputDeviceChange(); }

void DeviceSwitching::startObservingOutputDeviceChange() {
  if (listener_) return;
  std::weak_ptr<DeviceSwitching> weakSelf = weak_from_this();
  std::shared_ptr<MainThread> mainThread = mainThread_;
  AudioStatus status = AudioStatus::ok;
  // Runs on the audio thread: only queue the work, never wait there.
  listener_ = server_->watchDefaultSink(
      [weakSelf, mainThread] {
        auto self = weakSelf.lock();
        if (!self || !mainThread) return;
        mainThread->post([self] { self->handleOutputDeviceChanged(); });
      },
      status);
  if (!listener_) {
    Logger::shared().warning("speaker_capture", "Output device observer not registered (status: %d)",
                             statusCode(status));
  }
}

void DeviceSwitching::stopObservingOutputDeviceChange() { listener_.reset(); }

}  // namespace quillon
