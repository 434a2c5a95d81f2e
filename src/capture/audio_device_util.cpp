#include "capture/audio_device_util.h"

#include <cmath>
#include <vector>

#include "logging/logger.h"
#include "platform/audio_hardware.h"
#include "platform/system_log.h"

namespace quillon {
namespace {

constexpr const char* kTag = "audioDeviceUtil";

}  // namespace

AudioDeviceId AudioDeviceUtil::getCurrentOutputDeviceID() {
  AudioDeviceId device = kNoAudioDevice;
  if (AudioHardwareProvider::current()->defaultOutputDevice(device) != AudioStatus::ok) {
    Logger::shared().errorWithTag(kTag, "Failed to get current output device");
  }
  return device;
}

AudioDeviceId AudioDeviceUtil::getBlackHoleDeviceID() {
  auto hardware = AudioHardwareProvider::current();
  std::vector<AudioDeviceId> devices;
  AudioStatus status = hardware->devices(devices);
  if (status != AudioStatus::ok) {
    // The server answers the list in one piece, so there is no separate size read to fail.
    Logger::shared().errorWithTag(kTag, status == AudioStatus::serverUnavailable
                                            ? "Failed to get devices property size"
                                            : "Failed to get devices");
    return kNoAudioDevice;
  }
  for (AudioDeviceId device : devices) {
    std::string name;
    if (hardware->deviceName(device, name) != AudioStatus::ok) continue;
    if (name == kLoopbackDeviceName) {
      if (device != kNoAudioDevice) return device;
      break;
    }
  }
  Logger::shared().errorWithTag(kTag, "BlackHole device not found");
  return kNoAudioDevice;
}

bool AudioDeviceUtil::setOutputDevice(AudioDeviceId device) {
  AudioStatus status = AudioHardwareProvider::current()->setDefaultOutputDevice(device);
  if (status == AudioStatus::ok) return true;
  Logger::shared().error(kTag, "Failed to set output device: %d", statusCode(status));
  return false;
}

bool AudioDeviceUtil::isAggregateDevice(AudioDeviceId device) {
  std::string uid;
  if (AudioHardwareProvider::current()->deviceUid(device, uid) != AudioStatus::ok) return false;
  return uid.find(kAggregateDeviceMarker) != std::string::npos;
}

AudioDeviceUtil::SubDeviceDictionary AudioDeviceUtil::createSubDeviceDictionary(AudioDeviceId device,
                                                                                bool isMaster) {
  SubDeviceDictionary dictionary;
  std::string uid;
  if (AudioHardwareProvider::current()->deviceUid(device, uid) == AudioStatus::ok) {
    dictionary["uid"] = uid;
  }
  dictionary["drift"] = isMaster;
  return dictionary;
}

bool AudioDeviceUtil::setSampleRate(AudioDeviceId device, double rate) {
  auto hardware = AudioHardwareProvider::current();
  AudioStatus status = hardware->setNominalSampleRate(device, rate);
  if (status != AudioStatus::ok) {
    systemLog("[AudioDeviceUtil] Failed to set sample rate to %.0f (status: %d)", rate,
              statusCode(status));
    return false;
  }
  double actual = 0.0;
  status = hardware->nominalSampleRate(device, actual);
  if (status != AudioStatus::ok) actual = 0.0;
  systemLog("[AudioDeviceUtil] Sample rate after set: %.0f (status: %d)", actual,
            statusCode(status));
  return std::fabs(actual - rate) < 1.0;
}

double AudioDeviceUtil::getSampleRate(AudioDeviceId device) {
  double rate = 0.0;
  if (AudioHardwareProvider::current()->nominalSampleRate(device, rate) != AudioStatus::ok) {
    return 0.0;
  }
  return rate;
}

float AudioDeviceUtil::getDeviceVolume(AudioDeviceId device,
                                       const AudioStreamBasicDescription& format) {
  auto hardware = AudioHardwareProvider::current();
  float volume = 0.0f;
  if (hardware->hasOutputVolume(device, 0)) {
    AudioStatus status = hardware->outputVolume(device, 0, volume);
    if (status != AudioStatus::ok) {
      systemLog("[AudioDeviceUtil] Failed to get volume for channel 0: %d", statusCode(status));
      return -1.0f;
    }
    return volume;
  }
  for (uint32_t channel = 1; channel <= format.mChannelsPerFrame; ++channel) {
    if (!hardware->hasOutputVolume(device, channel)) continue;
    if (hardware->outputVolume(device, channel, volume) == AudioStatus::ok) return volume;
  }
  return -1.0f;
}

bool AudioDeviceUtil::setDeviceVolume(AudioDeviceId device, const AudioStreamBasicDescription& format,
                                      float volume) {
  auto hardware = AudioHardwareProvider::current();
  bool settable = false;
  if (hardware->isOutputVolumeSettable(device, 0, settable) == AudioStatus::ok && settable) {
    return hardware->setOutputVolume(device, 0, volume) == AudioStatus::ok;
  }
  for (uint32_t channel = 1; channel <= format.mChannelsPerFrame; ++channel) {
    settable = false;
    if (hardware->isOutputVolumeSettable(device, channel, settable) != AudioStatus::ok || !settable) {
      continue;
    }
    if (hardware->setOutputVolume(device, channel, volume) == AudioStatus::ok) return true;
  }
  return false;
}

}  // namespace quillon
