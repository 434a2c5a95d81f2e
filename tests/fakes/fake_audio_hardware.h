#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
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
  std::string server = "pulseaudio";
  // Modules loaded so far ("NAME ARGS"); a null-sink load adds its sink.
  std::vector<std::string> loadedModules;
  AudioStatus loadStatus = AudioStatus::ok;
  size_t lastMaxPullBytes = 0;
  int openOutputStreams = 0;
  int stoppedOutputStreams = 0;

  Device& add(AudioDeviceId id, std::string name) {
    order.push_back(id);
    Device& d = deviceTable[id];
    d.name = std::move(name);
    d.uid = "fake:" + d.name;
    return d;
  }
  // Drives the open output stream as the audio thread would; false when none runs.
  bool pullOutput(uint8_t* out, size_t bytes) {
    std::lock_guard lock(mutex_);
    if (!pull_) return false;
    pull_(out, bytes);
    return true;
  }

  AudioStatus devices(std::vector<AudioDeviceId>& out) override {
    out = listStatus == AudioStatus::ok ? order : std::vector<AudioDeviceId>{};
    return listStatus;
  }
  AudioStatus deviceName(AudioDeviceId id, std::string& out) override {
    return get(id, [&](Device& d) {
      if (!d.nameReadable) return AudioStatus::noSuchProperty;
      out = d.name;
      return AudioStatus::ok;
    });
  }
  AudioStatus deviceUid(AudioDeviceId id, std::string& out) override {
    return get(id, [&](Device& d) { return out = d.uid, AudioStatus::ok; });
  }
  AudioStatus defaultOutputDevice(AudioDeviceId& out) override {
    out = defaultOutput;
    return defaultOutput == kNoAudioDevice ? AudioStatus::noSuchDevice : AudioStatus::ok;
  }
  AudioStatus setDefaultOutputDevice(AudioDeviceId id) override {
    return get(id, [&](Device&) { return defaultOutput = id, AudioStatus::ok; });
  }
  AudioStatus defaultInputDevice(AudioDeviceId& out) override { return out = defaultInput, AudioStatus::ok; }
  AudioStatus nominalSampleRate(AudioDeviceId id, double& out) override {
    return get(id, [&](Device& d) { return out = d.rate, AudioStatus::ok; });
  }
  AudioStatus setNominalSampleRate(AudioDeviceId id, double rate) override {
    return get(id, [&](Device& d) {
      if (d.setRateStatus == AudioStatus::ok) d.rate = d.rateAfterSet != 0.0 ? d.rateAfterSet : rate;
      return d.setRateStatus;
    });
  }
  AudioStatus inputStreamConfiguration(AudioDeviceId id, std::vector<uint32_t>& out) override {
    return get(id, [&](Device& d) { return out = d.inputChannels, AudioStatus::ok; });
  }
  AudioStatus streamFormat(AudioDeviceId id, AudioScope, AudioStreamBasicDescription& out) override {
    return get(id, [&](Device& d) { return out = d.outputFormat, AudioStatus::ok; });
  }
  bool hasOutputVolume(AudioDeviceId id, uint32_t element) override {
    return volume(id, element, [](VolumeElement&) { return AudioStatus::ok; }) == AudioStatus::ok;
  }
  AudioStatus isOutputVolumeSettable(AudioDeviceId id, uint32_t element, bool& settable) override {
    settable = false;
    return volume(id, element, [&](VolumeElement& v) { return settable = v.settable, AudioStatus::ok; });
  }
  AudioStatus outputVolume(AudioDeviceId id, uint32_t element, float& out) override {
    return volume(id, element, [&](VolumeElement& v) { return out = v.value, AudioStatus::ok; });
  }
  AudioStatus setOutputVolume(AudioDeviceId id, uint32_t element, float value) override {
    return volume(id, element, [&](VolumeElement& v) {
      if (!v.settable) return AudioStatus::notSettable;
      return v.value = value, AudioStatus::ok;
    });
  }
  std::unique_ptr<AudioStream> openInputStream(AudioDeviceId, const AudioStreamBasicDescription&, size_t,
                                               AudioInputHandler, AudioStatus& status) override {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }
  std::unique_ptr<AudioStream> openOutputStream(AudioDeviceId id, const AudioStreamBasicDescription&,
                                                size_t maxPullBytes, AudioPullHandler pull,
                                                AudioStatus& status) override {
    status = deviceTable.count(id) ? outputStreamStatus : AudioStatus::noSuchDevice;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    pull_ = std::move(pull);
    lastMaxPullBytes = maxPullBytes;
    ++openOutputStreams;
    return std::make_unique<OutputStream>(*this);
  }
  AudioStatus serverName(std::string& out) override { return out = server, AudioStatus::ok; }
  AudioStatus loadModule(const std::string& name, const std::string& args, uint32_t& index) override {
    index = static_cast<uint32_t>(loadedModules.size());
    if (loadStatus != AudioStatus::ok) return loadStatus;
    loadedModules.push_back(name + " " + args);
    const auto sinkName = args.find("sink_name=VerdalisRecorder");
    if (name == "module-null-sink" && sinkName != std::string::npos) add(0xF00 + index, "VerdalisRecorder");
    return AudioStatus::ok;
  }
  // Nothing here observes the default output; the real server's tests do.
  std::unique_ptr<ListenerToken> addDefaultOutputListener(std::function<void()>, AudioStatus& status) override {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }

 private:
  class OutputStream final : public AudioStream {
   public:
    explicit OutputStream(FakeAudioHardware& owner) : owner_(owner) {}
    ~OutputStream() override { stop(); }
    AudioStatus setPaused(bool) override { return AudioStatus::ok; }
    void stop() override {
      std::lock_guard lock(owner_.mutex_);
      if (std::exchange(stopped_, true)) return;
      owner_.pull_ = nullptr;
      ++owner_.stoppedOutputStreams;
    }

   private:
    FakeAudioHardware& owner_;
    bool stopped_ = false;
  };

  template <typename F>
  AudioStatus get(AudioDeviceId id, F f) {
    auto it = deviceTable.find(id);
    return it == deviceTable.end() ? AudioStatus::noSuchDevice : f(it->second);
  }
  template <typename F>
  AudioStatus volume(AudioDeviceId id, uint32_t element, F f) {
    return get(id, [&](Device& d) {
      auto it = d.volumes.find(element);
      return it == d.volumes.end() ? AudioStatus::noSuchProperty : f(it->second);
    });
  }

  std::mutex mutex_;
  AudioPullHandler pull_;
};

}  // namespace quillon::test
