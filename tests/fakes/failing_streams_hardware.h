#pragma once

#include <atomic>
#include <cstring>
#include <memory>

#include "platform/audio_hardware.h"

namespace quillon::test {

// A real audio hardware whose stream openings can be made to fail on demand,
// for the failure paths that a working server never takes. Everything else
// goes to the wrapped hardware unchanged.
class FailingStreamsHardware final : public AudioHardware {
 public:
  explicit FailingStreamsHardware(std::shared_ptr<AudioHardware> real) : real_(std::move(real)) {}
  std::atomic<bool> failInputStreams{false};
  std::atomic<bool> failOutputStreams{false};
  // Output streams play silence and never ask their source for data.
  std::atomic<bool> stallOutputStreams{false};

  std::unique_ptr<AudioStream> openInputStream(AudioDeviceId d, const AudioStreamBasicDescription& format,
                                               size_t periodBytes, AudioInputHandler handler,
                                               AudioStatus& status) override {
    if (failInputStreams) return status = AudioStatus::noSuchDevice, nullptr;
    return real_->openInputStream(d, format, periodBytes, std::move(handler), status);
  }
  std::unique_ptr<AudioStream> openOutputStream(AudioDeviceId d, const AudioStreamBasicDescription& format,
                                                size_t maxPullBytes, AudioPullHandler pull,
                                                AudioStatus& status) override {
    if (failOutputStreams) return status = AudioStatus::noSuchDevice, nullptr;
    if (stallOutputStreams) pull = [](uint8_t* out, size_t bytes) { std::memset(out, 0, bytes); };
    return real_->openOutputStream(d, format, maxPullBytes, std::move(pull), status);
  }

  AudioStatus devices(std::vector<AudioDeviceId>& out) override { return real_->devices(out); }
  AudioStatus deviceName(AudioDeviceId d, std::string& out) override { return real_->deviceName(d, out); }
  AudioStatus deviceUid(AudioDeviceId d, std::string& out) override { return real_->deviceUid(d, out); }
  AudioStatus defaultOutputDevice(AudioDeviceId& out) override { return real_->defaultOutputDevice(out); }
  AudioStatus setDefaultOutputDevice(AudioDeviceId d) override { return real_->setDefaultOutputDevice(d); }
  AudioStatus defaultInputDevice(AudioDeviceId& out) override { return real_->defaultInputDevice(out); }
  AudioStatus nominalSampleRate(AudioDeviceId d, double& out) override { return real_->nominalSampleRate(d, out); }
  AudioStatus setNominalSampleRate(AudioDeviceId d, double r) override { return real_->setNominalSampleRate(d, r); }
  AudioStatus inputStreamConfiguration(AudioDeviceId d, std::vector<uint32_t>& out) override {
    return real_->inputStreamConfiguration(d, out);
  }
  AudioStatus streamFormat(AudioDeviceId d, AudioScope s, AudioStreamBasicDescription& out) override {
    return real_->streamFormat(d, s, out);
  }
  bool hasOutputVolume(AudioDeviceId d, uint32_t e) override { return real_->hasOutputVolume(d, e); }
  AudioStatus isOutputVolumeSettable(AudioDeviceId d, uint32_t e, bool& settable) override {
    return real_->isOutputVolumeSettable(d, e, settable);
  }
  AudioStatus outputVolume(AudioDeviceId d, uint32_t e, float& out) override { return real_->outputVolume(d, e, out); }
  AudioStatus setOutputVolume(AudioDeviceId d, uint32_t e, float v) override { return real_->setOutputVolume(d, e, v); }
  std::unique_ptr<ListenerToken> addDefaultOutputListener(std::function<void()> changed, AudioStatus& status) override {
    return real_->addDefaultOutputListener(std::move(changed), status);
  }

 private:
  std::shared_ptr<AudioHardware> real_;
};

}  // namespace quillon::test
