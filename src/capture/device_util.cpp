#include "capture/device_util.h"

#include <mutex>
#include <vector>

#include "platform/audio_hardware.h"

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

bool DeviceUtil::microphoneIsActive() {
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
  auto hardware = AudioHardwareProvider::current();
  AudioDeviceId input = kNoAudioDevice;
  if (hardware->defaultInputDevice(input) != AudioStatus::ok || input == kNoAudioDevice) {
    return false;
  }
  std::vector<uint32_t> channels;
  if (hardware->inputStreamConfiguration(input, channels) != AudioStatus::ok) return false;
  for (uint32_t count : channels) {
    if (count != 0) return true;
  }
  return false;
}

}  // namespace quillon
