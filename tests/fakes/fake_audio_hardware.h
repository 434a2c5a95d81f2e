#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_hardware.h"

namespace quillon::test {

// Audio devices held in memory, for logic that a real server cannot put in
// every state (no volume control, rates that do not stick, duplicate names).
class FakeAudioHardware final : public AudioHardware {
 public:
  struct VolumeElement {
    float value = 1.0f;
    bool settable = true;
  };
  struct Device {
    std::string name;
    bool nameReadable = true;
    std::string uid;
    double rate = 48000.0;
    double rateAfterSet = 0.0;  // nonzero: what a set really leaves behind
    AudioStatus setRateStatus = AudioStatus::ok;
    std::vector<uint32_t> inputChannels;
    AudioStreamBasicDescription outputFormat{};
    std::map<uint32_t, VolumeElement> volumes;  // element -> control
  };

  std::vector<AudioDeviceId> order;
  std::map<AudioDeviceId, Device> deviceTable;
  AudioDeviceId defaultOutput = kNoAudioDevice;
  AudioDeviceId defaultInput = kNoAudioDevice;
  AudioStatus listStatus = AudioStatus::ok;
  AudioStatus outputStreamStatus = AudioStatus::ok;

  Device& add(AudioDeviceId id, std::string name);

  // Drives the most recently opened output stream as the audio thread would.
  bool pullOutput(uint8_t* out, size_t bytes);
  size_t lastMaxPullBytes = 0;
  int openOutputStreams = 0;
  int stoppedOutputStreams = 0;
  void fireDefaultOutputChange();

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

 private:
  friend class FakeOutputStream;
  friend class FakeListenerToken;
  Device* find(AudioDeviceId device);
  std::mutex mutex_;
  AudioPullHandler pull_;
  std::map<int, std::function<void()>> listeners_;
  int nextListener_ = 1;
};

}  // namespace quillon::test
