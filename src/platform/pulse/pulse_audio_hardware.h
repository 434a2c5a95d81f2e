#pragma once

#include <pulse/pulseaudio.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/audio_hardware.h"
#include "platform/pulse/pulse_context.h"

namespace quillon {

// The audio hardware as a PulseAudio (or PipeWire pulse) server shows it.
// Devices are the sinks and the sources that are not a sink's monitor; a
// sink's monitor is that sink's input side. docs/audio-platform.md has the
// details.
class PulseAudioHardware final : public AudioHardware {
 public:
  explicit PulseAudioHardware(std::shared_ptr<PulseContext> context);

  AudioStatus devices(std::vector<AudioDeviceId>& out) override;
  AudioStatus deviceName(AudioDeviceId device, std::string& out) override;
  AudioStatus deviceUid(AudioDeviceId device, std::string& out) override;
  AudioStatus defaultOutputDevice(AudioDeviceId& out) override;
  AudioStatus setDefaultOutputDevice(AudioDeviceId device) override;
  AudioStatus defaultInputDevice(AudioDeviceId& out) override;
  AudioStatus nominalSampleRate(AudioDeviceId device, double& out) override;
  AudioStatus setNominalSampleRate(AudioDeviceId device, double rate) override;
  AudioStatus inputStreamConfiguration(AudioDeviceId device,
                                       std::vector<uint32_t>& channelsPerBuffer) override;
  AudioStatus streamFormat(AudioDeviceId device, AudioScope scope,
                           AudioStreamBasicDescription& out) override;
  bool hasOutputVolume(AudioDeviceId device, uint32_t element) override;
  AudioStatus isOutputVolumeSettable(AudioDeviceId device, uint32_t element,
                                     bool& settable) override;
  AudioStatus outputVolume(AudioDeviceId device, uint32_t element, float& out) override;
  AudioStatus setOutputVolume(AudioDeviceId device, uint32_t element, float volume) override;
  std::unique_ptr<AudioStream> openInputStream(AudioDeviceId device,
                                               const AudioStreamBasicDescription& format,
                                               size_t periodBytes, AudioInputHandler handler,
                                               AudioStatus& status) override;
  std::unique_ptr<AudioStream> openOutputStream(AudioDeviceId device,
                                                const AudioStreamBasicDescription& format,
                                                size_t maxPullBytes, AudioPullHandler pull,
                                                AudioStatus& status) override;
  std::unique_ptr<ListenerToken> addDefaultOutputListener(std::function<void()> changed,
                                                          AudioStatus& status) override;
  AudioStatus serverName(std::string& out) override;
  AudioStatus loadModule(const std::string& name, const std::string& arguments, uint32_t& index) override;

  // One snapshot of a sink or source, as far as the host uses it.
  struct DeviceInfo {
    bool isSource = false;
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    pa_sample_spec spec{};
    pa_cvolume volume{};
    bool hasVolume = false;             // sinks only: the output volume
    uint32_t monitorSource = PA_INVALID_INDEX;  // a sink's input side
    std::string monitorSourceName;
    uint32_t monitorOfSink = PA_INVALID_INDEX;  // set on monitor sources
  };

 private:
  AudioStatus lookup(AudioDeviceId device, DeviceInfo& out);
  AudioStatus lookupSourceByName(const std::string& name, DeviceInfo& out);
  AudioStatus lookupSinkByName(const std::string& name, DeviceInfo& out);
  AudioStatus serverDefaults(std::string& sink, std::string& source);
  void wakeSink(uint32_t index);

  std::shared_ptr<PulseContext> context_;
};

}  // namespace quillon
