#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "recording/audio_capture_source.h"
#include "recording/audio_mixer.h"
#include "recording/byte_buffer.h"
#include "recording/close_summary.h"
#include "recording/opus_util.h"
#include "recording/wav_util.h"

namespace quillon {

// The processing chain of one recording: the two captures feed a mixer, and
// every mixed block becomes 16-bit PCM (16 kHz mono) that is appended to the
// WAV file, handed to the PCM callback, and gathered into 40 ms frames that are
// Opus-encoded; each framed packet goes to the Opus callback first and then
// into the Opus frame file.
//
// While the microphone takes part every PCM block is 1280 bytes (one mixed
// 40 ms chunk); while it does not, blocks have the system audio's block size.
//
// Everything downstream of the mixer runs on the recording's worker (see
// RecordingWorker). The float samples become 16-bit once, and that one block is
// what the WAV file, the PCM callback and the Opus frames all take.
//
// Both files are written through their stream buffers and pushed to the
// system together about once a second of audio (the WAV header's sizes
// refreshed at the same time), so a killed process leaves a valid WAV file and
// whole Opus records, short of at most the last second.
//
// The callback slots may be set from any thread at any time; a callback set
// late receives what is produced from then on. close() waits for a block being
// handled; blocks arriving after it go nowhere.
class AudioFactory : public std::enable_shared_from_this<AudioFactory> {
 public:
  static constexpr size_t kOpusFrameBytes = 1280;

  // Creates the WAV and Opus files and the mixer and hooks onto both captures.
  // The captures' callbacks keep the factory alive as long as they hold them.
  // A file that cannot be created is logged and its output skipped.
  static std::shared_ptr<AudioFactory> create(const std::string& wavFilePath, const std::string& opusFilePath,
                                              bool recorderMic, AudioCaptureSource& micCapture,
                                              AudioCaptureSource& speakerCapture);
  ~AudioFactory();
  AudioFactory(const AudioFactory&) = delete;
  AudioFactory& operator=(const AudioFactory&) = delete;

  void setPcmCallback(AudioCallback callback);
  void setOpusCallback(AudioCallback callback);
  void switchMicEnable(bool enable);
  // Completes the WAV file, closes the Opus file and answers the WAV summary.
  // PCM short of a whole Opus frame (under 40 ms) and samples still queued in
  // the mixer are dropped.
  CloseSummary close();

 private:
  AudioFactory(const std::string& wavFilePath, const std::string& opusFilePath, bool recorderMic);
  void handleMixedOutput(std::span<const float> samples);
  void encodePendingFrame();

  const std::string _wavFilePath;
  bool _recorderMic;
  std::unique_ptr<WavUtil> _wavUtil;
  std::unique_ptr<OpusUtil> _opusUtil;
  std::unique_ptr<AudioMixer> _audioMixer;
  // One frame being gathered; a fixed array, since a frame never outgrows it.
  std::array<uint8_t, kOpusFrameBytes> _opusFrameBuffer{};
  size_t _opusFrameFill = 0;
  bool _closed = false;
  // Guards the writers, the frame buffer and _closed against close().
  mutable std::mutex _mutex;

  std::mutex _callbackMutex;
  std::shared_ptr<const AudioCallback> _pcmCallback;
  std::shared_ptr<const AudioCallback> _opusCallback;
};

}  // namespace quillon
