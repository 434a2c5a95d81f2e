#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_server.h"
#include "platform/microphone_permission.h"
#include "recording/mono16k_converter.h"
#include "recording/period_queue.h"
#include "recording/recording_capture.h"
#include "recording/timeline_aligner.h"
#include "recording/wav_util.h"

namespace quillon {

// Records the microphone for a recording: a record stream on the default
// input device in that device's own format. The stream's thread only queues
// each period for the recording's worker, which turns it into float mono
// 16 kHz with the capture's own streaming converter, places it on the
// recording's timeline and hands it to the audio callback. With stage audio kept, "mic_original.wav" (device rate and
// channels) and "mic.wav" (16 kHz mono) are written in the recording folder.
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
  void setAudioCallback(SampleCallback callback) override;
  void setRecordingClock(std::shared_ptr<const RecordingClock> clock) override;
  void setRecordingWorker(std::shared_ptr<RecordingWorker> worker) override;

  // The same as pause()/resume(), answering whether the state changed.
  bool pauseCapture();
  bool resumeCapture();
  bool isPaused() const { return _paused; }

  // Names of every device with at least one input channel.
  std::vector<std::string> getInputDevices();
  // Selects the input device by exact name; an empty name selects the
  // system's default input device, looked up again at every start.
  bool setInputDevice(const std::string& name);

  // One captured period in _audioFormat, as the stream hands it over: queued
  // for the worker (processed at once without one). Null data is a stretch
  // the server lost, taken as silence.
  void handleInputBuffer(const uint8_t* data, size_t bytes,
                         std::chrono::steady_clock::time_point capturedAt = std::chrono::steady_clock::now());

 private:
  // The worker's part: conversion, placement, stage files and the callback.
  void processPeriod(const PeriodQueue::Period& period);
  // Hands what the worker still holds to processPeriod, then lets the lane go.
  void closeLane();
  // Closes and deletes the stage files of a start that failed.
  void discardStageFiles();

  std::shared_ptr<AudioServer> server_;
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

  std::shared_ptr<RecordingWorker> worker_;
  RecordingWorker::Lane* lane_ = nullptr;  // while the stream runs with a worker

  std::mutex callbackMutex_;  // guards _audioCallback and the writers against the worker
  SampleCallback _audioCallback;
  std::shared_ptr<const RecordingClock> clock_;
  std::unique_ptr<TimelineAligner> aligner_;

  // Scratch of the worker, kept between periods.
  std::vector<float> floats_;
  std::vector<float> converted_;
  std::vector<int16_t> pcm_;
  std::vector<uint8_t> silence_;
  PeriodQueue::Period inline_;  // a period processed where it arrived (no worker)
};

}  // namespace quillon
