#pragma once

#include <map>
#include <string>
#include <variant>

#include "platform/audio_server.h"

namespace quillon {

// Questions the capture code asks about audio devices, answered by the sound
// server it is given. Every failure is a neutral result (0, 0.0, -1.0, false)
// and a log line.
class AudioDeviceUtil {
 public:
  static constexpr const char* kLoopbackDeviceName = "VerdalisRecorder";
  static constexpr const char* kAggregateDeviceMarker = "com.orvane.aggregate.device";

  static AudioDeviceId getCurrentOutputDeviceID(AudioServer& server);
  static AudioDeviceId getBlackHoleDeviceID(AudioServer& server);
  static bool setOutputDevice(AudioServer& server, AudioDeviceId device);
  // The UID is "sink:NAME" or "source:NAME".
  static bool isAggregateDevice(AudioServer& server, AudioDeviceId device);
  // "uid" (absent when the UID cannot be read) and "drift".
  using SubDeviceDictionary = std::map<std::string, std::variant<std::string, bool>>;
  static SubDeviceDictionary createSubDeviceDictionary(AudioServer& server, AudioDeviceId device, bool isMaster);
  // The server picks a device's rate itself and resamples every stream: a
  // request succeeds only when the device already runs within 1 Hz of it.
  static bool setSampleRate(AudioServer& server, AudioDeviceId device, double rate);
  static double getSampleRate(AudioServer& server, AudioDeviceId device);
  // A sink's volume reads as its loudest channel and a write sets every
  // channel; a source has no output volume. The format is not consulted.
  static float getDeviceVolume(AudioServer& server, AudioDeviceId device, const AudioStreamBasicDescription& format);
  static bool setDeviceVolume(AudioServer& server, AudioDeviceId device, const AudioStreamBasicDescription& format,
                              float volume);
};

}  // namespace quillon
