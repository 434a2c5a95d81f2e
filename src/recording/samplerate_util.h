#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillon {

// One-shot conversion of a block of interleaved 32-bit float samples to 16 kHz
// with libsamplerate's linear converter. Each block is converted on its own
// with end of input set, so consecutive blocks do not join seamlessly: for a
// live capture use Mono16kConverter instead, which keeps state between blocks.
//
// A frame is one sample per channel; bytes of an incomplete trailing sample or
// frame are ignored. Only the first two channels take part.
class SamplerateUtil {
 public:
  static constexpr int32_t kTargetRate = 16000;

  // Mono float samples at 16 kHz; nothing (logged) on invalid arguments or a
  // converter error. Two or more channels are down-mixed as (L + R) / 2,
  // clamped to [-1, 1]; a single channel is taken unclamped.
  static std::optional<std::vector<uint8_t>> convertToMono16k(std::span<const uint8_t> data, int32_t sourceSampleRate,
                                                             int32_t sourceChannels);

  // Interleaved left/right float samples at 16 kHz; nothing on invalid
  // arguments, an empty buffer when a channel fails to convert. A one-channel
  // source feeds both sides.
  static std::optional<std::vector<uint8_t>> convertToStereo16k(std::span<const uint8_t> data,
                                                               int32_t sourceSampleRate, int32_t sourceChannels);

  // Room the converter is given for F source frames: the integer part of
  // F x ratio + 1.
  static long outputCapacity(long sourceFrames, double ratio);
};

}  // namespace quillon
