#pragma once

#include <map>
#include <string>
#include <variant>

#include "platform/audio_stream_format.h"

namespace quillon {

// Questions the capture code asks about audio devices, answered through the
// installed AudioHardware (AudioHardwareProvider). Every failure is a neutral
// result (0, 0.0, -1.0, false) and a log line.
class AudioDeviceUtil {
 public:
  static constexpr const char* kLoopbackDeviceName = "VerdalisRecorder";
  static constexpr const char* kAggregateDeviceMarker = "com.orvane.aggregate.device";

  static AudioDeviceId getCurrentOutputDeviceID();
  static AudioDeviceId getBlackHoleDeviceID();
  static bool setOutputDevice(AudioDeviceId device);
  static bool isAggregateDevice(AudioDeviceId device);
  // "uid" (absent when the UID cannot be read) and "drift".
  using SubDeviceDictionary = std::map<std::string, std::variant<std::string, bool>>;
  static SubDeviceDictionary createSubDeviceDictionary(AudioDeviceId device, bool isMaster);
  static bool setSampleRate(AudioDeviceId device, double rate);
  static double getSampleRate(AudioDeviceId device);
  // Only mChannelsPerFrame of the format is used: it bounds the channels tried.
  static float getDeviceVolume(AudioDeviceId device, const AudioStreamBasicDescription& format);
  static bool setDeviceVolume(AudioDeviceId device, const AudioStreamBasicDescription& format,
                              float volume);
};

}  // namespace quillon
