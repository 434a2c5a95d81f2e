#include "capture/audio_devices.h"

namespace quillon {
namespace {

std::optional<AudioDevice> firstMatch(AudioServer& server, AudioStatus* status,
                                      const std::function<bool(const AudioDevice&)>& matches) {
  std::vector<AudioDevice> devices;
  AudioStatus s = listAudioDevices(server, devices);
  if (s == AudioStatus::ok) {
    for (auto& device : devices) {
      if (matches(device)) {
        if (status) *status = AudioStatus::ok;
        return std::move(device);
      }
    }
    s = AudioStatus::noSuchDevice;
  }
  if (status) *status = s;
  return std::nullopt;
}

}  // namespace

AudioStatus listAudioDevices(AudioServer& server, std::vector<AudioDevice>& out) {
  out.clear();
  if (AudioStatus s = server.sinks(out); s != AudioStatus::ok) return s;
  std::vector<AudioDevice> sources;
  if (AudioStatus s = server.sources(sources); s != AudioStatus::ok) {
    out.clear();
    return s;
  }
  out.insert(out.end(), sources.begin(), sources.end());
  return AudioStatus::ok;
}

std::optional<AudioDevice> findAudioDevice(AudioServer& server, AudioDeviceId device, AudioStatus* status) {
  if (device == kNoAudioDevice) {
    if (status) *status = AudioStatus::noSuchDevice;
    return std::nullopt;
  }
  return firstMatch(server, status, [device](const AudioDevice& d) { return d.id == device; });
}

std::optional<AudioDevice> findAudioDeviceNamed(AudioServer& server, const std::string& name, AudioStatus* status) {
  return firstMatch(server, status, [&name](const AudioDevice& d) { return d.name == name; });
}

std::optional<AudioDevice> findOtherSink(AudioServer& server, AudioDeviceId excluded, const std::string& name) {
  return firstMatch(server, nullptr, [&](const AudioDevice& d) {
    return d.isSink && d.id != excluded && (name.empty() || d.name == name);
  });
}

}  // namespace quillon
