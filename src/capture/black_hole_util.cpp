#include "capture/black_hole_util.h"

#include <vector>

#include "capture/audio_device_util.h"
#include "capture/loopback_driver_installer.h"
#include "logging/logger.h"
#include "platform/audio_hardware.h"

namespace quillon {
namespace {

constexpr const char* kTag = "blackHoleUtil";

// The first device named like the loopback device, in the server's order;
// kNoAudioDevice when there is none or the list could not be read.
AudioDeviceId findLoopbackDevice(AudioHardware& hardware) {
  std::vector<AudioDeviceId> devices;
  AudioStatus status = hardware.devices(devices);
  if (status != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, status == AudioStatus::serverUnavailable
                                            ? "Failed to get devices property size"
                                            : "Failed to get devices");
    return kNoAudioDevice;
  }
  for (AudioDeviceId device : devices) {
    std::string name;
    if (hardware.deviceName(device, name) != AudioStatus::ok) continue;
    if (name == AudioDeviceUtil::kLoopbackDeviceName) return device;
  }
  return kNoAudioDevice;
}

}  // namespace

int BlackHoleUtil::checkAndInstallDriver(const std::string& sourcePath) {
  LoopbackDriverInstaller installer(LoopbackInstallLayout::current(), std::make_shared<PkexecRunner>(),
                                    AudioHardwareProvider::current());
  return installer.checkAndInstallDriver(sourcePath);
}

bool BlackHoleUtil::loadInstalledDriver() {
  LoopbackDriverInstaller installer(LoopbackInstallLayout::current(), std::make_shared<PkexecRunner>(),
                                    AudioHardwareProvider::current());
  return installer.loadInstalledDriver();
}

bool BlackHoleUtil::isBlackHoleInstalled() {
  return findLoopbackDevice(*AudioHardwareProvider::current()) != kNoAudioDevice;
}

bool BlackHoleUtil::isCurrentOutputDeviceBlackHole() {
  auto hardware = AudioHardwareProvider::current();
  AudioDeviceId device = kNoAudioDevice;
  if (hardware->defaultOutputDevice(device) != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, "Failed to get default output device");
    return false;
  }
  std::string name;
  if (hardware->deviceName(device, name) != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, "Failed to get output device name");
    return false;
  }
  const bool isLoopback = name == AudioDeviceUtil::kLoopbackDeviceName;
  Logger::shared().info(kTag, "Current output device: %s, isBlackHole: %s", name.c_str(),
                        isLoopback ? "YES" : "NO");
  return isLoopback;
}

bool BlackHoleUtil::setOutputDeviceToBlackHole() {
  auto hardware = AudioHardwareProvider::current();
  AudioDeviceId device = findLoopbackDevice(*hardware);
  if (device == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "BlackHole device not found");
    return false;
  }
  if (hardware->setDefaultOutputDevice(device) != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, "Failed to set default output device to BlackHole");
    return false;
  }
  Logger::shared().infoWithTag(kTag, "Successfully set system output to BlackHole");
  return true;
}

}  // namespace quillon
