#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_stream_format.h"

namespace quillon {

// Result of one hardware call. Numeric values are what the log lines print.
enum class AudioStatus : int {
  ok = 0,
  noSuchDevice = 1,       // unknown identifier, or the device vanished
  noSuchProperty = 2,     // the device has no such side, element or control
  notSettable = 3,        // the value exists but cannot be written
  invalidArgument = 4,    // e.g. a negative volume or an unusable format
  serverUnavailable = 5,  // no audio server, or it died during the call
  timedOut = 6,           // the server did not answer in time
  wrongThread = 7,        // called from the audio server's own thread
};

inline int statusCode(AudioStatus status) { return static_cast<int>(status); }

// Which side of a device a property belongs to.
enum class AudioScope { global, input, output };

// A running stream; destroying it stops it. Handlers are never called after
// stop() (or the destructor) has returned.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  // Cork or uncork; a paused record stream delivers nothing.
  virtual AudioStatus setPaused(bool paused) = 0;
  virtual void stop() = 0;
  // Playback streams: the stream's own volume on its device, 1.0 = 100 %, on
  // the same scale as the device volumes (values above 1.0 amplify).
  virtual AudioStatus setVolume(float volume) {
    (void)volume;
    return AudioStatus::noSuchProperty;
  }
};

// Called on the audio thread with each captured period. `capturedAt` is when
// the period's first frame entered the device, from the server's own timing
// (steady clock). `data` null is a stretch the server lost (an overrun):
// `bytes` of silence, so the stream keeps its real length. Must not block.
using AudioInputHandler = std::function<void(const uint8_t* data, size_t bytes,
                                             std::chrono::steady_clock::time_point capturedAt)>;
// Called on the audio thread to fill exactly `bytes` bytes of output. Must not block.
using AudioPullHandler = std::function<void(uint8_t* out, size_t bytes)>;

// Everything the capture and device code asks of the audio system. Device
// identifiers are those of devices(); every call answers a status instead of
// throwing, and every wait inside gives up when the server fails.
class AudioHardware {
 public:
  virtual ~AudioHardware() = default;

  virtual AudioStatus devices(std::vector<AudioDeviceId>& out) = 0;
  virtual AudioStatus deviceName(AudioDeviceId device, std::string& out) = 0;
  virtual AudioStatus deviceUid(AudioDeviceId device, std::string& out) = 0;

  virtual AudioStatus defaultOutputDevice(AudioDeviceId& out) = 0;
  virtual AudioStatus setDefaultOutputDevice(AudioDeviceId device) = 0;
  // kNoAudioDevice with ok when the system has no real input device.
  virtual AudioStatus defaultInputDevice(AudioDeviceId& out) = 0;

  virtual AudioStatus nominalSampleRate(AudioDeviceId device, double& out) = 0;
  virtual AudioStatus setNominalSampleRate(AudioDeviceId device, double rate) = 0;

  // Channel count of each buffer of the input side; empty without one.
  virtual AudioStatus inputStreamConfiguration(AudioDeviceId device,
                                               std::vector<uint32_t>& channelsPerBuffer) = 0;
  virtual AudioStatus streamFormat(AudioDeviceId device, AudioScope scope,
                                   AudioStreamBasicDescription& out) = 0;

  // Output volume, 0.0 to 1.0; element 0 is the whole device, 1..n its channels.
  virtual bool hasOutputVolume(AudioDeviceId device, uint32_t element) = 0;
  virtual AudioStatus isOutputVolumeSettable(AudioDeviceId device, uint32_t element,
                                             bool& settable) = 0;
  virtual AudioStatus outputVolume(AudioDeviceId device, uint32_t element, float& out) = 0;
  virtual AudioStatus setOutputVolume(AudioDeviceId device, uint32_t element, float volume) = 0;

  // Records the input side of `device` in `format`, in periods of about
  // `periodBytes`. The stream runs when returned; null with `status` on failure.
  virtual std::unique_ptr<AudioStream> openInputStream(AudioDeviceId device,
                                                       const AudioStreamBasicDescription& format,
                                                       size_t periodBytes,
                                                       AudioInputHandler handler,
                                                       AudioStatus& status) = 0;
  // Plays on `device` data in `format`, pulled on the audio thread in pieces of
  // at most `maxPullBytes`; the server converts to the device's own format.
  virtual std::unique_ptr<AudioStream> openOutputStream(AudioDeviceId device,
                                                        const AudioStreamBasicDescription& format,
                                                        size_t maxPullBytes,
                                                        AudioPullHandler pull,
                                                        AudioStatus& status) = 0;

  // Calls `changed` on the audio thread whenever the default output device
  // becomes a different one. Destroying the token removes the listener; no call
  // follows its destruction.
  class ListenerToken {
   public:
    virtual ~ListenerToken() = default;
  };
  virtual std::unique_ptr<ListenerToken> addDefaultOutputListener(std::function<void()> changed,
                                                                  AudioStatus& status) = 0;

  // The server's own name; PipeWire's pulse server answers
  // "PulseAudio (on PipeWire x.y.z)".
  virtual AudioStatus serverName(std::string& out) {
    out.clear();
    return AudioStatus::noSuchProperty;
  }
  // Loads a server module through this connection (no privilege needed);
  // `index` is the loaded module's.
  virtual AudioStatus loadModule(const std::string& name, const std::string& arguments, uint32_t& index) {
    (void)name;
    (void)arguments;
    index = 0;
    return AudioStatus::notSettable;
  }
};

// The hardware the class-level device operations use. The host installs its
// own at start-up; tests install a fake. Without one, the first use connects
// to the PulseAudio server named by the environment.
class AudioHardwareProvider {
 public:
  static std::shared_ptr<AudioHardware> current();
  static void install(std::shared_ptr<AudioHardware> hardware);
};

}  // namespace quillon
