#include "recording/audio_factory.h"

#include <cstring>
#include <vector>

#include "logging/logger.h"
#include "recording/pcm16.h"
#include "recording/source_levels.h"

namespace quillon {

namespace {
constexpr const char* kTag = "audio_factory";
constexpr int32_t kRate = 16000;
}  // namespace

AudioFactory::AudioFactory(const std::string& wavFilePath, const std::string& opusFilePath, bool recorderMic)
    : _wavFilePath(wavFilePath), _recorderMic(recorderMic) {
  _wavUtil = std::make_unique<WavUtil>(wavFilePath, kRate, 1, 16);
  _opusUtil = OpusUtil::create(kRate, 1);
  if (_opusUtil) _opusUtil->openWithPath(opusFilePath);
  _audioMixer = std::make_unique<AudioMixer>(recorderMic);
  Logger::shared().info(kTag, "Initializing AudioFactory with wavPath=%s, opusPath=%s", wavFilePath.c_str(),
                        opusFilePath.c_str());
  // The mixer lives and dies with the factory, so it may point back at it.
  _audioMixer->setPcmCallback([this](std::span<const float> samples) { handleMixedOutput(samples); });
}

AudioFactory::~AudioFactory() = default;

std::shared_ptr<AudioFactory> AudioFactory::create(const std::string& wavFilePath, const std::string& opusFilePath,
                                                   bool recorderMic, AudioCaptureSource& micCapture,
                                                   AudioCaptureSource& speakerCapture) {
  std::shared_ptr<AudioFactory> factory(new AudioFactory(wavFilePath, opusFilePath, recorderMic));
  micCapture.setAudioCallback([factory](std::span<const float> block) {
    sourceLevels().microphone.store(blockPeak(block), std::memory_order_relaxed);
    factory->_audioMixer->feedMicData(block);
  });
  speakerCapture.setAudioCallback([factory](std::span<const float> block) {
    sourceLevels().systemAudio.store(blockPeak(block), std::memory_order_relaxed);
    factory->_audioMixer->feedSpeakerData(block);
  });
  return factory;
}

void AudioFactory::setPcmCallback(AudioCallback callback) {
  auto slot = callback ? std::make_shared<const AudioCallback>(std::move(callback)) : nullptr;
  std::lock_guard lock(_callbackMutex);
  _pcmCallback = std::move(slot);
}

void AudioFactory::setOpusCallback(AudioCallback callback) {
  auto slot = callback ? std::make_shared<const AudioCallback>(std::move(callback)) : nullptr;
  std::lock_guard lock(_callbackMutex);
  _opusCallback = std::move(slot);
}

void AudioFactory::switchMicEnable(bool enable) {
  {
    std::lock_guard lock(_mutex);
    _recorderMic = enable;
  }
  _audioMixer->switchMicEnable(enable);
}

void AudioFactory::handleMixedOutput(std::span<const float> samples) {
  std::lock_guard lock(_mutex);
  if (_closed) return;
  const size_t count = samples.size();
  // The one 16-bit conversion; the block is then shared, never copied.
  std::vector<uint8_t> pcmBytes(count * sizeof(int16_t));
  for (size_t i = 0; i < count; ++i) {
    const int16_t value = floatToPcm16(samples[i]);
    std::memcpy(pcmBytes.data() + i * sizeof(int16_t), &value, sizeof value);
  }
  const ByteBuffer pcm(std::move(pcmBytes));
  _wavUtil->writeSamples(reinterpret_cast<const int16_t*>(pcm.data()), count);

  std::shared_ptr<const AudioCallback> pcmCallback;
  {
    std::lock_guard slots(_callbackMutex);
    pcmCallback = _pcmCallback;
  }
  if (pcmCallback) (*pcmCallback)(pcm);

  size_t offset = 0;
  while (offset < pcm.size()) {
    const size_t take = std::min(kOpusFrameBytes - _opusFrameFill, pcm.size() - offset);
    std::memcpy(_opusFrameBuffer.data() + _opusFrameFill, pcm.data() + offset, take);
    _opusFrameFill += take;
    offset += take;
    if (_opusFrameFill == kOpusFrameBytes) encodePendingFrame();
  }
}

void AudioFactory::encodePendingFrame() {
  _opusFrameFill = 0;
  if (!_opusUtil) return;
  std::vector<uint8_t> framed = _opusUtil->encodeFrame(_opusFrameBuffer);
  if (framed.empty()) return;
  const ByteBuffer packet(std::move(framed));
  std::shared_ptr<const AudioCallback> opusCallback;
  {
    std::lock_guard slots(_callbackMutex);
    opusCallback = _opusCallback;
  }
  if (opusCallback) (*opusCallback)(packet);
  _opusUtil->writeFrame(packet.span());
}

CloseSummary AudioFactory::close() {
  std::lock_guard lock(_mutex);
  if (_closed) return CloseSummary{};
  const CloseSummary summary = _wavUtil->close();
  if (_opusUtil) _opusUtil->reset();
  Logger::shared().infoWithTag(kTag, "Closing AudioFactory and releasing resources");
  {
    std::lock_guard slots(_callbackMutex);
    _pcmCallback.reset();
    _opusCallback.reset();
  }
  _opusFrameFill = 0;
  _closed = true;
  return summary;
}

}  // namespace quillon
