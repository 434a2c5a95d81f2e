#include "recording/audio_mixer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "AudioMixer";
}

void AudioMixer::SampleQueue::append(std::span<const float> samples) {
  _samples.insert(_samples.end(), samples.begin(), samples.end());
}

size_t AudioMixer::SampleQueue::appendSkippingZeros(std::span<const float> samples, size_t skip) {
  size_t skipped = 0;
  while (skipped < skip && skipped < samples.size() && samples[skipped] == 0.0f) ++skipped;
  append(samples.subspan(skipped));
  return skipped;
}

void AudioMixer::SampleQueue::appendSilence(size_t sampleCount) {
  _samples.resize(_samples.size() + sampleCount, 0.0f);
}

void AudioMixer::SampleQueue::dropFront(size_t sampleCount) {
  _head += sampleCount;
  if (_head == _samples.size()) {
    _samples.clear();
    _head = 0;
  } else if (_head >= 4096 && _head >= size()) {
    _samples.erase(_samples.begin(), _samples.begin() + static_cast<std::ptrdiff_t>(_head));
    _head = 0;
  }
}

AudioMixer::AudioMixer(bool expectMic) : _mixed(kChunkSize), _expectMic(expectMic) {}

void AudioMixer::setPcmCallback(SampleCallback callback) {
  std::lock_guard lock(_mutex);
  _pcmCallback = std::move(callback);
}

void AudioMixer::switchMicEnable(bool enable) {
  std::lock_guard lock(_mutex);
  // A microphone that rejoins starts pairing with the speaker audio of the
  // moment it rejoins: the silence its capture put in front for the time it
  // was off is not the recording's.
  if (enable && !_expectMic.load(std::memory_order_relaxed)) _micPadToSkip = SIZE_MAX;
  _expectMic.store(enable, std::memory_order_relaxed);
}

void AudioMixer::feedMicData(std::span<const float> samples) {
  if (!_expectMic.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(_mutex);
  if (_fillingMic) {
    _fillingMic = false;
    _micPadToSkip = _silenceSamplesAdded;
    Logger::shared().info(kTag, "Microphone audio is back after %zu samples of silence", _silenceSamplesAdded);
  }
  const size_t count = samples.size();
  const size_t skipped = _micBuffer.appendSkippingZeros(samples, _micPadToSkip);
  _micPadToSkip = skipped < count ? 0 : _micPadToSkip - skipped;
  fillSilentSource();
  tryMix();
}

void AudioMixer::feedSpeakerData(std::span<const float> samples) {
  std::lock_guard lock(_mutex);
  if (_expectMic.load(std::memory_order_relaxed)) {
    if (_fillingSpeaker) {
      _fillingSpeaker = false;
      _speakerPadToSkip = _silenceSamplesAdded;
      Logger::shared().info(kTag, "Speaker audio is back after %zu samples of silence", _silenceSamplesAdded);
    }
    const size_t count = samples.size();
    const size_t skipped = _speakerBuffer.appendSkippingZeros(samples, _speakerPadToSkip);
    _speakerPadToSkip = skipped < count ? 0 : _speakerPadToSkip - skipped;
    fillSilentSource();
    tryMix();
    return;
  }
  // Without the microphone the block is handed on as it is, without a copy.
  emit(samples);
}

void AudioMixer::fillSilentSource() {
  const size_t mic = _micBuffer.size();
  const size_t speaker = _speakerBuffer.size();
  const size_t speakerPairable = speaker > _speakerDelaySamples ? speaker - _speakerDelaySamples : 0;
  if (mic > speakerPairable) {
    if (!_fillingSpeaker && mic - speakerPairable <= kSilenceFillThreshold) return;
    if (!_fillingSpeaker) {
      _fillingSpeaker = true;
      _silenceSamplesAdded = 0;
      Logger::shared().warning(kTag, "Speaker audio stopped arriving; filling it with silence");
    }
    const size_t missing = mic + _speakerDelaySamples - speaker;
    _speakerBuffer.appendSilence(missing);
    _silenceSamplesAdded += missing;
  } else if (speakerPairable > mic) {
    if (!_fillingMic && speakerPairable - mic <= kSilenceFillThreshold) return;
    if (!_fillingMic) {
      _fillingMic = true;
      _silenceSamplesAdded = 0;
      Logger::shared().warning(kTag, "Microphone audio stopped arriving; filling it with silence");
    }
    const size_t missing = speakerPairable - mic;
    _micBuffer.appendSilence(missing);
    _silenceSamplesAdded += missing;
  }
}

void AudioMixer::tryMix() {
  while (_micBuffer.size() >= _chunkSize && _speakerBuffer.size() >= _speakerDelaySamples + _chunkSize) {
    tryMixOne();
  }
}

void AudioMixer::tryMixOne() {
  mixAlignedMic({_micBuffer.front(), _chunkSize}, {_speakerBuffer.front() + _speakerDelaySamples, _chunkSize},
                _mixed);
  _micBuffer.dropFront(_chunkSize);
  _speakerBuffer.dropFront(_chunkSize);
  emit(_mixed);
}

void AudioMixer::emit(std::span<const float> block) {
  if (_pcmCallback) _pcmCallback(block);
}

void AudioMixer::mixAlignedMic(std::span<const float> mic, std::span<const float> speaker, std::span<float> output) {
  constexpr float kMicGain = 0.6f;
  constexpr float kSpeakerGain = 0.4f;
  const size_t count = std::min({mic.size(), speaker.size(), output.size()});
  for (size_t i = 0; i < count; ++i) {
    const float micPart = mic[i] * kMicGain;
    const float speakerPart = speaker[i] * kSpeakerGain;
    const float v = micPart + speakerPart;
    output[i] = v < -1.0f ? -1.0f : std::min(v, 1.0f);
  }
}

}  // namespace quillon
