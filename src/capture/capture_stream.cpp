#include "capture/capture_stream.h"

#include <filesystem>
#include <system_error>

#include "capture/stage_audio.h"
#include "logging/logger.h"

namespace quillon {
namespace {

// What the worker may fall behind before periods are dropped (counted as silence).
constexpr size_t kQueueSeconds = 12;
// A batch this long always yields converted samples; shorter ones may not.
constexpr size_t kShortestConvertibleBatch = 64;

bool isFloat32(const AudioStreamBasicDescription& f) {
  return (f.mFormatFlags & kAudioFormatFlagIsFloat) != 0 && f.mBitsPerChannel == 32;
}

}  // namespace

void CaptureStream::setAudioCallback(SampleCallback callback) {
  std::lock_guard lock(periodMutex_);
  callback_ = std::move(callback);
}

void CaptureStream::setRecordingClock(std::shared_ptr<const RecordingClock> clock) {
  std::lock_guard lock(periodMutex_);
  clock_ = std::move(clock);
}

size_t CaptureStream::bytesPerSecond() const {
  return static_cast<size_t>(format_.mSampleRate * format_.mBytesPerFrame);
}

bool CaptureStream::prepare(const AudioStreamBasicDescription& format, bool reserveStageAudio,
                            const std::optional<std::string>& folder) {
  const auto rate = static_cast<int32_t>(format.mSampleRate);
  const auto channels = static_cast<int32_t>(format.mChannelsPerFrame);
  auto converter = Mono16kConverter::create(rate, channels);
  if (!converter) return false;
  format_ = format;
  folder_ = folder;
  std::lock_guard lock(periodMutex_);
  converter_ = std::move(converter);
  aligner_ = std::make_unique<TimelineAligner>(clock_);
  batch_.clear();
  // The stage files exist before the first period arrives, so they hold
  // every sample the callback gets. They are diagnostics: one that cannot be
  // created is logged by WavUtil and never stops the recording itself.
  if (reserveStageAudio) {
    originalStage_ = openStageFile(folder, settings_.originalStageName, rate, channels);
    stage_ = openStageFile(folder, settings_.stageName, Mono16kConverter::kTargetRate, 1);
  }
  return true;
}

bool CaptureStream::open(AudioServer& server, AudioDeviceId device, AudioInputHandler handler, AudioStatus& status) {
  if (worker_) {
    lane_ = worker_->addLane(bytesPerSecond() * kQueueSeconds, bytesPerSecond(), format_.mBytesPerFrame,
                             [this](PeriodQueue::Period& period) { processPeriod(period); });
  }
  paused_ = false;
  stream_ = server.openRecordStream(device, format_, settings_.periodBytes, std::move(handler), status);
  if (stream_) return true;
  if (lane_) worker_->closeLane(lane_);
  lane_ = nullptr;
  return false;
}

void CaptureStream::push(const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
  if (!takes(bytes)) return;
  if (lane_) {
    lane_->push(data, bytes, capturedAt);
    return;
  }
  inline_.kind = data ? PeriodQueue::Kind::audio : PeriodQueue::Kind::hole;
  inline_.bytes = bytes;
  inline_.capturedAt = capturedAt;
  inline_.data.assign(data, data ? data + bytes : data);
  processPeriod(inline_);
}

void CaptureStream::processPeriod(const PeriodQueue::Period& period) {
  if (period.kind == PeriodQueue::Kind::dropped) {
    const size_t perSecond = bytesPerSecond();
    Logger::shared().warning(settings_.tag, "Recording fell behind: %.0f ms of %s dropped, counted as silence",
                             perSecond ? 1000.0 * static_cast<double>(period.stretchBytes) / perSecond : 0.0,
                             settings_.audioName);
  }
  if (settings_.beforeEachPeriod) settings_.beforeEachPeriod();

  std::lock_guard lock(periodMutex_);
  if (batch_.empty()) batchCapturedAt_ = period.capturedAt;
  if (period.kind == PeriodQueue::Kind::audio) {
    batch_.insert(batch_.end(), period.data.begin(), period.data.end());
  } else {
    // Time lost on the way: silence of the same length keeps the stream true.
    batch_.insert(batch_.end(), period.bytes, 0);
  }
  if (batch_.size() < settings_.batchBytes) return;
  deliverBatchLocked();
}

void CaptureStream::deliverBatchLocked() {
  if (isFloat32(format_)) {
    float32BytesToFloats(batch_, floats_);
  } else if (format_.mBitsPerChannel == 16) {
    pcm16BytesToFloats(batch_, floats_);
  } else {
    Logger::shared().warning(settings_.tag, "Unsupported format: bits=%d, flags=0x%x",
                             static_cast<int>(format_.mBitsPerChannel), format_.mFormatFlags);
    batch_.clear();
    return;
  }
  const size_t bytes = batch_.size();
  batch_.clear();
  if (originalStage_) writeFloatsAsPcm16(*originalStage_, floats_, pcm_);
  if (!converter_) return;
  converter_->process(floats_, converted_);
  if (converted_.empty()) {
    if (settings_.reportsPlacement && bytes >= kShortestConvertibleBatch) {
      Logger::shared().errorWithTag(settings_.tag, "Downsampled data is empty!");
    }
    return;
  }
  if (aligner_) {
    const auto placement = aligner_->align(converted_, batchCapturedAt_);
    if (settings_.reportsPlacement && placement.silenceBefore >= static_cast<size_t>(RecordingClock::kRate / 10)) {
      Logger::shared().info(settings_.tag, "System audio placed %.0f ms later on the recording's timeline",
                            static_cast<double>(placement.silenceBefore) * 1000.0 / RecordingClock::kRate);
    }
    if (converted_.empty()) return;
  }
  if (stage_) writeFloatsAsPcm16(*stage_, converted_, pcm_);
  if (callback_) callback_(converted_);
}

bool CaptureStream::setPaused(bool paused) {
  if (!stream_ || stream_->setPaused(paused) != AudioStatus::ok) return false;
  if (!paused) {
    std::lock_guard lock(periodMutex_);
    if (aligner_) aligner_->rebase();
  }
  paused_ = paused;
  return true;
}

void CaptureStream::stop() {
  // Once the stream has stopped no period arrives; what the worker still
  // holds is processed before the files close, so they are complete.
  if (stream_) stream_->stop();
  stream_.reset();
  if (lane_) worker_->closeLane(lane_);
  lane_ = nullptr;
  std::lock_guard lock(periodMutex_);
  if (!batch_.empty()) deliverBatchLocked();
  if (stage_) stage_->close();
  if (originalStage_) originalStage_->close();
  stage_.reset();
  originalStage_.reset();
  converter_.reset();
  aligner_.reset();
  paused_ = false;
}

void CaptureStream::discardStageFiles() {
  std::lock_guard lock(periodMutex_);
  if (!originalStage_ && !stage_) return;
  originalStage_.reset();
  stage_.reset();
  for (const char* name : {settings_.originalStageName, settings_.stageName}) {
    std::error_code error;
    std::filesystem::remove(std::filesystem::path(*folder_) / name, error);
  }
}

}  // namespace quillon
