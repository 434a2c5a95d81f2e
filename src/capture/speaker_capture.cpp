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
// The pass-through queue is held between these (40 to 100 ms of audio): deep
// enough for the player's pulls, shallow enough that a burst from a server
// that woke late never leaves the user listening seconds behind.
constexpr size_t kPassThroughMaxBytes = 17640;
constexpr size_t kPassThroughKeepBytes = 7056;
// 40 ms of the capture format, what the recording side takes at a time.
constexpr size_t kRecordingBatchBytes = 7056;
// A pass-through gain above this would only amplify the noise of a sink set
// almost silent; the user's device volume is that low then anyway.
constexpr float kMaxPassThroughGain = 10.0f;
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

  _buffer = std::make_shared<PassThroughFifo>();
  std::shared_ptr<PassThroughFifo> fifo = _buffer;
  _playerUtil = std::make_unique<PlayerUtil>(
      output_.userDevice(), _audioFormat, [fifo](uint8_t* out, uint32_t bytes) { return fifo->take(out, bytes); }, server_);

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

  if (!_playerUtil->start()) {
    Logger::shared().errorWithTag(kTag, "PlayerUtil failed to start!");
    return false;
  }
  // The loopback's volume is already in what the monitor delivers: the
  // pass-through undoes it, and the user's own device volume applies once.
  const float gain = loopbackVolume > 1.0f / kMaxPassThroughGain ? 1.0f / loopbackVolume : kMaxPassThroughGain;
  const bool gainSet = _playerUtil->setVolume(gain);
  Logger::shared().info(kTag, "Set Player volume (ch1) to %.3f: %s", gain, gainSet ? "success" : "fail");
  Logger::shared().infoWithTag(kTag, "PlayerUtil started successfully");

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
  if (data && _buffer) {
    size_t held = 0;
    if (_buffer->append(data, bytes, held)) {
      _buffer->trim(kPassThroughMaxBytes, kPassThroughKeepBytes);
    } else {
      // The player is not keeping up: the pass-through skips the period, but
      // the recording keeps it. Said by the worker, not here.
      if (passThroughSkips_.load(std::memory_order_relaxed) == 0) {
        firstSkip_.store(static_cast<uint64_t>(held) << 32 | (bytes & 0xFFFFFFFFu), std::memory_order_relaxed);
      }
      passThroughSkips_.fetch_add(1, std::memory_order_release);
    }
  }
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
  const uint64_t skips = passThroughSkips_.exchange(0, std::memory_order_acquire);
  if (skips > 0 && !overflowing_) {
    const uint64_t first = firstSkip_.load(std::memory_order_relaxed);
    Logger::shared().warning(kTag, "Speaker buffer too large (%lu), dropping %lu bytes",
                             static_cast<unsigned long>(first >> 32), static_cast<unsigned long>(first & 0xFFFFFFFFu));
  }
  overflowing_ = skips > 0;

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
  if (_playerUtil) _playerUtil->stop();
  _playerUtil.reset();
  if (_buffer) _buffer->clear();
  _buffer.reset();

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
