#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/audio_server.h"
#include "platform/pulse/pulse_context.h"

namespace quillon {

// The sound server through libpulse: PulseAudio itself, or PipeWire's pulse
// server. docs/audio-platform.md has the details.
class PulseAudioServer final : public AudioServer {
 public:
  explicit PulseAudioServer(std::shared_ptr<PulseContext> context);

  AudioStatus sinks(std::vector<AudioDevice>& out) override;
  AudioStatus sources(std::vector<AudioDevice>& out) override;
  AudioStatus defaults(AudioDeviceId& sink, AudioDeviceId& source) override;
  AudioStatus setDefaultSink(AudioDeviceId sink) override;
  AudioStatus setSinkVolume(AudioDeviceId sink, const std::vector<float>& volumes) override;
  AudioStatus setSinkMute(AudioDeviceId sink, bool muted) override;
  AudioStatus loadModule(const std::string& name, const std::string& arguments, uint32_t& index) override;
  AudioStatus unloadModule(uint32_t index) override;
  std::unique_ptr<AudioStream> openRecordStream(AudioDeviceId device, const AudioStreamBasicDescription& format,
                                                size_t periodBytes, AudioInputHandler handler,
                                                AudioStatus& status) override;
  std::unique_ptr<AudioStream> openPlaybackStream(AudioDeviceId sink, const AudioStreamBasicDescription& format,
                                                  size_t maxPullBytes, AudioPullHandler pull,
                                                  AudioStatus& status) override;
  std::unique_ptr<ListenerToken> watchDefaultSink(std::function<void()> changed, AudioStatus& status) override;
  AudioStatus serverName(std::string& out) override;

  // A listed sink or source with what the calls need beyond AudioDevice.
  struct Entry;

 private:
  AudioStatus list(bool wantSources, std::vector<Entry>& out);
  AudioStatus find(AudioDeviceId device, Entry& out);
  AudioStatus simpleCall(const std::function<pa_operation*(pa_context*, int*)>& start);
  void wakeSink(uint32_t index);

  std::shared_ptr<PulseContext> context_;
};

}  // namespace quillon
