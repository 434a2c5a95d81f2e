#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "recording/samples.h"

namespace quillon {

// Joins the microphone and the computer's sound output ("speaker") into one
// stream of 40 ms chunks. Both inputs and the output are float mono 16 kHz
// samples.
//
// Microphone sample n is mixed with speaker sample n as 0.6 x mic + 0.4 x
// speaker, clamped to [-1, 1]: both captures already place their blocks on the
// recording's timeline (TimelineAligner), from the sound server's own timing,
// so equal indexes are equal instants and no fixed pairing offset is needed. While
// the microphone is switched off, speaker blocks go straight to the callback,
// unscaled.
//
// A source that stops delivering (an unplugged microphone, a capture that
// died) must not hold the recording back: once one queue is more than two
// seconds ahead of what the other can pair, the silent side is padded with
// silence so chunks keep flowing and memory stays bounded, until the silent
// side delivers again. One warning is logged per such stretch. When that side
// comes back, the silence its aligner put in front for the same stretch is
// skipped, so the missing time is counted once.
//
// Both captures feed it from the recording's worker; every append, mix and
// callback also runs under one lock, so a caller on another thread is safe
// and the callback is never entered twice at once. The callback must not call
// back into the mixer; the span it gets is valid during the call only.
class AudioMixer {
 public:
  static constexpr size_t kChunkSize = 640;
  static constexpr size_t kSpeakerDelaySamples = 0;
  // Two seconds at 16 kHz.
  static constexpr size_t kSilenceFillThreshold = 32000;

  explicit AudioMixer(bool expectMic);
  AudioMixer(const AudioMixer&) = delete;
  AudioMixer& operator=(const AudioMixer&) = delete;

  void setPcmCallback(SampleCallback callback);
  void feedMicData(std::span<const float> samples);
  void feedSpeakerData(std::span<const float> samples);
  void switchMicEnable(bool enable);

  // output[i] = clamp(mic[i] x 0.6 + speaker[i] x 0.4) for every index of mic;
  // speaker and output must be at least as long as mic.
  static void mixAlignedMic(std::span<const float> mic, std::span<const float> speaker,
                            std::span<float> output);

 private:
  // A FIFO of samples that consumes from the front without shifting on every
  // chunk: the consumed head is reclaimed once it outweighs what is left.
  class SampleQueue {
   public:
    size_t size() const { return _samples.size() - _head; }
    const float* front() const { return _samples.data() + _head; }
    void append(std::span<const float> samples);
    // Appends like append, first skipping up to `skip` leading samples that
    // are exactly zero; answers how many were skipped.
    size_t appendSkippingZeros(std::span<const float> samples, size_t skip);
    void appendSilence(size_t sampleCount);
    void dropFront(size_t sampleCount);

   private:
    std::vector<float> _samples;
    size_t _head = 0;
  };

  void tryMix();
  void tryMixOne();  // one chunk; both queues hold enough
  void fillSilentSource();
  void emit(std::span<const float> block);

  SampleQueue _micBuffer;
  SampleQueue _speakerBuffer;
  mutable std::mutex _mutex;
  SampleCallback _pcmCallback;
  std::vector<float> _mixed;  // one chunk, reused
  const size_t _chunkSize = kChunkSize;
  const size_t _speakerDelaySamples = kSpeakerDelaySamples;
  std::atomic<bool> _expectMic;
  // True while the named side is being padded with silence.
  bool _fillingMic = false;
  bool _fillingSpeaker = false;
  size_t _silenceSamplesAdded = 0;
  // Padding still to be matched against the returning side's leading silence.
  size_t _micPadToSkip = 0;
  size_t _speakerPadToSkip = 0;
};

}  // namespace quillon
