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
// 40 ms of the capture format, what the recording side takes at a time.
constexpr size_t kRecordingBatchBytes = 7056;
// A period this long always yields converted samples; shorter ones may not.
constexpr size_t kShortestConvertiblePeriod = 64;
// What the worker may fall behind before periods are dropped (counted as silence).
constexpr size_t kBytesPerSecond = 176400;
constexpr size_t kQueueBytes = 12 * kBytesPerSecond;

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
      _blackHoleDriverPath(blackHoleDriverPath) {
  Logger::shared().infoWithTag(kTag, "Initializing SpeakerCapture...");
}

SpeakerCapture::~SpeakerCapture() { stopCapture(); }

void SpeakerCapture::setAudioCallback(SampleCallback callback) {
  std::lock_guard lock(periodMutex_);
  _audioCallback = std::move(callback);
}

void SpeakerCapture::setRecordingClock(std::shared_ptr<const RecordingClock> clock) {
  std::lock_guard lock(periodMutex_);
  clock_ = std::move(clock);
}

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
  auto converter = Mono16kConverter::create(static_cast<int32_t>(_audioFormat.mSampleRate),
                                            static_cast<int32_t>(_audioFormat.mChannelsPerFrame));
  if (!converter) return false;
  {
    std::lock_guard lock(periodMutex_);
    converter_ = std::move(converter);
    aligner_ = std::make_unique<TimelineAligner>(clock_);
    // Stage files are diagnostics: one that cannot be created is logged by
    // WavUtil and never stops the recording itself.
    if (_reserveStageAudio) {
      _wavOriginalUtil = openStageFile(_recorderPath, "speaker_original.wav",
                                       static_cast<int32_t>(_audioFormat.mSampleRate),
                                       static_cast<int32_t>(_audioFormat.mChannelsPerFrame));
      _wavUtil = openStageFile(_recorderPath, "speaker.wav", Mono16kConverter::kTargetRate, 1);
    }
  }

  if (!passThrough_->start(loopbackVolume)) return false;

  if (worker_) {
    lane_ = worker_->addLane(kQueueBytes, kBytesPerSecond, _audioFormat.mBytesPerFrame,
                             [this](PeriodQueue::Period& period) { processPeriod(period); });
  }
  AudioStatus status = AudioStatus::ok;
  _audioUnit = server_->openRecordStream(
      output_.loopbackDevice(), _audioFormat, kPeriodBytes,
      [this](const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
        handleInputData(data, bytes, capturedAt);
      },
      status);
  if (!_audioUnit) {
    Logger::shared().error(kTag, "Loopback capture stream failed to start (status: %d)", statusCode(status));
    return false;
  }
  return true;
}

void SpeakerCapture::handleInputData(const uint8_t* data, size_t bytes,
                                     std::chrono::steady_clock::time_point capturedAt) {
  if (_paused || bytes == 0) return;
  // The user hears the period straight from here, never after the recording's work.
  if (data && passThrough_) passThrough_->push(data, bytes);
  if (lane_) {
    lane_->push(data, bytes, capturedAt);
  } else {
    inline_.kind = data ? PeriodQueue::Kind::audio : PeriodQueue::Kind::hole;
    inline_.bytes = bytes;
    inline_.capturedAt = capturedAt;
    inline_.data.assign(data, data ? data + bytes : data);
    processPeriod(inline_);
  }
}

void SpeakerCapture::closeLane() {
  if (!lane_) return;
  worker_->closeLane(lane_);
  lane_ = nullptr;
}

void SpeakerCapture::processPeriod(const PeriodQueue::Period& period) {
  if (period.kind == PeriodQueue::Kind::dropped) {
    Logger::shared().warning(kTag, "Recording fell behind: %.0f ms of system audio dropped, counted as silence",
                             1000.0 * static_cast<double>(period.stretchBytes) / kBytesPerSecond);
  }
  if (passThrough_) passThrough_->reportSkips();

  // The pass-through takes every period at once; the recording takes them
  // 40 ms at a time, which costs a quarter of the per-block work.
  std::lock_guard lock(periodMutex_);
  if (batch_.empty()) batchCapturedAt_ = period.capturedAt;
  if (period.kind == PeriodQueue::Kind::audio) {
    batch_.insert(batch_.end(), period.data.begin(), period.data.end());
  } else {
    batch_.insert(batch_.end(), period.bytes, 0);
  }
  if (batch_.size() < kRecordingBatchBytes) return;
  deliverBatchLocked();
}

void SpeakerCapture::deliverBatchLocked() {
  pcm16BytesToFloats(batch_, floats_);
  const size_t bytes = batch_.size();
  batch_.clear();
  if (_wavOriginalUtil) writeFloatsAsPcm16(*_wavOriginalUtil, floats_, pcm_);
  if (!converter_) return;
  converter_->process(floats_, converted_);
  if (converted_.empty()) {
    if (bytes >= kShortestConvertiblePeriod) Logger::shared().errorWithTag(kTag, "Downsampled data is empty!");
    return;
  }
  if (aligner_) {
    const auto placement = aligner_->align(converted_, batchCapturedAt_);
    if (placement.silenceBefore >= static_cast<size_t>(RecordingClock::kRate / 10)) {
      Logger::shared().info(kTag, "System audio placed %.0f ms later on the recording's timeline",
                            static_cast<double>(placement.silenceBefore) * 1000.0 / RecordingClock::kRate);
    }
    if (converted_.empty()) return;
  }
  if (_wavUtil) writeFloatsAsPcm16(*_wavUtil, converted_, pcm_);
  if (_audioCallback) _audioCallback(converted_);
}

bool SpeakerCapture::pauseCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || _paused || !_audioUnit) return false;
  if (_audioUnit->setPaused(true) != AudioStatus::ok) return false;
  _paused = true;
  return true;
}

bool SpeakerCapture::resumeCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || !_paused || !_audioUnit) return false;
  if (_audioUnit->setPaused(false) != AudioStatus::ok) return false;
  {
    std::lock_guard lock(periodMutex_);
    if (aligner_) aligner_->rebase();
  }
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
  if (_audioUnit) _audioUnit->stop();
  _audioUnit.reset();
  closeLane();
  {
    std::lock_guard lock(periodMutex_);
    if (!batch_.empty()) deliverBatchLocked();
    if (_wavUtil) _wavUtil->close();
    if (_wavOriginalUtil) _wavOriginalUtil->close();
    _wavUtil.reset();
    _wavOriginalUtil.reset();
    converter_.reset();
    aligner_.reset();
  }
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
