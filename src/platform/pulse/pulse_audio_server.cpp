#include "platform/pulse/pulse_audio_server.h"

#include <cmath>

#include "platform/pulse/pulse_device_ids.h"
#include "platform/pulse/pulse_format.h"
#include "platform/pulse/pulse_streams.h"

namespace quillon {

// What the listings keep of a sink or source beyond the device itself.
struct PulseAudioServer::Entry {
  AudioDevice device;
  uint32_t index = PA_INVALID_INDEX;
  pa_channel_map map{};
  std::string monitorSourceName;              // a sink's record side
  uint32_t monitorOfSink = PA_INVALID_INDEX;  // set on monitor sources
};

namespace {

using Entry = PulseAudioServer::Entry;

std::vector<float> volumesOf(const pa_cvolume& volume) {
  std::vector<float> out;
  for (uint8_t i = 0; i < volume.channels; ++i) {
    out.push_back(static_cast<float>(static_cast<double>(volume.values[i]) / PA_VOLUME_NORM));
  }
  return out;
}

void describe(Entry& e, const char* name, uint32_t index, const pa_sample_spec& spec, const pa_channel_map& map) {
  e.index = index;
  e.map = map;
  e.device.name = name ? name : "";
  e.device.rate = spec.rate;
  e.device.channels = spec.channels;
  if (auto format = formatFromSampleSpec(spec)) e.device.format = *format;
}

void onSink(pa_context*, const pa_sink_info* info, int, void* data) {
  if (!info) return;
  Entry e;
  describe(e, info->name, info->index, info->sample_spec, info->channel_map);
  e.device.id = pulseSinkDeviceId(info->index);
  e.device.isSink = true;
  e.device.volumes = volumesOf(info->volume);
  e.device.muted = info->mute != 0;
  e.monitorSourceName = info->monitor_source_name ? info->monitor_source_name : "";
  static_cast<std::vector<Entry>*>(data)->push_back(std::move(e));
}

void onSource(pa_context*, const pa_source_info* info, int, void* data) {
  if (!info) return;
  Entry e;
  describe(e, info->name, info->index, info->sample_spec, info->channel_map);
  e.device.id = pulseSourceDeviceId(info->index);
  e.device.muted = info->mute != 0;
  e.monitorOfSink = info->monitor_of_sink;
  static_cast<std::vector<Entry>*>(data)->push_back(std::move(e));
}

void onSuccess(pa_context*, int success, void* data) { *static_cast<int*>(data) = success; }

// A missing entity is an unknown device; anything else is the server's refusal.
AudioStatus failureOf(pa_context* context) {
  return pa_context_errno(context) == PA_ERR_NOENTITY ? AudioStatus::noSuchDevice : AudioStatus::notSettable;
}

class PulseListenerToken final : public AudioServer::ListenerToken {
 public:
  PulseListenerToken(std::shared_ptr<PulseContext> context, uint64_t id) : context_(std::move(context)), id_(id) {}
  ~PulseListenerToken() override {
    PulseContext::Lock lock(*context_);
    context_->removeDefaultSinkListener(id_);
  }

 private:
  std::shared_ptr<PulseContext> context_;
  uint64_t id_;
};

}  // namespace

PulseAudioServer::PulseAudioServer(std::shared_ptr<PulseContext> context) : context_(std::move(context)) {}

AudioStatus PulseAudioServer::list(bool wantSources, std::vector<Entry>& out) {
  out.clear();
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  pa_operation* op = wantSources ? pa_context_get_source_info_list(c, onSource, &out)
                                 : pa_context_get_sink_info_list(c, onSink, &out);
  AudioStatus s = context_->wait(op);
  if (s != AudioStatus::ok) out.clear();
  return s;
}

AudioStatus PulseAudioServer::find(AudioDeviceId device, Entry& out) {
  auto ref = decodePulseDeviceId(device);
  if (!ref) return AudioStatus::noSuchDevice;
  std::vector<Entry> entries;
  if (AudioStatus s = list(ref->isSource, entries); s != AudioStatus::ok) return s;
  for (auto& e : entries) {
    // A monitor is reached through its sink, never as a device of its own.
    if (e.device.id == device && e.monitorOfSink == PA_INVALID_INDEX) {
      out = std::move(e);
      return AudioStatus::ok;
    }
  }
  return AudioStatus::noSuchDevice;
}

AudioStatus PulseAudioServer::sinks(std::vector<AudioDevice>& out) {
  out.clear();
  std::vector<Entry> entries;
  AudioStatus s = list(false, entries);
  for (auto& e : entries) out.push_back(std::move(e.device));
  return s;
}

AudioStatus PulseAudioServer::sources(std::vector<AudioDevice>& out) {
  out.clear();
  std::vector<Entry> entries;
  AudioStatus s = list(true, entries);
  for (auto& e : entries) {
    if (e.monitorOfSink == PA_INVALID_INDEX) out.push_back(std::move(e.device));
  }
  return s;
}

AudioStatus PulseAudioServer::defaults(AudioDeviceId& sink, AudioDeviceId& source) {
  sink = source = kNoAudioDevice;
  if (!context_) return AudioStatus::serverUnavailable;
  std::string sinkName, sourceName;
  {
    PulseContext::Lock lock(*context_);
    pa_context* c = nullptr;
    if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
    std::pair<std::string*, std::string*> names{&sinkName, &sourceName};
    pa_operation* op = pa_context_get_server_info(
        c,
        [](pa_context*, const pa_server_info* info, void* data) {
          auto* n = static_cast<std::pair<std::string*, std::string*>*>(data);
          if (!info) return;
          *n->first = info->default_sink_name ? info->default_sink_name : "";
          *n->second = info->default_source_name ? info->default_source_name : "";
        },
        &names);
    if (AudioStatus s = context_->wait(op); s != AudioStatus::ok) return s;
  }
  std::vector<Entry> entries;
  if (AudioStatus s = list(false, entries); s != AudioStatus::ok) return s;
  for (const auto& e : entries) {
    if (e.device.name == sinkName) sink = e.device.id;
  }
  if (AudioStatus s = list(true, entries); s != AudioStatus::ok) return s;
  for (const auto& e : entries) {
    // Without a microphone the server falls back to some sink's monitor: that
    // is the computer's own sound, not an input device.
    if (e.device.name == sourceName && e.monitorOfSink == PA_INVALID_INDEX) source = e.device.id;
  }
  return AudioStatus::ok;
}

AudioStatus PulseAudioServer::simpleCall(const std::function<pa_operation*(pa_context*, int*)>& start) {
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  int success = 0;
  if (AudioStatus s = context_->wait(start(c, &success)); s != AudioStatus::ok) return s;
  return success ? AudioStatus::ok : failureOf(c);
}

AudioStatus PulseAudioServer::setDefaultSink(AudioDeviceId sink) {
  Entry e;
  if (AudioStatus s = find(sink, e); s != AudioStatus::ok) return s;
  if (!e.device.isSink) return AudioStatus::noSuchProperty;
  return simpleCall([&](pa_context* c, int* success) {
    return pa_context_set_default_sink(c, e.device.name.c_str(), onSuccess, success);
  });
}

AudioStatus PulseAudioServer::setSinkVolume(AudioDeviceId sink, const std::vector<float>& volumes) {
  if (volumes.empty()) return AudioStatus::invalidArgument;
  for (float volume : volumes) {
    const double raw = static_cast<double>(volume) * PA_VOLUME_NORM;
    if (!std::isfinite(raw) || raw < 0.0 || raw > PA_VOLUME_MAX) return AudioStatus::invalidArgument;
  }
  Entry e;
  if (AudioStatus s = find(sink, e); s != AudioStatus::ok) return s;
  if (!e.device.isSink) return AudioStatus::noSuchProperty;
  if (volumes.size() != 1 && volumes.size() != e.device.channels) return AudioStatus::invalidArgument;
  pa_cvolume target{};
  target.channels = static_cast<uint8_t>(e.device.channels);
  for (uint32_t i = 0; i < e.device.channels; ++i) {
    target.values[i] = static_cast<pa_volume_t>(std::lround(volumes[volumes.size() == 1 ? 0 : i] * PA_VOLUME_NORM));
  }
  return simpleCall([&](pa_context* c, int* success) {
    return pa_context_set_sink_volume_by_index(c, e.index, &target, onSuccess, success);
  });
}

AudioStatus PulseAudioServer::setSinkMute(AudioDeviceId sink, bool muted) {
  Entry e;
  if (AudioStatus s = find(sink, e); s != AudioStatus::ok) return s;
  if (!e.device.isSink) return AudioStatus::noSuchProperty;
  return simpleCall([&](pa_context* c, int* success) {
    return pa_context_set_sink_mute_by_index(c, e.index, muted ? 1 : 0, onSuccess, success);
  });
}

std::unique_ptr<AudioStream> PulseAudioServer::openRecordStream(AudioDeviceId device,
                                                                const AudioStreamBasicDescription& format,
                                                                size_t periodBytes, AudioInputHandler handler,
                                                                AudioStatus& status) {
  Entry e;
  status = find(device, e);
  if (status != AudioStatus::ok) return nullptr;
  const std::string source = e.device.isSink ? e.monitorSourceName : e.device.name;
  if (source.empty()) {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }
  auto stream = openPulseRecordStream(context_, source, format, periodBytes, std::move(handler), status);
  if (stream && e.device.isSink) wakeSink(e.index);
  return stream;
}

void PulseAudioServer::wakeSink(uint32_t index) {
  // A PulseAudio null sink that nothing plays into sleeps in blocks of up to
  // two seconds and notices a monitor's short latency only when the block
  // ends: the monitor would deliver nothing, and what is switched onto the
  // sink meanwhile would not be heard, for that long. A suspend and resume
  // restarts its clock at the latency now asked for. PipeWire's graph runs
  // at the requested quantum at once and is left alone.
  std::string server;
  if (serverName(server) != AudioStatus::ok || server.find("PipeWire") != std::string::npos) return;
  for (int suspend : {1, 0}) {
    if (simpleCall([&](pa_context* c, int* success) {
          return pa_context_suspend_sink_by_index(c, index, suspend, onSuccess, success);
        }) == AudioStatus::serverUnavailable) {
      return;
    }
  }
}

std::unique_ptr<AudioStream> PulseAudioServer::openPlaybackStream(AudioDeviceId sink,
                                                                  const AudioStreamBasicDescription& format,
                                                                  size_t maxPullBytes, AudioPullHandler pull,
                                                                  AudioStatus& status) {
  Entry e;
  status = find(sink, e);
  if (status != AudioStatus::ok) return nullptr;
  if (!e.device.isSink) {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }
  return openPulsePlaybackStream(context_, e.device.name, format, maxPullBytes, std::move(pull), status);
}

std::unique_ptr<AudioServer::ListenerToken> PulseAudioServer::watchDefaultSink(std::function<void()> changed,
                                                                               AudioStatus& status) {
  if (!context_) {
    status = AudioStatus::serverUnavailable;
    return nullptr;
  }
  uint64_t id = 0;
  {
    PulseContext::Lock lock(*context_);
    status = context_->addDefaultSinkListener(std::move(changed), id);
  }
  if (status != AudioStatus::ok) return nullptr;
  return std::make_unique<PulseListenerToken>(context_, id);
}

AudioStatus PulseAudioServer::serverName(std::string& out) {
  out.clear();
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  pa_operation* op = pa_context_get_server_info(
      c,
      [](pa_context*, const pa_server_info* info, void* data) {
        if (info && info->server_name) *static_cast<std::string*>(data) = info->server_name;
      },
      &out);
  return context_->wait(op);
}

AudioStatus PulseAudioServer::loadModule(const std::string& name, const std::string& arguments, uint32_t& index) {
  index = PA_INVALID_INDEX;
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  pa_operation* op = pa_context_load_module(
      c, name.c_str(), arguments.c_str(),
      [](pa_context*, uint32_t loaded, void* data) { *static_cast<uint32_t*>(data) = loaded; }, &index);
  if (AudioStatus s = context_->wait(op); s != AudioStatus::ok) return s;
  return index == PA_INVALID_INDEX ? AudioStatus::notSettable : AudioStatus::ok;
}

AudioStatus PulseAudioServer::unloadModule(uint32_t index) {
  if (!context_) return AudioStatus::serverUnavailable;
  return simpleCall([&](pa_context* c, int* success) { return pa_context_unload_module(c, index, onSuccess, success); });
}

}  // namespace quillon
