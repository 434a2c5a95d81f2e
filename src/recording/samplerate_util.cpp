#include "recording/samplerate_util.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "SamplerateUtil";

bool validInput(std::span<const uint8_t> data, int32_t rate, int32_t channels) {
  return channels >= 1 && channels <= 8 && rate >= 1 && !data.empty();
}

// Sample `channel` of every whole frame.
std::vector<float> extractChannel(std::span<const uint8_t> data, int32_t channels, int32_t channel, size_t frames) {
  std::vector<float> out(frames);
  for (size_t f = 0; f < frames; ++f) {
    std::memcpy(&out[f], data.data() + (f * static_cast<size_t>(channels) + static_cast<size_t>(channel)) * 4, 4);
  }
  return out;
}

size_t frameCount(std::span<const uint8_t> data, int32_t channels) {
  return data.size() / 4 / static_cast<size_t>(channels);
}

// Resamples one channel; nothing when the library reports an error.
std::optional<std::vector<float>> resample(const std::vector<float>& input, int32_t sourceRate) {
  const double ratio = static_cast<double>(SamplerateUtil::kTargetRate) / sourceRate;
  const long frames = static_cast<long>(input.size());
  const long capacity = SamplerateUtil::outputCapacity(frames, ratio);
  std::vector<float> output(static_cast<size_t>(std::max(capacity, 1L)));
  // A silent sample in front of the block: libsamplerate 0.2's linear
  // converter can read one sample before its input. This also keeps the input
  // pointer valid for zero frames, which the library would refuse as null.
  std::vector<float> padded(input.size() + 1, 0.0f);
  std::copy(input.begin(), input.end(), padded.begin() + 1);
  SRC_DATA src{};
  src.data_in = padded.data() + 1;
  src.data_out = output.data();
  src.input_frames = frames;
  src.output_frames = capacity;
  src.end_of_input = 1;
  src.src_ratio = ratio;
  const int error = src_simple(&src, SRC_LINEAR, 1);
  if (error != 0) {
    Logger::shared().error(kTag, "src_simple error: %s", src_strerror(error));
    return std::nullopt;
  }
  output.resize(static_cast<size_t>(src.output_frames_gen));
  return output;
}

std::vector<uint8_t> toBytes(const std::vector<float>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 4);
  if (!samples.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

}  // namespace

long SamplerateUtil::outputCapacity(long sourceFrames, double ratio) {
  return static_cast<long>(std::fma(static_cast<double>(sourceFrames), ratio, 1.0));
}

std::optional<std::vector<uint8_t>> SamplerateUtil::convertToMono16k(std::span<const uint8_t> data,
                                                                    int32_t sourceSampleRate,
                                                                    int32_t sourceChannels) {
  if (!validInput(data, sourceSampleRate, sourceChannels)) {
    Logger::shared().errorWithTag(kTag, "Invalid input for convertToMono16kFloat.");
    return std::nullopt;
  }
  const size_t frames = frameCount(data, sourceChannels);
  std::vector<float> mono;
  if (sourceChannels == 1) {
    mono = extractChannel(data, 1, 0, frames);
  } else {
    const std::vector<float> left = extractChannel(data, sourceChannels, 0, frames);
    const std::vector<float> right = extractChannel(data, sourceChannels, 1, frames);
    mono.resize(frames);
    for (size_t f = 0; f < frames; ++f) mono[f] = std::clamp((left[f] + right[f]) * 0.5f, -1.0f, 1.0f);
  }
  auto converted = resample(mono, sourceSampleRate);
  if (!converted) return std::nullopt;
  return toBytes(*converted);
}

std::optional<std::vector<uint8_t>> SamplerateUtil::convertToStereo16k(std::span<const uint8_t> data,
                                                                      int32_t sourceSampleRate,
                                                                      int32_t sourceChannels) {
  if (!validInput(data, sourceSampleRate, sourceChannels)) {
    Logger::shared().errorWithTag(kTag, "Invalid input for convertToStereo16k.");
    return std::nullopt;
  }
  const size_t frames = frameCount(data, sourceChannels);
  const std::vector<float> left = extractChannel(data, sourceChannels, 0, frames);
  const std::vector<float> right =
      sourceChannels == 1 ? left : extractChannel(data, sourceChannels, 1, frames);
  const std::vector<float> leftOut = resample(left, sourceSampleRate).value_or(std::vector<float>{});
  const std::vector<float> rightOut = resample(right, sourceSampleRate).value_or(std::vector<float>{});
  const size_t n = std::min(leftOut.size(), rightOut.size());
  std::vector<float> interleaved(n * 2);
  for (size_t i = 0; i < n; ++i) {
    interleaved[2 * i] = leftOut[i];
    interleaved[2 * i + 1] = rightOut[i];
  }
  return toBytes(interleaved);
}

}  // namespace quillon
