#include "capture/black_hole_util.h"

#include "capture/audio_device_util.h"
#include "capture/audio_devices.h"
#include "capture/loopback_driver_installer.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "blackHoleUtil";

// The first device named like the loopback device, in the server's order;
// kNoAudioDevice when there is none or the list could not be read.
AudioDeviceId findLoopbackDevice(AudioServer& server) {
  AudioStatus status = AudioStatus::ok;
  auto loopback = findAudioDeviceNamed(server, AudioDeviceUtil::kLoopbackDeviceName, &status);
  if (loopback) return loopback->id;
  if (status != AudioStatus::noSuchDevice) {
    Logger::shared().errorWithTag(kTag, status == AudioStatus::serverUnavailable ? "Failed to get devices property size"
                                                                                 : "Failed to get devices");
  }
  return kNoAudioDevice;
}

}  // namespace

int BlackHoleUtil::checkAndInstallDriver(std::shared_ptr<AudioServer> server, const std::string& sourcePath) {
  LoopbackDriverInstaller installer(LoopbackInstallLayout::current(), std::make_shared<PkexecRunner>(),
                                    std::move(server));
  return installer.checkAndInstallDriver(sourcePath);
}

bool BlackHoleUtil::loadInstalledDriver(std::shared_ptr<AudioServer> server) {
  LoopbackDriverInstaller installer(LoopbackInstallLayout::current(), std::make_shared<PkexecRunner>(),
                                    std::move(server));
  return installer.loadInstalledDriver();
}

bool BlackHoleUtil::isBlackHoleInstalled(AudioServer& server) { return findLoopbackDevice(server) != kNoAudioDevice; }

bool BlackHoleUtil::isCurrentOutputDeviceBlackHole(AudioServer& server) {
  AudioDeviceId sink = kNoAudioDevice, source = kNoAudioDevice;
  if (server.defaults(sink, source) != AudioStatus::ok || sink == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get default output device");
    return false;
  }
  auto output = findAudioDevice(server, sink);
  if (!output) {
    Logger::shared().errorWithTag(kTag, "Failed to get output device name");
    return false;
  }
  const bool isLoopback = output->name == AudioDeviceUtil::kLoopbackDeviceName;
  Logger::shared().info(kTag, "Current output device: %s, isBlackHole: %s", output->name.c_str(),
                        isLoopback ? "YES" : "NO");
  return isLoopback;
}

bool BlackHoleUtil::setOutputDeviceToBlackHole(AudioServer& server) {
  AudioDeviceId device = findLoopbackDevice(server);
  if (device == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "BlackHole device not found");
    return false;
  }
  if (server.setDefaultSink(device) != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, "Failed to set default output device to BlackHole");
    return false;
  }
  Logger::shared().infoWithTag(kTag, "Successfully set system output to BlackHole");
  return true;
}

}  // namespace quillon
