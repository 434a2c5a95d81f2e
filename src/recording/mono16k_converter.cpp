#include "recording/mono16k_converter.h"

#include <samplerate.h>

#include <algorithm>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "SamplerateUtil";
}  // namespace

std::unique_ptr<Mono16kConverter> Mono16kConverter::create(int32_t sourceSampleRate, int32_t channels) {
  const double ratio = sourceSampleRate > 0 ? static_cast<double>(kTargetRate) / sourceSampleRate : 0.0;
  if (channels < 1 || channels > 8 || sourceSampleRate < 1 || !src_is_valid_ratio(ratio)) {
    Logger::shared().error(kTag, "Invalid stream for 16 kHz conversion: rate=%d, channels=%d", sourceSampleRate,
                           channels);
    return nullptr;
  }
  int error = 0;
  SRC_STATE* state = src_new(SRC_LINEAR, 1, &error);
  if (state == nullptr) {
    Logger::shared().error(kTag, "src_new error: %s", src_strerror(error));
    return nullptr;
  }
  return std::unique_ptr<Mono16kConverter>(new Mono16kConverter(sourceSampleRate, channels, state));
}

Mono16kConverter::Mono16kConverter(int32_t sourceSampleRate, int32_t channels, SRC_STATE_tag* state)
    : _sourceSampleRate(sourceSampleRate),
      _channels(channels),
      _ratio(static_cast<double>(kTargetRate) / sourceSampleRate),
      _state(state) {}

Mono16kConverter::~Mono16kConverter() { src_delete(_state); }

void Mono16kConverter::downMix(const float* frames, size_t count) {
  const auto stride = static_cast<size_t>(_channels);
  const size_t old = _mono.size();
  _mono.resize(old + count);
  float* out = _mono.data() + old;
  if (_channels == 1) {
    std::copy(frames, frames + count, out);
    return;
  }
  for (size_t f = 0; f < count; ++f) {
    const float* frame = frames + f * stride;
    out[f] = std::clamp((frame[0] + frame[1]) * 0.5f, -1.0f, 1.0f);
  }
}

void Mono16kConverter::process(std::span<const float> samples, std::vector<float>& output) {
  const auto stride = static_cast<size_t>(_channels);
  output.clear();
  // _mono[0] holds the last sample of the previous call: libsamplerate 0.2's
  // linear converter can read the sample just before the block it is given,
  // and in a continuous stream that must be the true previous sample (reading
  // anything else puts a click at the block edge).
  const float previous = _mono.empty() ? 0.0f : _mono.back();
  _mono.assign(1, previous);
  // Complete a frame split across calls first.
  if (!_partialFrame.empty()) {
    const size_t take = std::min(stride - _partialFrame.size(), samples.size());
    _partialFrame.insert(_partialFrame.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(take));
    samples = samples.subspan(take);
    if (_partialFrame.size() == stride) {
      downMix(_partialFrame.data(), 1);
      _partialFrame.clear();
    }
  }
  const size_t whole = samples.size() / stride;
  downMix(samples.data(), whole);
  const auto rest = samples.subspan(whole * stride);
  _partialFrame.insert(_partialFrame.end(), rest.begin(), rest.end());
  const size_t frames = _mono.size() - 1;
  if (frames == 0) return;

  // A few frames of slack over the exact ratio; the loop below copes with
  // whatever the converter holds back or releases.
  const size_t capacity = static_cast<size_t>(static_cast<double>(frames) * _ratio) + 16;
  output.resize(capacity);
  size_t produced = 0;
  size_t consumed = 0;
  while (consumed < frames) {
    if (produced == output.size()) output.resize(output.size() * 2);
    const size_t room = output.size() - produced;
    SRC_DATA data{};
    data.data_in = _mono.data() + 1 + consumed;
    data.input_frames = static_cast<long>(frames - consumed);
    data.data_out = output.data() + produced;
    data.output_frames = static_cast<long>(room);
    data.src_ratio = _ratio;
    data.end_of_input = 0;
    const int error = src_process(_state, &data);
    if (error != 0) {
      Logger::shared().error(kTag, "src_process error: %s", src_strerror(error));
      src_reset(_state);
      break;
    }
    consumed += static_cast<size_t>(data.input_frames_used);
    produced += static_cast<size_t>(data.output_frames_gen);
    if (data.input_frames_used == 0 && data.output_frames_gen == 0 && produced < output.size()) {
      break;  // the converter wants nothing more for now
    }
  }
  output.resize(produced);
}

}  // namespace quillon
