#include "fakes/fake_audio_hardware.h"

namespace quillon::test {

class FakeOutputStream final : public AudioStream {
 public:
  explicit FakeOutputStream(FakeAudioHardware& owner) : owner_(owner) {}
  ~FakeOutputStream() override { stop(); }
  AudioStatus setPaused(bool) override { return AudioStatus::ok; }
  void stop() override {
    std::lock_guard lock(owner_.mutex_);
    if (stopped_) return;
    stopped_ = true;
    owner_.pull_ = nullptr;
    ++owner_.stoppedOutputStreams;
  }

 private:
  FakeAudioHardware& owner_;
  bool stopped_ = false;
};

class FakeListenerToken final : public AudioHardware::ListenerToken {
 public:
  FakeListenerToken(FakeAudioHardware& owner, int id) : owner_(owner), id_(id) {}
  ~FakeListenerToken() override {
    std::lock_guard lock(owner_.mutex_);
    owner_.listeners_.erase(id_);
  }

 private:
  FakeAudioHardware& owner_;
  int id_;
};

FakeAudioHardware::Device& FakeAudioHardware::add(AudioDeviceId id, std::string name) {
  order.push_back(id);
  Device& d = deviceTable[id];
  d.name = std::move(name);
  d.uid = "fake:" + d.name;
  return d;
}

FakeAudioHardware::Device* FakeAudioHardware::find(AudioDeviceId device) {
  auto it = deviceTable.find(device);
  return it == deviceTable.end() ? nullptr : &it->second;
}

bool FakeAudioHardware::pullOutput(uint8_t* out, size_t bytes) {
  std::lock_guard lock(mutex_);
  if (!pull_) return false;
  pull_(out, bytes);
  return true;
}

void FakeAudioHardware::fireDefaultOutputChange() {
  std::lock_guard lock(mutex_);
  for (auto& [id, listener] : listeners_) listener();
}

AudioStatus FakeAudioHardware::devices(std::vector<AudioDeviceId>& out) {
  out.clear();
  if (listStatus != AudioStatus::ok) return listStatus;
  out = order;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::deviceName(AudioDeviceId device, std::string& out) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  if (!d->nameReadable) return AudioStatus::noSuchProperty;
  out = d->name;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::deviceUid(AudioDeviceId device, std::string& out) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  out = d->uid;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::defaultOutputDevice(AudioDeviceId& out) {
  out = defaultOutput;
  return defaultOutput == kNoAudioDevice ? AudioStatus::noSuchDevice : AudioStatus::ok;
}

AudioStatus FakeAudioHardware::setDefaultOutputDevice(AudioDeviceId device) {
  if (!find(device)) return AudioStatus::noSuchDevice;
  defaultOutput = device;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::defaultInputDevice(AudioDeviceId& out) {
  out = defaultInput;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::nominalSampleRate(AudioDeviceId device, double& out) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  out = d->rate;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::setNominalSampleRate(AudioDeviceId device, double rate) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  if (d->setRateStatus != AudioStatus::ok) return d->setRateStatus;
  d->rate = d->rateAfterSet != 0.0 ? d->rateAfterSet : rate;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::inputStreamConfiguration(AudioDeviceId device,
                                                        std::vector<uint32_t>& channelsPerBuffer) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  channelsPerBuffer = d->inputChannels;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::streamFormat(AudioDeviceId device, AudioScope,
                                            AudioStreamBasicDescription& out) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  out = d->outputFormat;
  return AudioStatus::ok;
}

bool FakeAudioHardware::hasOutputVolume(AudioDeviceId device, uint32_t element) {
  Device* d = find(device);
  return d && d->volumes.count(element) != 0;
}

AudioStatus FakeAudioHardware::isOutputVolumeSettable(AudioDeviceId device, uint32_t element,
                                                      bool& settable) {
  settable = false;
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  auto it = d->volumes.find(element);
  if (it == d->volumes.end()) return AudioStatus::noSuchProperty;
  settable = it->second.settable;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::outputVolume(AudioDeviceId device, uint32_t element, float& out) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  auto it = d->volumes.find(element);
  if (it == d->volumes.end()) return AudioStatus::noSuchProperty;
  out = it->second.value;
  return AudioStatus::ok;
}

AudioStatus FakeAudioHardware::setOutputVolume(AudioDeviceId device, uint32_t element,
                                               float volume) {
  Device* d = find(device);
  if (!d) return AudioStatus::noSuchDevice;
  auto it = d->volumes.find(element);
  if (it == d->volumes.end()) return AudioStatus::noSuchProperty;
  if (!it->second.settable) return AudioStatus::notSettable;
  it->second.value = volume;
  return AudioStatus::ok;
}

std::unique_ptr<AudioStream> FakeAudioHardware::openInputStream(AudioDeviceId,
                                                                const AudioStreamBasicDescription&,
                                                                size_t, AudioInputHandler,
                                                                AudioStatus& status) {
  status = AudioStatus::noSuchProperty;
  return nullptr;
}

std::unique_ptr<AudioStream> FakeAudioHardware::openOutputStream(
    AudioDeviceId device, const AudioStreamBasicDescription&, size_t maxPullBytes,
    AudioPullHandler pull, AudioStatus& status) {
  status = find(device) ? outputStreamStatus : AudioStatus::noSuchDevice;
  if (status != AudioStatus::ok) return nullptr;
  std::lock_guard lock(mutex_);
  pull_ = std::move(pull);
  lastMaxPullBytes = maxPullBytes;
  ++openOutputStreams;
  return std::make_unique<FakeOutputStream>(*this);
}

std::unique_ptr<AudioHardware::ListenerToken> FakeAudioHardware::addDefaultOutputListener(
    std::function<void()> changed, AudioStatus& status) {
  std::lock_guard lock(mutex_);
  status = AudioStatus::ok;
  int id = nextListener_++;
  listeners_[id] = std::move(changed);
  return std::make_unique<FakeListenerToken>(*this, id);
}

}  // namespace quillon::test
