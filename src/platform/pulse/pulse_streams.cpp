#include "platform/pulse/pulse_streams.h"

#include <algorithm>

#include "logging/logger.h"
#include "platform/pulse/pulse_format.h"

namespace quillon {
namespace {

constexpr const char* kTag = "audioDeviceUtil";
// Pass-through latency the playback stream aims at: short enough to follow
// the source closely, long enough to ride out a busy machine.
constexpr pa_usec_t kPlaybackTargetLatencyUsec = 60 * 1000;

class PulseStream : public AudioStream {
 public:
  PulseStream(std::shared_ptr<PulseContext> context, AudioInputHandler input, AudioPullHandler pull,
              size_t maxPullBytes)
      : context_(std::move(context)),
        input_(std::move(input)),
        pull_(std::move(pull)),
        maxPullBytes_(maxPullBytes) {}
  ~PulseStream() override { stop(); }

  // Creates and connects the stream and waits until the server runs it.
  AudioStatus connect(const std::string& device, const pa_sample_spec& spec, size_t periodBytes) {
    PulseContext::Lock lock(*context_);
    pa_context* c = nullptr;
    if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
    stream_ = pa_stream_new(c, input_ ? "quillon record" : "quillon playback", &spec, nullptr);
    if (!stream_) return AudioStatus::invalidArgument;
    frameBytes_ = pa_frame_size(&spec);
    pa_stream_set_state_callback(stream_, &PulseStream::onState, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    int result;
    if (input_) {
      attr.fragsize = static_cast<uint32_t>(periodBytes);
      pa_stream_set_read_callback(stream_, &PulseStream::onReadable, this);
      result = pa_stream_connect_record(stream_, device.c_str(), &attr, flags);
    } else {
      attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackTargetLatencyUsec, &spec));
      pa_stream_set_write_callback(stream_, &PulseStream::onWritable, this);
      result = pa_stream_connect_playback(stream_, device.c_str(), &attr, flags, nullptr, nullptr);
    }
    if (result < 0) return AudioStatus::noSuchDevice;
    pa_stream* s = stream_;
    return context_->waitUntil([s] { return pa_stream_get_state(s) == PA_STREAM_READY; }, s);
  }

  AudioStatus setPaused(bool paused) override {
    PulseContext::Lock lock(*context_);
    if (!stream_) return AudioStatus::noSuchDevice;
    if (context_->inLoopThread()) return AudioStatus::wrongThread;
    return context_->wait(pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr));
  }

  void stop() override {
    // Handlers run on the loop thread with the lock held, so once the lock is
    // ours and the callbacks are cleared no handler can run again.
    PulseContext::Lock lock(*context_);
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) != PA_STREAM_UNCONNECTED) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

 private:
  static void onState(pa_stream*, void* self) { static_cast<PulseStream*>(self)->context_->signal(); }

  static void onReadable(pa_stream* stream, size_t, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    while (pa_stream_readable_size(stream) > 0) {
      const void* bytes = nullptr;
      size_t size = 0;
      if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) return;
      // A hole (no bytes) is a gap the server could not fill: skip it.
      if (bytes) self->input_(static_cast<const uint8_t*>(bytes), size);
      pa_stream_drop(stream);
    }
  }

  static void onWritable(pa_stream* stream, size_t requested, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    const size_t frame = std::max<size_t>(self->frameBytes_, 1);
    const size_t cap = std::max(self->maxPullBytes_ / frame * frame, frame);
    while (requested >= frame) {
      size_t chunk = std::min(requested, cap);
      void* buffer = nullptr;
      if (pa_stream_begin_write(stream, &buffer, &chunk) < 0 || !buffer) return;
      chunk = std::min(chunk, cap) / frame * frame;
      if (chunk == 0) {
        pa_stream_cancel_write(stream);
        return;
      }
      self->pull_(static_cast<uint8_t*>(buffer), chunk);
      if (pa_stream_write(stream, buffer, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      requested -= chunk;
    }
  }

  std::shared_ptr<PulseContext> context_;
  AudioInputHandler input_;
  AudioPullHandler pull_;
  size_t maxPullBytes_;
  size_t frameBytes_ = 1;
  pa_stream* stream_ = nullptr;
};

std::unique_ptr<AudioStream> open(std::shared_ptr<PulseContext> context, const std::string& device,
                                  const AudioStreamBasicDescription& format, size_t periodBytes,
                                  AudioInputHandler input, AudioPullHandler pull,
                                  AudioStatus& status) {
  if (!context) {
    status = AudioStatus::serverUnavailable;
    return nullptr;
  }
  auto spec = sampleSpecFromFormat(format);
  if (!spec || periodBytes == 0) {
    status = AudioStatus::invalidArgument;
    return nullptr;
  }
  auto stream = std::make_unique<PulseStream>(std::move(context), std::move(input),
                                              std::move(pull), periodBytes);
  status = stream->connect(device, *spec, periodBytes);
  if (status != AudioStatus::ok) {
    Logger::shared().error(kTag, "Stream on %s could not start (status: %d)", device.c_str(),
                           statusCode(status));
    return nullptr;
  }
  return stream;
}

}  // namespace

std::unique_ptr<AudioStream> openPulseRecordStream(std::shared_ptr<PulseContext> context,
                                                   const std::string& source,
                                                   const AudioStreamBasicDescription& format,
                                                   size_t periodBytes, AudioInputHandler handler,
                                                   AudioStatus& status) {
  if (!handler) {
    status = AudioStatus::invalidArgument;
    return nullptr;
  }
  return open(std::move(context), source, format, periodBytes, std::move(handler), {}, status);
}

std::unique_ptr<AudioStream> openPulsePlaybackStream(std::shared_ptr<PulseContext> context,
                                                     const std::string& sink,
                                                     const AudioStreamBasicDescription& format,
                                                     size_t maxPullBytes, AudioPullHandler pull,
                                                     AudioStatus& status) {
  if (!pull) {
    status = AudioStatus::invalidArgument;
    return nullptr;
  }
  return open(std::move(context), sink, format, maxPullBytes, {}, std::move(pull), status);
}

}  // namespace quillon
