#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_server.h"

namespace quillon {

// The server's devices as the capture code sees them: every sink, then every
// source that is not a monitor, each in the server's order.
AudioStatus listAudioDevices(AudioServer& server, std::vector<AudioDevice>& out);
// The device with that identifier; nullopt with `status` when there is none
// or the list could not be read.
std::optional<AudioDevice> findAudioDevice(AudioServer& server, AudioDeviceId device, AudioStatus* status = nullptr);
// The first device named `name` in list order; nullopt with `status` as above.
std::optional<AudioDevice> findAudioDeviceNamed(AudioServer& server, const std::string& name,
                                                AudioStatus* status = nullptr);
// The first sink other than `excluded`, and named `name` unless that is empty.
std::optional<AudioDevice> findOtherSink(AudioServer& server, AudioDeviceId excluded, const std::string& name = {});

}  // namespace quillon
