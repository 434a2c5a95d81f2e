#include "capture/speaker_capture.h"

#include <chrono>

#include "capture/audio_device_util.h"
#include "capture/device_switching.h"
#include "capture/stage_audio.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "speaker_capture";
constexpr double kCaptureRate = 44100.0;
// 20 ms periods: the pass-through can only be as close behind the
// applications as the periods it receives are short, and each period is a
// wake-up of the audio thread.
constexpr size_t kPeriodBytes = 3528;
// 40 ms of the capture format, what the recording side takes at a time: the
// pass-through takes every period at once, the recording a batch, which costs
// a quarter of the per-block work.
constexpr size_t kRecordingBatchBytes = 7056;

}  // namespace

AudioStreamBasicDescription SpeakerCapture::captureFormat() {
  return makeLinearPcmFormat(kCaptureRate, 2, 16, false);
}

std::shared_ptr<SpeakerCapture> SpeakerCapture::create(const std::string& blackHoleDriverPath, Options options) {
  std::shared_ptr<SpeakerCapture> capture(new SpeakerCapture(blackHoleDriverPath, std::move(options)));
  capture->_deviceSwitcher = std::make_shared<DeviceSwitching>(capture, capture->mainThread_, capture->server_);
  return capture;
}

SpeakerCapture::SpeakerCapture(const std::string& blackHoleDriverPath, Options options)
    : server_(options.server),
      mainThread_(std::move(options.mainThread)),
      output_(std::move(options.server), std::move(options.stateFolder)),
      _audioFormat(captureFormat()),
      _blackHoleDriverPath(blackHoleDriverPath),
      stream_({.tag = kTag,
               .audioName = "system audio",
               .originalStageName = "speaker_original.wav",
               .stageName = "speaker.wav",
               .periodBytes = kPeriodBytes,
               .batchBytes = kRecordingBatchBytes,
               .reportsPlacement = true,
               .beforeEachPeriod = [this] {
                 if (passThrough_) {
                   passThrough_->reportSkips();
                   passThrough_->keepShort(std::chrono::steady_clock::now());
                 }
               }}) {
  Logger::shared().infoWithTag(kTag, "Initializing SpeakerCapture...");
}

SpeakerCapture::~SpeakerCapture() { stopCapture(); }

bool SpeakerCapture::startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) {
  std::lock_guard control(controlMutex_);
  Logger::shared().infoWithTag(kTag, "Starting capture...");
  if (_running) return true;

  if (!output_.take(_audioFormat)) return false;
  _reserveStageAudio = reserveStageAudio;
  _recorderPath = recorderPath;

  // From here on every failure puts the output and the volume back.
  if (!setupCapture()) {
    restoreDevices(false);
    return false;
  }
  // Both streams run already: from the switch on, whatever the applications
  // play is recorded and passed on without a gap.
  if (!output_.switchToLoopback()) {
    restoreDevices(false);
    return false;
  }
  // Observed from after the capture's own switch to before its switch back.
  _deviceSwitcher->startObservingOutputDeviceChange();
  Logger::shared().infoWithTag(kTag, "Speaker capture started successfully");
  _paused = false;
  _running = true;
  return true;
}

bool SpeakerCapture::setupCapture() {
  const float loopbackVolume = output_.matchLoopbackToUser(_audioFormat);
  Logger::shared().info(kTag, "BlackHole device volume (ch1): %.3f", loopbackVolume);

  passThrough_ = std::make_unique<PassThrough>(server_, output_.userDevice(), _audioFormat);

  Logger::shared().info(kTag, "BlackHole actual sample rate: %.0f", AudioDeviceUtil::getSampleRate(*server_, output_.loopbackDevice()));
  if (!stream_.prepare(_audioFormat, _reserveStageAudio, _recorderPath)) return false;

  if (!passThrough_->start(loopbackVolume)) return false;

  AudioStatus status = AudioStatus::ok;
  if (!stream_.open(*server_, output_.loopbackDevice(),
                    [this](const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
                      handleInputData(data, bytes, capturedAt);
                    },
                    status)) {
    Logger::shared().error(kTag, "Loopback capture stream failed to start (status: %d)", statusCode(status));
    return false;
  }
  return true;
}

void SpeakerCapture::handleInputData(const uint8_t* data, size_t bytes,
                                     std::chrono::steady_clock::time_point capturedAt) {
  if (!stream_.takes(bytes)) return;
  // The user hears the period straight from here, never after the recording's work.
  if (data && passThrough_) passThrough_->push(data, bytes);
  stream_.push(data, bytes, capturedAt);
}

bool SpeakerCapture::pauseCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || _paused || !stream_.setPaused(true)) return false;
  _paused = true;
  return true;
}

bool SpeakerCapture::resumeCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || !_paused || !stream_.setPaused(false)) return false;
  _paused = false;
  return true;
}

void SpeakerCapture::stopCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running) return;
  Logger::shared().infoWithTag(kTag, "Stopping capture...");
  restoreDevices(true);
}

void SpeakerCapture::restoreDevices(bool stopping) {
  // The output goes back while the pass-through still plays, so the user
  // hears no gap: the applications' streams move back to the user's device
  // and the pass-through only plays out what it still holds.
  const bool switched = output_.held();
  _deviceSwitcher->stopObservingOutputDeviceChange();
  const bool restored = output_.putOutputBack();

  // Then the stream and the player stop, so no period or pull runs while the
  // files close and the volume changes.
  stream_.stop();
  if (passThrough_) passThrough_->stop();
  passThrough_.reset();

  _running = false;
  _paused = false;
  if (stopping) Logger::shared().infoWithTag(kTag, "Capture stopped");
  if (switched) Logger::shared().infoWithTag(kTag, "Restored original output device.");
  output_.release(restored);
}

bool SpeakerCapture::restoreOutputLeftOnLoopback(AudioServer& server, const std::string& stateFolder) {
  return OutputSwitch::restoreOutputLeftOnLoopback(server, stateFolder);
}

}  // namespace quillon
