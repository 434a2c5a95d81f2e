#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct SRC_STATE_tag;

namespace quillon {

// Streaming conversion of one capture's audio to the working format: float
// mono at 16 000 Hz. Each capture owns one converter for the whole capture and
// passes every period through process().
//
// Unlike SamplerateUtil's one-shot operations, the converter keeps
// libsamplerate's state between blocks: interpolation runs on across block
// edges, and over any run N input frames yield N x 16000 / rate output frames
// to within one frame, whatever the block sizes. (Converting each block alone
// rounds every block's frame count up, which makes a 48 kHz stream with
// 1024-frame periods run 0.2 % fast against the other source.)
//
// Input: interleaved float frames of `channels` samples. Blocks may hold any
// number of samples, including counts that split a frame: the samples of an
// incomplete trailing frame are kept for the next call. Two or more channels
// are down-mixed as (first + second) / 2, clamped to [-1, 1]; further
// channels are ignored; one channel is taken as it is.
//
// Not locked: one thread at a time (the recording's worker).
class Mono16kConverter {
 public:
  static constexpr int32_t kTargetRate = 16000;

  // Nothing (logged) when the rate or channel count is unusable.
  static std::unique_ptr<Mono16kConverter> create(int32_t sourceSampleRate, int32_t channels);
  ~Mono16kConverter();
  Mono16kConverter(const Mono16kConverter&) = delete;
  Mono16kConverter& operator=(const Mono16kConverter&) = delete;

  // The 16 kHz samples for the next part of the stream, into `out` (replaced;
  // may end up empty).
  void process(std::span<const float> interleaved, std::vector<float>& out);

 private:
  Mono16kConverter(int32_t sourceSampleRate, int32_t channels, SRC_STATE_tag* state);
  void downMix(const float* frames, size_t count);

  int32_t _sourceSampleRate;
  int32_t _channels;
  double _ratio;
  SRC_STATE_tag* _state;
  std::vector<float> _partialFrame;  // fewer samples than one frame
  std::vector<float> _mono;          // scratch, reused between calls
};

}  // namespace quillon
