#include "recording/audio_mixer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "AudioMixer";
}

void AudioMixer::SampleQueue::appendBytes(const uint8_t* bytes, size_t sampleCount) {
  if (sampleCount == 0) return;
  const size_t old = _samples.size();
  _samples.resize(old + sampleCount);
  std::memcpy(_samples.data() + old, bytes, sampleCount * sizeof(float));
}

size_t AudioMixer::SampleQueue::appendSkippingZeros(const uint8_t* bytes, size_t sampleCount, size_t skip) {
  size_t skipped = 0;
  while (skipped < skip && skipped < sampleCount) {
    float v;
    std::memcpy(&v, bytes + skipped * sizeof(float), sizeof v);
    if (v != 0.0f) break;
    ++skipped;
  }
  appendBytes(bytes + skipped * sizeof(float), sampleCount - skipped);
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

AudioMixer::AudioMixer(bool expectMic) : _expectMic(expectMic) {}

void AudioMixer::setPcmCallback(AudioCallback callback) {
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

size_t AudioMixer::micQueuedSamples() const {
  std::lock_guard lock(_mutex);
  return _micBuffer.size();
}

size_t AudioMixer::speakerQueuedSamples() const {
  std::lock_guard lock(_mutex);
  return _speakerBuffer.size();
}

void AudioMixer::feedMicData(const ByteBuffer& data) {
  if (!_expectMic.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(_mutex);
  if (_fillingMic) {
    _fillingMic = false;
    _micPadToSkip = _silenceSamplesAdded;
    Logger::shared().info(kTag, "Microphone audio is back after %zu samples of silence", _silenceSamplesAdded);
  }
  const size_t count = data.size() / sizeof(float);
  const size_t skipped = _micBuffer.appendSkippingZeros(data.data(), count, _micPadToSkip);
  _micPadToSkip = skipped < count ? 0 : _micPadToSkip - skipped;
  fillSilentSource();
  tryMix();
}

void AudioMixer::feedSpeakerData(const ByteBuffer& data) {
  std::lock_guard lock(_mutex);
  if (_expectMic.load(std::memory_order_relaxed)) {
    if (_fillingSpeaker) {
      _fillingSpeaker = false;
      _speakerPadToSkip = _silenceSamplesAdded;
      Logger::shared().info(kTag, "Speaker audio is back after %zu samples of silence", _silenceSamplesAdded);
    }
    const size_t count = data.size() / sizeof(float);
    const size_t skipped = _speakerBuffer.appendSkippingZeros(data.data(), count, _speakerPadToSkip);
    _speakerPadToSkip = skipped < count ? 0 : _speakerPadToSkip - skipped;
    fillSilentSource();
    tryMix();
    return;
  }
  // Pass-through: a block of whole samples is handed on as it is, without a copy.
  if (data.size() % sizeof(float) == 0) {
    emit(data);
  } else {
    emit(ByteBuffer::copyOf(data.data(), data.size() - data.size() % sizeof(float)));
  }
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
  std::vector<uint8_t> mixed(_chunkSize * sizeof(float));
  // The output is written as floats into the byte vector; operator new
  // storage is suitably aligned for float.
  float* out = reinterpret_cast<float*>(mixed.data());
  mixAlignedMic({_micBuffer.front(), _chunkSize}, {_speakerBuffer.front() + _speakerDelaySamples, _chunkSize},
                {out, _chunkSize});
  _micBuffer.dropFront(_chunkSize);
  _speakerBuffer.dropFront(_chunkSize);
  emit(ByteBuffer(std::move(mixed)));
}

void AudioMixer::emit(const ByteBuffer& block) {
  _emittedSamples += block.size() / sizeof(float);
  if (_pcmCallback) _pcmCallback(block);
}

void AudioMixer::flushTo(size_t endSample) {
  std::lock_guard lock(_mutex);
  if (endSample <= _emittedSamples) return;
  // Whole chunks only, as every block the recording writes.
  const size_t wanted = (endSample - _emittedSamples + _chunkSize - 1) / _chunkSize * _chunkSize;
  if (!_expectMic.load(std::memory_order_relaxed)) {
    emit(ByteBuffer(std::vector<uint8_t>(wanted * sizeof(float), 0)));
    return;
  }
  if (_micBuffer.size() < wanted) _micBuffer.appendSilence(wanted - _micBuffer.size());
  if (_speakerBuffer.size() < wanted + _speakerDelaySamples) {
    _speakerBuffer.appendSilence(wanted + _speakerDelaySamples - _speakerBuffer.size());
  }
  const size_t stop = _emittedSamples + wanted;
  while (_emittedSamples < stop && _micBuffer.size() >= _chunkSize &&
         _speakerBuffer.size() >= _speakerDelaySamples + _chunkSize) {
    tryMixOne();
  }
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
