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

// Result of one server call. Numeric values are what the log lines print.
enum class AudioStatus : int {
  ok = 0,
  noSuchDevice = 1,       // unknown identifier, or the device vanished
  noSuchProperty = 2,     // the device has no such side or control
  notSettable = 3,        // the server refused the change
  invalidArgument = 4,    // e.g. a negative volume or an unusable format
  serverUnavailable = 5,  // no audio server, or it died during the call
  timedOut = 6,           // the server did not answer in time
  wrongThread = 7,        // called from the audio server's own thread
};

inline int statusCode(AudioStatus status) { return static_cast<int>(status); }

// A running stream; destroying it stops it. Handlers are never called after
// stop() (or the destructor) has returned.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  // Cork or uncork; a paused record stream delivers nothing.
  virtual AudioStatus setPaused(bool paused) = 0;
  virtual void stop() = 0;
  // Playback streams: the stream's own volume on its sink, 1.0 = 100 %, on
  // the same scale as the sink volumes (values above 1.0 amplify).
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

// One sink, or one source that is not a sink's monitor, as the server lists it.
struct AudioDevice {
  AudioDeviceId id = kNoAudioDevice;  // see docs/audio-platform.md, "Device identifiers"
  std::string name;                   // the server's object name, not its description
  bool isSink = false;                // a sink records through its monitor
  double rate = 0.0;
  uint32_t channels = 0;
  // The sample spec as linear PCM; mFormatID 0 for encodings that are not.
  AudioStreamBasicDescription format{};
  std::vector<float> volumes;  // sinks: one per channel, 1.0 = 100 %
  bool muted = false;
};

// What the host asks of the sound server (PulseAudio, or PipeWire's pulse
// server). Every call answers a status instead of throwing, and every wait
// inside gives up when the server fails.
class AudioServer {
 public:
  virtual ~AudioServer() = default;

  // In the server's index order; sources leave out the sinks' monitors.
  virtual AudioStatus sinks(std::vector<AudioDevice>& out) = 0;
  virtual AudioStatus sources(std::vector<AudioDevice>& out) = 0;

  // kNoAudioDevice for a default that does not exist; the default source is
  // kNoAudioDevice too when the server fell back to a monitor (no microphone).
  virtual AudioStatus defaults(AudioDeviceId& sink, AudioDeviceId& source) = 0;
  virtual AudioStatus setDefaultSink(AudioDeviceId sink) = 0;

  // One volume per channel (a single value sets every channel), 1.0 = 100 %.
  virtual AudioStatus setSinkVolume(AudioDeviceId sink, const std::vector<float>& volumes) = 0;
  virtual AudioStatus setSinkMute(AudioDeviceId sink, bool muted) = 0;

  virtual AudioStatus loadModule(const std::string& name, const std::string& arguments, uint32_t& index) = 0;
  virtual AudioStatus unloadModule(uint32_t index) = 0;

  // Records a source, or a sink's monitor, in `format`, in periods of about
  // `periodBytes`. The stream runs when returned; null with `status` on failure.
  virtual std::unique_ptr<AudioStream> openRecordStream(AudioDeviceId device, const AudioStreamBasicDescription& format,
                                                        size_t periodBytes, AudioInputHandler handler,
                                                        AudioStatus& status) = 0;
  // Plays on a sink data in `format`, pulled on the audio thread in pieces of
  // at most `maxPullBytes`; the server converts to the sink's own format.
  virtual std::unique_ptr<AudioStream> openPlaybackStream(AudioDeviceId sink, const AudioStreamBasicDescription& format,
                                                          size_t maxPullBytes, AudioPullHandler pull,
                                                          AudioStatus& status) = 0;

  // Calls `changed` on the audio thread whenever the default sink becomes a
  // different one. Destroying the token removes the listener; no call follows.
  class ListenerToken {
   public:
    virtual ~ListenerToken() = default;
  };
  virtual std::unique_ptr<ListenerToken> watchDefaultSink(std::function<void()> changed, AudioStatus& status) = 0;

  // PipeWire's pulse server answers "PulseAudio (on PipeWire x.y.z)".
  virtual AudioStatus serverName(std::string& out) = 0;
};

}  // namespace quillon
