#include "capture/device_util.h"

#include <mutex>

#include "capture/audio_devices.h"

namespace quillon {
namespace {

std::mutex& providerMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<MicrophonePermission>& providerSlot() {
  static std::shared_ptr<MicrophonePermission> provider;
  return provider;
}

}  // namespace

void DeviceUtil::setPermissionProvider(std::shared_ptr<MicrophonePermission> provider) {
  std::lock_guard lock(providerMutex());
  providerSlot() = std::move(provider);
}

std::shared_ptr<MicrophonePermission> DeviceUtil::permissionProvider() {
  std::lock_guard lock(providerMutex());
  if (!providerSlot()) providerSlot() = std::make_shared<AlwaysAuthorizedMicrophonePermission>();
  return providerSlot();
}

bool DeviceUtil::microphoneIsActive(AudioServer& server) {
  auto permission = permissionProvider();
  switch (permission->state()) {
    case MicrophonePermissionState::restricted:
    case MicrophonePermissionState::denied:
      return false;
    case MicrophonePermissionState::notDetermined:
      if (!permission->requestAccess()) return false;
      break;
    case MicrophonePermissionState::authorized:
      break;
  }
  AudioDeviceId sink = kNoAudioDevice, source = kNoAudioDevice;
  if (server.defaults(sink, source) != AudioStatus::ok || source == kNoAudioDevice) return false;
  auto input = findAudioDevice(server, source);
  return input && input->channels != 0;
}

}  // namespace quillon
