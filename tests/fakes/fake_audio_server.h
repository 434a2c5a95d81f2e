#pragma once

#include <chrono>
#include <functional>
#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_server.h"

namespace quillon::test {

// A sound server held in memory. Tests put it in states a real one seldom
// shows (a call failing, a device vanishing, another program moving the
// output) and drive its streams as the audio thread would.
class FakeAudioServer final : public AudioServer {
 public:
  std::vector<AudioDevice> devices;  // sinks and sources, in the server's order
  AudioDeviceId defaultSink = kNoAudioDevice, defaultSource = kNoAudioDevice;
  std::string server = "pulseaudio";

  // A status other than ok fails that kind of call.
  AudioStatus listStatus = AudioStatus::ok;  // sinks, sources and defaults
  AudioStatus setDefaultStatus = AudioStatus::ok, loadStatus = AudioStatus::ok;
  AudioStatus recordStatus = AudioStatus::ok, playbackStatus = AudioStatus::ok;

  // What was asked.
  std::vector<std::string> loadedModules;  // "NAME ARGS"; a loopback null sink adds its sink
  AudioDeviceId recordDevice = kNoAudioDevice;
  AudioStreamBasicDescription recordFormat{};
  float playbackVolume = 1.0f;
  bool recordPaused = false;
  int listeners = 0;  // default-sink listeners alive; none is ever told of a change

  // A stereo 16-bit sink.
  AudioDevice& addSink(AudioDeviceId id, std::string name, float volume = 1.0f) {
    AudioDevice& d = add(id, std::move(name), true, 2, 44100.0, 16);
    d.volumes.assign(2, volume);
    return d;
  }
  AudioDevice& addSource(AudioDeviceId id, std::string name, uint32_t channels = 1, double rate = 48000.0,
                         uint32_t bits = 16) {
    return add(id, std::move(name), false, channels, rate, bits);
  }
  AudioDevice* device(AudioDeviceId id) {
    auto found = std::ranges::find(devices, id, &AudioDevice::id);
    return found == devices.end() ? nullptr : &*found;
  }
  void remove(AudioDeviceId id) {
    std::erase_if(devices, [id](const AudioDevice& d) { return d.id == id; });
  }
  // Drives the running playback stream; false when none runs.
  bool pullOutput(uint8_t* out, size_t bytes) {
    std::lock_guard lock(mutex_);
    if (pull_) pull_(out, bytes);
    return pull_ != nullptr;
  }
  // Delivers a period (null data: a lost stretch) to the running record
  // stream; false when none runs or it is paused.
  bool pushInput(const uint8_t* data, size_t bytes) {
    std::lock_guard lock(mutex_);
    if (!record_ || recordPaused) return false;
    record_(data, bytes, std::chrono::steady_clock::now());
    return true;
  }

  AudioStatus sinks(std::vector<AudioDevice>& out) override { return list(true, out); }
  AudioStatus sources(std::vector<AudioDevice>& out) override { return list(false, out); }
  AudioStatus defaults(AudioDeviceId& sink, AudioDeviceId& source) override {
    sink = source = kNoAudioDevice;
    if (listStatus != AudioStatus::ok) return listStatus;
    if (device(defaultSink)) sink = defaultSink;
    if (device(defaultSource)) source = defaultSource;
    return AudioStatus::ok;
  }
  AudioStatus setDefaultSink(AudioDeviceId sink) override {
    if (setDefaultStatus != AudioStatus::ok) return setDefaultStatus;
    if (!findSink(sink)) return AudioStatus::noSuchDevice;
    defaultSink = sink;
    return AudioStatus::ok;
  }
  AudioStatus setSinkVolume(AudioDeviceId sink, const std::vector<float>& volumes) override {
    AudioDevice* d = findSink(sink);
    if (!d) return AudioStatus::noSuchDevice;
    d->volumes = volumes.size() == 1 ? std::vector<float>(d->channels, volumes[0]) : volumes;
    return AudioStatus::ok;
  }
  AudioStatus setSinkMute(AudioDeviceId sink, bool muted) override {
    AudioDevice* d = findSink(sink);
    if (!d) return AudioStatus::noSuchDevice;
    d->muted = muted;
    return AudioStatus::ok;
  }
  AudioStatus loadModule(const std::string& name, const std::string& args, uint32_t& index) override {
    index = static_cast<uint32_t>(loadedModules.size());
    if (loadStatus != AudioStatus::ok) return loadStatus;
    loadedModules.push_back(name + " " + args);
    if (name == "module-null-sink" && args.find("sink_name=VerdalisRecorder") != std::string::npos) {
      addSink(0xF00 + index, "VerdalisRecorder");
    }
    return AudioStatus::ok;
  }
  AudioStatus unloadModule(uint32_t) override { return AudioStatus::ok; }
  std::unique_ptr<AudioStream> openRecordStream(AudioDeviceId id, const AudioStreamBasicDescription& format,
                                                size_t, AudioInputHandler handler, AudioStatus& status) override {
    status = device(id) ? recordStatus : AudioStatus::noSuchDevice;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    record_ = std::move(handler);
    recordDevice = id;
    recordFormat = format;
    recordPaused = false;
    return std::make_unique<Handle>(*this, [this] { record_ = nullptr; });
  }
  std::unique_ptr<AudioStream> openPlaybackStream(AudioDeviceId id, const AudioStreamBasicDescription&,
                                                  size_t, AudioPullHandler pull,
                                                  AudioStatus& status) override {
    status = findSink(id) ? playbackStatus : AudioStatus::noSuchDevice;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    pull_ = std::move(pull);
    playbackVolume = 1.0f;
    return std::make_unique<Handle>(*this, [this] { pull_ = nullptr; });
  }
  std::unique_ptr<ListenerToken> watchDefaultSink(std::function<void()>, AudioStatus& status) override {
    status = AudioStatus::ok;
    ++listeners;
    return std::make_unique<Handle>(*this, [this] { --listeners; });
  }
  AudioStatus serverName(std::string& out) override { return out = server, AudioStatus::ok; }

 private:
  AudioDevice& add(AudioDeviceId id, std::string name, bool isSink, uint32_t channels, double rate, uint32_t bits) {
    devices.push_back({id, std::move(name), isSink, rate, channels, makeLinearPcmFormat(rate, channels, bits, false),
                       {}, false});
    return devices.back();
  }
  AudioDevice* findSink(AudioDeviceId id) {
    AudioDevice* d = device(id);
    return d && d->isSink ? d : nullptr;
  }
  AudioStatus list(bool isSink, std::vector<AudioDevice>& out) const {
    out.clear();
    if (listStatus != AudioStatus::ok) return listStatus;
    for (const auto& d : devices) {
      if (d.isSink == isSink) out.push_back(d);
    }
    return AudioStatus::ok;
  }

  // A stream, or a listener token, that runs `end_` once: when stopped or destroyed.
  class Handle final : public AudioStream, public ListenerToken {
   public:
    Handle(FakeAudioServer& owner, std::function<void()> end) : owner_(owner), end_(std::move(end)) {}
    ~Handle() override { stop(); }
    AudioStatus setPaused(bool paused) override {
      std::lock_guard lock(owner_.mutex_);
      owner_.recordPaused = paused;
      return AudioStatus::ok;
    }
    AudioStatus setVolume(float volume) override {
      owner_.playbackVolume = volume;
      return AudioStatus::ok;
    }
    void stop() override {
      std::lock_guard lock(owner_.mutex_);
      if (end_) std::exchange(end_, nullptr)();
    }

   private:
    FakeAudioServer& owner_;
    std::function<void()> end_;
  };

  std::recursive_mutex mutex_;
  AudioPullHandler pull_;
  AudioInputHandler record_;
};

}  // namespace quillon::test
