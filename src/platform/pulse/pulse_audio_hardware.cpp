#include "platform/pulse/pulse_audio_hardware.h"

#include <cmath>

#include "platform/pulse/pulse_device_ids.h"
#include "platform/pulse/pulse_format.h"
#include "platform/pulse/pulse_streams.h"

namespace quillon {
namespace {

using DeviceInfo = PulseAudioHardware::DeviceInfo;

struct InfoQuery {
  DeviceInfo* out;
  bool found = false;
  std::vector<DeviceInfo>* list = nullptr;
};

DeviceInfo fromSink(const pa_sink_info& i) {
  DeviceInfo d;
  d.index = i.index;
  d.name = i.name ? i.name : "";
  d.spec = i.sample_spec;
  d.volume = i.volume;
  d.hasVolume = true;
  d.monitorSource = i.monitor_source;
  d.monitorSourceName = i.monitor_source_name ? i.monitor_source_name : "";
  return d;
}

DeviceInfo fromSource(const pa_source_info& i) {
  DeviceInfo d;
  d.isSource = true;
  d.index = i.index;
  d.name = i.name ? i.name : "";
  d.spec = i.sample_spec;
  d.monitorOfSink = i.monitor_of_sink;
  return d;
}

void onSink(pa_context*, const pa_sink_info* info, int, void* data) {
  auto* q = static_cast<InfoQuery*>(data);
  if (!info) return;
  q->found = true;
  if (q->list) q->list->push_back(fromSink(*info)); else *q->out = fromSink(*info);
}

void onSource(pa_context*, const pa_source_info* info, int, void* data) {
  auto* q = static_cast<InfoQuery*>(data);
  if (!info) return;
  q->found = true;
  if (q->list) q->list->push_back(fromSource(*info)); else *q->out = fromSource(*info);
}

void onSuccess(pa_context*, int success, void* data) { *static_cast<int*>(data) = success; }

// A missing entity is an unknown device; anything else is the server's fault.
AudioStatus failureOf(pa_context* context) {
  return pa_context_errno(context) == PA_ERR_NOENTITY ? AudioStatus::noSuchDevice
                                                      : AudioStatus::notSettable;
}

class PulseListenerToken final : public AudioHardware::ListenerToken {
 public:
  PulseListenerToken(std::shared_ptr<PulseContext> context, uint64_t id)
      : context_(std::move(context)), id_(id) {}
  ~PulseListenerToken() override {
    PulseContext::Lock lock(*context_);
    context_->removeDefaultSinkListener(id_);
  }

 private:
  std::shared_ptr<PulseContext> context_;
  uint64_t id_;
};

}  // namespace

PulseAudioHardware::PulseAudioHardware(std::shared_ptr<PulseContext> context)
    : context_(std::move(context)) {}

AudioStatus PulseAudioHardware::lookup(AudioDeviceId device, DeviceInfo& out) {
  auto ref = decodePulseDeviceId(device);
  if (!ref || !context_) return ref ? AudioStatus::serverUnavailable : AudioStatus::noSuchDevice;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  InfoQuery q{&out};
  pa_operation* op = ref->isSource ? pa_context_get_source_info_by_index(c, ref->index, onSource, &q)
                                   : pa_context_get_sink_info_by_index(c, ref->index, onSink, &q);
  if (AudioStatus s = context_->wait(op); s != AudioStatus::ok) return s;
  // A monitor is reached through its sink, never as a device of its own.
  if (!q.found || (out.isSource && out.monitorOfSink != PA_INVALID_INDEX)) {
    return AudioStatus::noSuchDevice;
  }
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::lookupSinkByName(const std::string& name, DeviceInfo& out) {
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  InfoQuery q{&out};
  if (AudioStatus s = context_->wait(pa_context_get_sink_info_by_name(c, name.c_str(), onSink, &q));
      s != AudioStatus::ok) {
    return s;
  }
  return q.found ? AudioStatus::ok : AudioStatus::noSuchDevice;
}

AudioStatus PulseAudioHardware::lookupSourceByName(const std::string& name, DeviceInfo& out) {
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  InfoQuery q{&out};
  if (AudioStatus s =
          context_->wait(pa_context_get_source_info_by_name(c, name.c_str(), onSource, &q));
      s != AudioStatus::ok) {
    return s;
  }
  return q.found ? AudioStatus::ok : AudioStatus::noSuchDevice;
}

AudioStatus PulseAudioHardware::serverDefaults(std::string& sink, std::string& source) {
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  std::pair<std::string*, std::string*> names{&sink, &source};
  pa_operation* op = pa_context_get_server_info(
      c,
      [](pa_context*, const pa_server_info* info, void* data) {
        auto* n = static_cast<std::pair<std::string*, std::string*>*>(data);
        if (!info) return;
        *n->first = info->default_sink_name ? info->default_sink_name : "";
        *n->second = info->default_source_name ? info->default_source_name : "";
      },
      &names);
  return context_->wait(op);
}

AudioStatus PulseAudioHardware::devices(std::vector<AudioDeviceId>& out) {
  out.clear();
  if (!context_) return AudioStatus::serverUnavailable;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  std::vector<DeviceInfo> all;
  InfoQuery q{nullptr, false, &all};
  if (AudioStatus s = context_->wait(pa_context_get_sink_info_list(c, onSink, &q));
      s != AudioStatus::ok) {
    return s;
  }
  if (AudioStatus s = context_->wait(pa_context_get_source_info_list(c, onSource, &q));
      s != AudioStatus::ok) {
    return s;
  }
  for (const auto& d : all) {
    if (!d.isSource) {
      out.push_back(pulseSinkDeviceId(d.index));
    } else if (d.monitorOfSink == PA_INVALID_INDEX) {
      out.push_back(pulseSourceDeviceId(d.index));
    }
  }
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::deviceName(AudioDeviceId device, std::string& out) {
  DeviceInfo d;
  AudioStatus s = lookup(device, d);
  if (s == AudioStatus::ok) out = d.name;
  return s;
}

AudioStatus PulseAudioHardware::deviceUid(AudioDeviceId device, std::string& out) {
  DeviceInfo d;
  AudioStatus s = lookup(device, d);
  if (s == AudioStatus::ok) out = (d.isSource ? "source:" : "sink:") + d.name;
  return s;
}

AudioStatus PulseAudioHardware::defaultOutputDevice(AudioDeviceId& out) {
  out = kNoAudioDevice;
  std::string sink, source;
  if (AudioStatus s = serverDefaults(sink, source); s != AudioStatus::ok) return s;
  if (sink.empty()) return AudioStatus::noSuchDevice;
  DeviceInfo d;
  if (AudioStatus s = lookupSinkByName(sink, d); s != AudioStatus::ok) return s;
  out = pulseSinkDeviceId(d.index);
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::setDefaultOutputDevice(AudioDeviceId device) {
  DeviceInfo d;
  if (AudioStatus s = lookup(device, d); s != AudioStatus::ok) return s;
  if (d.isSource) return AudioStatus::noSuchProperty;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  int success = 0;
  if (AudioStatus s =
          context_->wait(pa_context_set_default_sink(c, d.name.c_str(), onSuccess, &success));
      s != AudioStatus::ok) {
    return s;
  }
  return success ? AudioStatus::ok : failureOf(c);
}

AudioStatus PulseAudioHardware::defaultInputDevice(AudioDeviceId& out) {
  out = kNoAudioDevice;
  std::string sink, source;
  if (AudioStatus s = serverDefaults(sink, source); s != AudioStatus::ok) return s;
  if (source.empty()) return AudioStatus::ok;
  DeviceInfo d;
  AudioStatus s = lookupSourceByName(source, d);
  if (s == AudioStatus::noSuchDevice) return AudioStatus::ok;
  if (s != AudioStatus::ok) return s;
  // Without a microphone the server falls back to some sink's monitor: that
  // is the computer's own sound, not an input device.
  if (d.monitorOfSink == PA_INVALID_INDEX) out = pulseSourceDeviceId(d.index);
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::nominalSampleRate(AudioDeviceId device, double& out) {
  DeviceInfo d;
  AudioStatus s = lookup(device, d);
  if (s == AudioStatus::ok) out = d.spec.rate;
  return s;
}

AudioStatus PulseAudioHardware::setNominalSampleRate(AudioDeviceId device, double rate) {
  // The server chooses a device's rate itself and resamples every stream to
  // it; a client cannot impose one. The request is accepted for an existing
  // device and the caller's read-back tells whether the device runs at it.
  if (!(rate > 0.0)) return AudioStatus::invalidArgument;
  DeviceInfo d;
  return lookup(device, d);
}

AudioStatus PulseAudioHardware::inputStreamConfiguration(AudioDeviceId device,
                                                         std::vector<uint32_t>& channelsPerBuffer) {
  channelsPerBuffer.clear();
  DeviceInfo d;
  AudioStatus s = lookup(device, d);
  if (s != AudioStatus::ok) return s;
  // A sink's input side is its monitor, which has the sink's channels.
  if (d.isSource || d.monitorSource != PA_INVALID_INDEX) channelsPerBuffer.push_back(d.spec.channels);
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::streamFormat(AudioDeviceId device, AudioScope scope,
                                             AudioStreamBasicDescription& out) {
  DeviceInfo d;
  AudioStatus s = lookup(device, d);
  if (s != AudioStatus::ok) return s;
  if (d.isSource && scope == AudioScope::output) return AudioStatus::noSuchProperty;
  auto format = formatFromSampleSpec(d.spec);
  if (!format) return AudioStatus::noSuchProperty;
  out = *format;
  return AudioStatus::ok;
}

bool PulseAudioHardware::hasOutputVolume(AudioDeviceId device, uint32_t element) {
  DeviceInfo d;
  if (lookup(device, d) != AudioStatus::ok || !d.hasVolume) return false;
  return element <= d.volume.channels;
}

AudioStatus PulseAudioHardware::isOutputVolumeSettable(AudioDeviceId device, uint32_t element,
                                                       bool& settable) {
  settable = false;
  DeviceInfo d;
  if (AudioStatus s = lookup(device, d); s != AudioStatus::ok) return s;
  if (!d.hasVolume || element > d.volume.channels) return AudioStatus::noSuchProperty;
  settable = true;
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::outputVolume(AudioDeviceId device, uint32_t element, float& out) {
  DeviceInfo d;
  if (AudioStatus s = lookup(device, d); s != AudioStatus::ok) return s;
  if (!d.hasVolume || element > d.volume.channels) return AudioStatus::noSuchProperty;
  // The whole device reads as its loudest channel, as the server's own mixer shows it.
  pa_volume_t v = element == 0 ? pa_cvolume_max(&d.volume) : d.volume.values[element - 1];
  out = static_cast<float>(static_cast<double>(v) / PA_VOLUME_NORM);
  return AudioStatus::ok;
}

AudioStatus PulseAudioHardware::setOutputVolume(AudioDeviceId device, uint32_t element,
                                                float volume) {
  const double raw = static_cast<double>(volume) * PA_VOLUME_NORM;
  if (!std::isfinite(raw) || raw < 0.0 || raw > PA_VOLUME_MAX) return AudioStatus::invalidArgument;
  DeviceInfo d;
  if (AudioStatus s = lookup(device, d); s != AudioStatus::ok) return s;
  if (!d.hasVolume || element > d.volume.channels) return AudioStatus::noSuchProperty;
  pa_cvolume target = d.volume;
  const auto v = static_cast<pa_volume_t>(std::lround(raw));
  if (element == 0) {
    pa_cvolume_set(&target, d.volume.channels, v);
  } else {
    target.values[element - 1] = v;
  }
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
  int success = 0;
  pa_operation* op = pa_context_set_sink_volume_by_index(c, d.index, &target, onSuccess, &success);
  if (AudioStatus s = context_->wait(op); s != AudioStatus::ok) return s;
  return success ? AudioStatus::ok : failureOf(c);
}

std::unique_ptr<AudioStream> PulseAudioHardware::openInputStream(
    AudioDeviceId device, const AudioStreamBasicDescription& format, size_t periodBytes,
    AudioInputHandler handler, AudioStatus& status) {
  DeviceInfo d;
  status = lookup(device, d);
  if (status != AudioStatus::ok) return nullptr;
  const std::string source = d.isSource ? d.name : d.monitorSourceName;
  if (source.empty()) {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }
  auto stream = openPulseRecordStream(context_, source, format, periodBytes, std::move(handler), status);
  if (stream && !d.isSource) wakeSink(d.index);
  return stream;
}

void PulseAudioHardware::wakeSink(uint32_t index) {
  // A PulseAudio null sink that nothing plays into sleeps in blocks of up to
  // two seconds and notices a monitor's short latency only when the block
  // ends: the monitor would deliver nothing, and what is switched onto the
  // sink meanwhile would not be heard, for that long. A suspend and resume
  // restarts its clock at the latency now asked for. PipeWire's graph runs
  // at the requested quantum at once and is left alone.
  std::string server;
  if (serverName(server) != AudioStatus::ok || server.find("PipeWire") != std::string::npos) return;
  PulseContext::Lock lock(*context_);
  pa_context* c = nullptr;
  if (context_->connected(c) != AudioStatus::ok) return;
  int success = 0;
  for (int suspend : {1, 0}) {
    if (context_->wait(pa_context_suspend_sink_by_index(c, index, suspend, onSuccess, &success)) != AudioStatus::ok) {
      return;
    }
  }
}

std::unique_ptr<AudioStream> PulseAudioHardware::openOutputStream(
    AudioDeviceId device, const AudioStreamBasicDescription& format, size_t maxPullBytes,
    AudioPullHandler pull, AudioStatus& status) {
  DeviceInfo d;
  status = lookup(device, d);
  if (status != AudioStatus::ok) return nullptr;
  if (d.isSource) {
    status = AudioStatus::noSuchProperty;
    return nullptr;
  }
  return openPulsePlaybackStream(context_, d.name, format, maxPullBytes, std::move(pull), status);
}

std::unique_ptr<AudioHardware::ListenerToken> PulseAudioHardware::addDefaultOutputListener(
    std::function<void()> changed, AudioStatus& status) {
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

AudioStatus PulseAudioHardware::serverName(std::string& out) {
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

AudioStatus PulseAudioHardware::loadModule(const std::string& name, const std::string& arguments,
                                           uint32_t& index) {
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

}  // namespace quillon
