#include "capture/audio_device_util.h"

#include <algorithm>
#include <cmath>

#include "capture/audio_devices.h"
#include "logging/logger.h"
#include "platform/system_log.h"

namespace quillon {
namespace {

constexpr const char* kTag = "audioDeviceUtil";

std::optional<std::string> uidOf(AudioServer& server, AudioDeviceId device) {
  auto found = findAudioDevice(server, device);
  if (!found) return std::nullopt;
  return (found->isSink ? "sink:" : "source:") + found->name;
}

}  // namespace

AudioDeviceId AudioDeviceUtil::getCurrentOutputDeviceID(AudioServer& server) {
  AudioDeviceId sink = kNoAudioDevice, source = kNoAudioDevice;
  if (server.defaults(sink, source) != AudioStatus::ok || sink == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get current output device");
    return kNoAudioDevice;
  }
  return sink;
}

AudioDeviceId AudioDeviceUtil::getBlackHoleDeviceID(AudioServer& server) {
  AudioStatus status = AudioStatus::ok;
  auto loopback = findAudioDeviceNamed(server, kLoopbackDeviceName, &status);
  if (loopback) return loopback->id;
  if (status != AudioStatus::noSuchDevice) {
    // The server answers the list in one piece, so there is no separate size read to fail.
    Logger::shared().errorWithTag(kTag, status == AudioStatus::serverUnavailable ? "Failed to get devices property size"
                                                                                 : "Failed to get devices");
    return kNoAudioDevice;
  }
  Logger::shared().errorWithTag(kTag, "BlackHole device not found");
  return kNoAudioDevice;
}

bool AudioDeviceUtil::setOutputDevice(AudioServer& server, AudioDeviceId device) {
  AudioStatus status = server.setDefaultSink(device);
  if (status == AudioStatus::ok) return true;
  Logger::shared().error(kTag, "Failed to set output device: %d", statusCode(status));
  return false;
}

bool AudioDeviceUtil::isAggregateDevice(AudioServer& server, AudioDeviceId device) {
  auto uid = uidOf(server, device);
  return uid && uid->find(kAggregateDeviceMarker) != std::string::npos;
}

AudioDeviceUtil::SubDeviceDictionary AudioDeviceUtil::createSubDeviceDictionary(AudioServer& server,
                                                                                AudioDeviceId device, bool isMaster) {
  SubDeviceDictionary dictionary;
  if (auto uid = uidOf(server, device)) dictionary["uid"] = *uid;
  dictionary["drift"] = isMaster;
  return dictionary;
}

bool AudioDeviceUtil::setSampleRate(AudioServer& server, AudioDeviceId device, double rate) {
  AudioStatus status = rate > 0.0 ? AudioStatus::ok : AudioStatus::invalidArgument;
  std::optional<AudioDevice> found;
  if (status == AudioStatus::ok) found = findAudioDevice(server, device, &status);
  if (status != AudioStatus::ok) {
    systemLog("[AudioDeviceUtil] Failed to set sample rate to %.0f (status: %d)", rate, statusCode(status));
    return false;
  }
  const double actual = found->rate;
  systemLog("[AudioDeviceUtil] Sample rate after set: %.0f (status: %d)", actual, statusCode(status));
  return std::fabs(actual - rate) < 1.0;
}

double AudioDeviceUtil::getSampleRate(AudioServer& server, AudioDeviceId device) {
  auto found = findAudioDevice(server, device);
  return found ? found->rate : 0.0;
}

float AudioDeviceUtil::getDeviceVolume(AudioServer& server, AudioDeviceId device,
                                       const AudioStreamBasicDescription& format) {
  (void)format;
  auto found = findAudioDevice(server, device);
  if (!found || !found->isSink || found->volumes.empty()) return -1.0f;
  // The whole device reads as its loudest channel, as the server's own mixer shows it.
  return *std::max_element(found->volumes.begin(), found->volumes.end());
}

bool AudioDeviceUtil::setDeviceVolume(AudioServer& server, AudioDeviceId device,
                                      const AudioStreamBasicDescription& format, float volume) {
  (void)format;
  return server.setSinkVolume(device, {volume}) == AudioStatus::ok;
}

}  // namespace quillon
