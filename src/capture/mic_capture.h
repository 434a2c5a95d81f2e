#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_hardware.h"
#include "platform/microphone_permission.h"
#include "recording/mono16k_converter.h"
#include "recording/recording_capture.h"
#include "recording/timeline_aligner.h"
#include "recording/wav_util.h"

namespace quillon {

// Records the microphone for a recording: a record stream on the default
// input device in that device's own format, every period turned into float
// mono 16 kHz by the capture's own streaming converter and handed to the audio
// callback. With stage audio kept, "mic_original.wav" (device rate and
// channels) and "mic.wav" (16 kHz mono) are written in the recording folder.
// Logs under the tag "MicCapture".
class MicCapture final : public RecordingCapture {
 public:
  // Null arguments: the installed hardware and DeviceUtil's permission source.
  explicit MicCapture(std::shared_ptr<AudioHardware> hardware = nullptr,
                      std::shared_ptr<MicrophonePermission> permission = nullptr);
  ~MicCapture() override;
  MicCapture(const MicCapture&) = delete;
  MicCapture& operator=(const MicCapture&) = delete;

  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override;
  bool isRunning() const override { return _running; }
  void pause() override { pauseCapture(); }
  void resume() override { resumeCapture(); }
  void stopCapture() override;
  void setAudioCallback(AudioCallback callback) override;
  void setRecordingClock(std::shared_ptr<const RecordingClock> clock) override;

  // The same as pause()/resume(), answering whether the state changed.
  bool pauseCapture();
  bool resumeCapture();
  bool isPaused() const { return _paused; }

  // Names of every device with at least one input channel.
  std::vector<std::string> getInputDevices();
  // Selects the input device by exact name; an empty name selects the
  // system's default input device, looked up again at every start.
  bool setInputDevice(const std::string& name);

  // Processes one captured period in _audioFormat (the stream's thread);
  // null data is a stretch the server lost, taken as silence.
  void handleInputBuffer(const uint8_t* data, size_t bytes,
                         std::chrono::steady_clock::time_point capturedAt = std::chrono::steady_clock::now());

 private:
  // Closes and deletes the stage files of a start that failed.
  void discardStageFiles();

  std::shared_ptr<AudioHardware> hardware_;
  std::shared_ptr<MicrophonePermission> permission_;

  std::unique_ptr<AudioStream> _audioQueue;
  AudioDeviceId _inputDevice = kNoAudioDevice;
  bool _inputIsDefault = true;
  AudioStreamBasicDescription _audioFormat{};
  std::atomic<bool> _running{false};
  std::atomic<bool> _paused{false};
  std::optional<std::string> _recorderPath;
  bool _reserveStageAudio = false;
  std::unique_ptr<WavUtil> _wavUtil;
  std::unique_ptr<WavUtil> _wavOriginalUtil;
  std::unique_ptr<Mono16kConverter> converter_;

  std::mutex callbackMutex_;  // guards _audioCallback against the stream's thread
  AudioCallback _audioCallback;
  std::shared_ptr<const RecordingClock> clock_;
  std::unique_ptr<TimelineAligner> aligner_;

  // Scratch of the stream's thread, kept between periods.
  std::vector<float> floats_;
  std::vector<int16_t> pcm_;
  std::vector<uint8_t> silence_;
};

}  // namespace quillon
