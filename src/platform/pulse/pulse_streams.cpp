#include "platform/pulse/pulse_streams.h"

#include <algorithm>
#include <chrono>

#include "logging/logger.h"
#include "platform/pulse/callback_times.h"
#include "platform/pulse/pulse_format.h"

namespace quillon {
namespace {

constexpr const char* kTag = "audioDeviceUtil";
// Pass-through latency the playback stream aims at: short enough that what
// the user hears stays with what they see, long enough to ride out a busy
// machine.
constexpr pa_usec_t kPlaybackTargetLatencyUsec = 50 * 1000;
// How much the server asks for at a time. Its default, a quarter of the
// target, wakes the host 80 times a second for the pass-through alone; 20 ms
// matches the loopback's periods and leaves the server asking when 30 ms
// are still queued, which rides out a busy machine as well.
constexpr pa_usec_t kPlaybackRequestUsec = 20 * 1000;
// Stream volumes above this would only amplify the noise floor.
constexpr float kMaxStreamVolume = 10.0f;

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
    device_ = device;
    if (!stream_) return AudioStatus::invalidArgument;
    frameBytes_ = pa_frame_size(&spec);
    pa_stream_set_state_callback(stream_, &PulseStream::onState, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    int result;
    if (input_) {
      // The server's timing places each period in time (see onReadable).
      flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_INTERPOLATE_TIMING |
                                             PA_STREAM_AUTO_TIMING_UPDATE);
      spec_ = spec;
      attr.fragsize = static_cast<uint32_t>(periodBytes);
      pa_stream_set_read_callback(stream_, &PulseStream::onReadable, this);
      result = pa_stream_connect_record(stream_, device.c_str(), &attr, flags);
    } else {
      attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackTargetLatencyUsec, &spec));
      attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kPlaybackRequestUsec, &spec));
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

  AudioStatus setVolume(float volume) override {
    if (!(volume >= 0.0f)) return AudioStatus::invalidArgument;
    PulseContext::Lock lock(*context_);
    if (!stream_ || input_) return AudioStatus::noSuchProperty;
    if (context_->inLoopThread()) return AudioStatus::wrongThread;
    pa_context* c = nullptr;
    if (AudioStatus s = context_->connected(c); s != AudioStatus::ok) return s;
    pa_cvolume cv;
    const double raw = static_cast<double>(std::min(volume, kMaxStreamVolume)) * PA_VOLUME_NORM;
    pa_cvolume_set(&cv, pa_stream_get_sample_spec(stream_)->channels, static_cast<pa_volume_t>(raw + 0.5));
    int success = 0;
    pa_operation* op = pa_context_set_sink_input_volume(
        c, pa_stream_get_index(stream_), &cv, [](pa_context*, int ok, void* d) { *static_cast<int*>(d) = ok; },
        &success);
    if (AudioStatus s = context_->wait(op); s != AudioStatus::ok) return s;
    return success ? AudioStatus::ok : AudioStatus::notSettable;
  }

  void stop() override {
    CallbackTimes times;
    {
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
      times = times_;
    }
    // Said once the loop runs free again: a log write never holds it up.
    if (times.count() > 0) {
      using Ms = std::chrono::duration<double, std::milli>;
      Logger::shared().info(kTag, "Stream on %s: %llu callbacks, median %.3f ms, longest %.3f ms (%.3f ms on the CPU)",
                            device_.c_str(), static_cast<unsigned long long>(times.count()),
                            Ms(times.median()).count(), Ms(times.longest()).count(),
                            Ms(times.longestOnCpu()).count());
    }
  }

 private:
  static void onState(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) self->ready_ = true;
    // A running stream that fails means the server went away or restarted:
    // said once, so a recording that falls silent has its cause in the log.
    if (self->ready_ && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
      self->ready_ = false;
      Logger::shared().error(kTag, "Stream on %s ended: the sound server went away (%s)", self->device_.c_str(),
                             pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    }
    self->context_->signal();
  }

  static void onReadable(pa_stream* stream, size_t, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    const auto began = std::chrono::steady_clock::now();
    const auto cpuBefore = CallbackTimes::threadCpuNow();
    self->drainReadable(stream);
    self->times_.record(std::chrono::steady_clock::now() - began, CallbackTimes::threadCpuNow() - cpuBefore);
  }

  // The stream's timing is read once per call: the periods that follow the
  // first are placed right after it. Each libpulse call costs a system call
  // (its fork check), on a thread that runs hundreds of times a second.
  void drainReadable(pa_stream* stream) {
    std::chrono::steady_clock::time_point capturedAt;
    bool placed = false;
    for (;;) {
      const void* bytes = nullptr;
      size_t size = 0;
      if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) return;
      if (!placed) {
        capturedAt = readPositionCapturedAt(stream);
        placed = true;
      }
      // A hole (no bytes) is time the server lost: it reaches the handler as
      // silence of its real length, so the stream never shrinks.
      input_(static_cast<const uint8_t*>(bytes), size, capturedAt);
      pa_stream_drop(stream);
      capturedAt += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::microseconds(pa_bytes_to_usec(size, &spec_)));
    }
  }

  // When the frame at the stream's read position entered the device: the
  // stream's latency is how long ago that was. Until the first timing report
  // the readable bytes are taken as just captured.
  std::chrono::steady_clock::time_point readPositionCapturedAt(pa_stream* stream) const {
    const auto now = std::chrono::steady_clock::now();
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) != 0) {
      latency = pa_bytes_to_usec(pa_stream_readable_size(stream), &spec_);
      negative = 0;
    }
    const auto lag = std::chrono::microseconds(static_cast<int64_t>(latency));
    return negative ? now + lag : now - lag;
  }

  static void onWritable(pa_stream* stream, size_t requested, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    const auto began = std::chrono::steady_clock::now();
    const auto cpuBefore = CallbackTimes::threadCpuNow();
    self->fill(stream, requested);
    self->times_.record(std::chrono::steady_clock::now() - began, CallbackTimes::threadCpuNow() - cpuBefore);
  }

  void fill(pa_stream* stream, size_t requested) {
    const size_t frame = std::max<size_t>(frameBytes_, 1);
    const size_t cap = std::max(maxPullBytes_ / frame * frame, frame);
    while (requested >= frame) {
      size_t chunk = std::min(requested, cap);
      void* buffer = nullptr;
      if (pa_stream_begin_write(stream, &buffer, &chunk) < 0 || !buffer) return;
      chunk = std::min(chunk, cap) / frame * frame;
      if (chunk == 0) {
        pa_stream_cancel_write(stream);
        return;
      }
      pull_(static_cast<uint8_t*>(buffer), chunk);
      if (pa_stream_write(stream, buffer, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
      requested -= chunk;
    }
  }

  std::shared_ptr<PulseContext> context_;
  AudioInputHandler input_;
  AudioPullHandler pull_;
  size_t maxPullBytes_;
  size_t frameBytes_ = 1;
  pa_sample_spec spec_{};
  std::string device_;
  bool ready_ = false;  // the loop thread only
  CallbackTimes times_;  // the loop thread only, until stop()
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
