#pragma once

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_server.h"

namespace quillon::test {

// A sound server held in memory. Tests put it in every state a real one
// seldom shows (calls failing one by one, a device vanishing, another program
// moving the output) and drive its streams as the audio thread would.
class FakeAudioServer final : public AudioServer {
 public:
  std::vector<AudioDevice> sinkList, sourceList;
  AudioDeviceId defaultSink = kNoAudioDevice, defaultSource = kNoAudioDevice;
  std::string server = "pulseaudio";

  // Failures, one per kind of call.
  AudioStatus listStatus = AudioStatus::ok;  // sinks, sources and defaults
  AudioStatus setDefaultStatus = AudioStatus::ok;
  AudioStatus volumeStatus = AudioStatus::ok;
  AudioStatus recordStatus = AudioStatus::ok;
  AudioStatus playbackStatus = AudioStatus::ok;
  AudioStatus loadStatus = AudioStatus::ok;
  AudioStatus watchStatus = AudioStatus::ok;

  // What was asked.
  std::vector<std::string> loadedModules;  // "NAME ARGS"; a loopback null sink adds its sink
  std::vector<AudioDeviceId> defaultSinkSets;
  AudioDeviceId recordDevice = kNoAudioDevice, playbackDevice = kNoAudioDevice;
  AudioStreamBasicDescription recordFormat{};
  size_t recordPeriodBytes = 0, lastMaxPullBytes = 0;
  float playbackVolume = 1.0f;
  int openPlaybackStreams = 0, stoppedPlaybackStreams = 0, openRecordStreams = 0, stoppedRecordStreams = 0;
  bool recordPaused = false;

  AudioDevice& addSink(AudioDeviceId id, std::string name, float volume = 1.0f, uint32_t channels = 2,
                       double rate = 44100.0) {
    sinkList.push_back(make(id, std::move(name), true, channels, rate, false));
    sinkList.back().volumes.assign(channels, volume);
    return sinkList.back();
  }
  AudioDevice& addSource(AudioDeviceId id, std::string name, uint32_t channels = 1, double rate = 48000.0,
                         uint32_t bits = 16, bool isFloat = false) {
    sourceList.push_back(make(id, std::move(name), false, channels, rate, isFloat, bits));
    return sourceList.back();
  }
  AudioDevice* device(AudioDeviceId id) {
    for (auto* list : {&sinkList, &sourceList}) {
      for (auto& d : *list) {
        if (d.id == id) return &d;
      }
    }
    return nullptr;
  }
  void remove(AudioDeviceId id) {
    for (auto* list : {&sinkList, &sourceList}) {
      std::erase_if(*list, [id](const AudioDevice& d) { return d.id == id; });
    }
  }
  // As another program would: the default sink changes and the watchers hear of it.
  void moveOutputTo(AudioDeviceId id) {
    defaultSink = id;
    std::lock_guard lock(mutex_);
    for (auto& [token, changed] : watchers_) changed();
  }
  // Drives the running playback stream; false when none runs.
  bool pullOutput(uint8_t* out, size_t bytes) {
    std::lock_guard lock(mutex_);
    if (!pull_) return false;
    pull_(out, bytes);
    return true;
  }
  // Delivers a period (null data: a lost stretch) to the running record
  // stream; false when none runs or it is paused.
  bool pushInput(const uint8_t* data, size_t bytes,
                 std::chrono::steady_clock::time_point capturedAt = std::chrono::steady_clock::now()) {
    std::lock_guard lock(mutex_);
    if (!record_ || recordPaused) return false;
    record_(data, bytes, capturedAt);
    return true;
  }
  bool watched() {
    std::lock_guard lock(mutex_);
    return !watchers_.empty();
  }

  AudioStatus sinks(std::vector<AudioDevice>& out) override { return copy(sinkList, out); }
  AudioStatus sources(std::vector<AudioDevice>& out) override { return copy(sourceList, out); }
  AudioStatus defaults(AudioDeviceId& sink, AudioDeviceId& source) override {
    sink = source = kNoAudioDevice;
    if (listStatus != AudioStatus::ok) return listStatus;
    sink = device(defaultSink) ? defaultSink : kNoAudioDevice;
    source = device(defaultSource) ? defaultSource : kNoAudioDevice;
    return AudioStatus::ok;
  }
  AudioStatus setDefaultSink(AudioDeviceId sink) override {
    if (setDefaultStatus != AudioStatus::ok) return setDefaultStatus;
    AudioDevice* d = device(sink);
    if (!d) return AudioStatus::noSuchDevice;
    if (!d->isSink) return AudioStatus::noSuchProperty;
    defaultSinkSets.push_back(sink);
    defaultSink = sink;
    return AudioStatus::ok;
  }
  AudioStatus setSinkVolume(AudioDeviceId sink, const std::vector<float>& volumes) override {
    if (volumeStatus != AudioStatus::ok) return volumeStatus;
    for (float v : volumes) {
      if (!std::isfinite(v) || v < 0.0f || v > 10.0f) return AudioStatus::invalidArgument;
    }
    AudioDevice* d = device(sink);
    if (!d) return AudioStatus::noSuchDevice;
    if (!d->isSink) return AudioStatus::noSuchProperty;
    if (volumes.size() == 1) {
      d->volumes.assign(d->channels, volumes[0]);
    } else if (volumes.size() == d->channels) {
      d->volumes = volumes;
    } else {
      return AudioStatus::invalidArgument;
    }
    return AudioStatus::ok;
  }
  AudioStatus setSinkMute(AudioDeviceId sink, bool muted) override {
    AudioDevice* d = device(sink);
    if (!d || !d->isSink) return d ? AudioStatus::noSuchProperty : AudioStatus::noSuchDevice;
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
  AudioStatus unloadModule(uint32_t index) override {
    return index < loadedModules.size() ? AudioStatus::ok : AudioStatus::noSuchDevice;
  }
  std::unique_ptr<AudioStream> openRecordStream(AudioDeviceId id, const AudioStreamBasicDescription& format,
                                                size_t periodBytes, AudioInputHandler handler,
                                                AudioStatus& status) override {
    status = device(id) ? recordStatus : AudioStatus::noSuchDevice;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    record_ = std::move(handler);
    recordDevice = id;
    recordFormat = format;
    recordPeriodBytes = periodBytes;
    recordPaused = false;
    ++openRecordStreams;
    return std::make_unique<Stream>(*this, false);
  }
  std::unique_ptr<AudioStream> openPlaybackStream(AudioDeviceId id, const AudioStreamBasicDescription&,
                                                  size_t maxPullBytes, AudioPullHandler pull,
                                                  AudioStatus& status) override {
    AudioDevice* d = device(id);
    status = !d ? AudioStatus::noSuchDevice : !d->isSink ? AudioStatus::noSuchProperty : playbackStatus;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    pull_ = std::move(pull);
    playbackDevice = id;
    lastMaxPullBytes = maxPullBytes;
    playbackVolume = 1.0f;
    ++openPlaybackStreams;
    return std::make_unique<Stream>(*this, true);
  }
  std::unique_ptr<ListenerToken> watchDefaultSink(std::function<void()> changed, AudioStatus& status) override {
    status = watchStatus;
    if (status != AudioStatus::ok) return nullptr;
    std::lock_guard lock(mutex_);
    watchers_[++nextWatcher_] = std::move(changed);
    return std::make_unique<Watch>(*this, nextWatcher_);
  }
  AudioStatus serverName(std::string& out) override { return out = server, AudioStatus::ok; }

 private:
  static AudioDevice make(AudioDeviceId id, std::string name, bool isSink, uint32_t channels, double rate,
                          bool isFloat, uint32_t bits = 16) {
    AudioDevice d;
    d.id = id;
    d.name = std::move(name);
    d.isSink = isSink;
    d.channels = channels;
    d.rate = rate;
    d.format = makeLinearPcmFormat(rate, channels, isFloat ? 32 : bits, isFloat);
    return d;
  }
  AudioStatus copy(const std::vector<AudioDevice>& list, std::vector<AudioDevice>& out) const {
    out = listStatus == AudioStatus::ok ? list : std::vector<AudioDevice>{};
    return listStatus;
  }

  class Stream final : public AudioStream {
   public:
    Stream(FakeAudioServer& owner, bool playback) : owner_(owner), playback_(playback) {}
    ~Stream() override { stop(); }
    AudioStatus setPaused(bool paused) override {
      std::lock_guard lock(owner_.mutex_);
      if (!playback_) owner_.recordPaused = paused;
      return AudioStatus::ok;
    }
    AudioStatus setVolume(float volume) override {
      if (!playback_) return AudioStatus::noSuchProperty;
      owner_.playbackVolume = volume;
      return AudioStatus::ok;
    }
    void stop() override {
      std::lock_guard lock(owner_.mutex_);
      if (std::exchange(stopped_, true)) return;
      if (playback_) {
        owner_.pull_ = nullptr;
        ++owner_.stoppedPlaybackStreams;
      } else {
        owner_.record_ = nullptr;
        ++owner_.stoppedRecordStreams;
      }
    }

   private:
    FakeAudioServer& owner_;
    bool playback_;
    bool stopped_ = false;
  };
  class Watch final : public ListenerToken {
   public:
    Watch(FakeAudioServer& owner, uint64_t id) : owner_(owner), id_(id) {}
    ~Watch() override {
      std::lock_guard lock(owner_.mutex_);
      owner_.watchers_.erase(id_);
    }

   private:
    FakeAudioServer& owner_;
    uint64_t id_;
  };

  std::recursive_mutex mutex_;
  AudioPullHandler pull_;
  AudioInputHandler record_;
  std::map<uint64_t, std::function<void()>> watchers_;
  uint64_t nextWatcher_ = 0;
};

}  // namespace quillon::test
