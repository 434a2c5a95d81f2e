#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_stream.h"
#include "platform/audio_server.h"
#include "platform/microphone_permission.h"
#include "recording/recording_capture.h"

namespace quillon {

// Records the microphone for a recording: a record stream on the default
// input device in that device's own format, through a CaptureStream. With
// stage audio kept, "mic_original.wav" (device rate and channels) and
// "mic.wav" (16 kHz mono) are written in the recording folder.
// Logs under the tag "MicCapture".
class MicCapture final : public RecordingCapture {
 public:
  // `permission` null: DeviceUtil's permission source.
  explicit MicCapture(std::shared_ptr<AudioServer> server, std::shared_ptr<MicrophonePermission> permission = nullptr);
  ~MicCapture() override;
  MicCapture(const MicCapture&) = delete;
  MicCapture& operator=(const MicCapture&) = delete;

  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override;
  bool isRunning() const override { return _running; }
  void pause() override { pauseCapture(); }
  void resume() override { resumeCapture(); }
  void stopCapture() override;
  void setAudioCallback(SampleCallback callback) override { stream_.setAudioCallback(std::move(callback)); }
  void setRecordingClock(std::shared_ptr<const RecordingClock> clock) override {
    stream_.setRecordingClock(std::move(clock));
  }
  void setRecordingWorker(std::shared_ptr<RecordingWorker> worker) override {
    stream_.setRecordingWorker(std::move(worker));
  }

  // The same as pause()/resume(), answering whether the state changed.
  bool pauseCapture();
  bool resumeCapture();

  // Names of every device with at least one input channel.
  std::vector<std::string> getInputDevices();
  // Selects the input device by exact name; an empty name selects the
  // system's default input device, looked up again at every start.
  bool setInputDevice(const std::string& name);

  // One captured period in _audioFormat, as the stream hands it over. Null
  // data is a stretch the server lost, taken as silence.
  void handleInputBuffer(const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
    stream_.push(data, bytes, capturedAt);
  }

 private:
  std::shared_ptr<AudioServer> server_;
  std::shared_ptr<MicrophonePermission> permission_;

  AudioDeviceId _inputDevice = kNoAudioDevice;
  bool _inputIsDefault = true;
  AudioStreamBasicDescription _audioFormat{};
  std::atomic<bool> _running{false};
  std::atomic<bool> _paused{false};
  CaptureStream stream_;
};

}  // namespace quillon
