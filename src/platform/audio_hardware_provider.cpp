#include <mutex>

#include "platform/audio_hardware.h"
#include "platform/pulse/pulse_audio_hardware.h"

namespace quillon {
namespace {

std::mutex& providerMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<AudioHardware>& installed() {
  static std::shared_ptr<AudioHardware> hardware;
  return hardware;
}

}  // namespace

std::shared_ptr<AudioHardware> AudioHardwareProvider::current() {
  std::lock_guard lock(providerMutex());
  if (!installed()) installed() = std::make_shared<PulseAudioHardware>(PulseContext::create());
  return installed();
}

void AudioHardwareProvider::install(std::shared_ptr<AudioHardware> hardware) {
  std::lock_guard lock(providerMutex());
  installed() = std::move(hardware);
}

}  // namespace quillon
