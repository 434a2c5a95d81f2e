#include "capture/mic_capture.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "capture/audio_devices.h"
#include "capture/device_util.h"
#include "capture/stage_audio.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "MicCapture";
// About 4096 bytes a period, as the server can deliver them.
constexpr size_t kPeriodBytes = 4096;
// What the worker may fall behind before periods are dropped (counted as silence).
constexpr size_t kQueueSeconds = 12;

bool isFloat32(const AudioStreamBasicDescription& f) {
  return (f.mFormatFlags & kAudioFormatFlagIsFloat) != 0 && f.mBitsPerChannel == 32;
}

bool isInt16(const AudioStreamBasicDescription& f) {
  return (f.mFormatFlags & kAudioFormatFlagIsFloat) == 0 && f.mBitsPerChannel == 16;
}

}  // namespace

MicCapture::MicCapture(std::shared_ptr<AudioServer> server, std::shared_ptr<MicrophonePermission> permission)
    : server_(std::move(server)),
      permission_(permission ? std::move(permission) : DeviceUtil::permissionProvider()) {}

MicCapture::~MicCapture() {
  stopCapture();
  std::lock_guard lock(callbackMutex_);
  if (_wavOriginalUtil) _wavOriginalUtil->close();
  if (_wavUtil) _wavUtil->close();
}

void MicCapture::setRecordingWorker(std::shared_ptr<RecordingWorker> worker) { worker_ = std::move(worker); }

void MicCapture::setAudioCallback(SampleCallback callback) {
  std::lock_guard lock(callbackMutex_);
  _audioCallback = std::move(callback);
}

void MicCapture::setRecordingClock(std::shared_ptr<const RecordingClock> clock) {
  std::lock_guard lock(callbackMutex_);
  clock_ = std::move(clock);
}

bool MicCapture::startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) {
  if (_running) return true;
  Logger::shared().info(kTag, "Start mic capture, reserveStageAudio=%d, recorderPath=%s",
                        reserveStageAudio ? 1 : 0, recorderPath ? recorderPath->c_str() : "(null)");
  _reserveStageAudio = reserveStageAudio;
  _recorderPath = recorderPath;

  const auto state = permission_->state();
  Logger::shared().info(kTag, "Mic access status: %ld", static_cast<long>(state));
  if (state == MicrophonePermissionState::notDetermined) {
    Logger::shared().infoWithTag(kTag, "[Permission] Requesting microphone access (first time)");
    const bool granted = permission_->requestAccess();
    Logger::shared().info(kTag, "[Permission] User response: %s", granted ? "allowed" : "denied");
    if (!granted) return false;
  } else if (state != MicrophonePermissionState::authorized) {
    Logger::shared().warningWithTag(kTag, "[Permission] Microphone denied or restricted");
    return false;
  }

  // The default device is looked up at every start: the stream records the
  // device whose format it reads, so both must follow the user's choice.
  if ((_inputIsDefault || _inputDevice == kNoAudioDevice) && !setInputDevice("")) {
    Logger::shared().warningWithTag(kTag, "Failed to get default input device");
    return false;
  }
  // A sink records through its monitor, in the sink's own format.
  const auto input = findAudioDevice(*server_, _inputDevice);
  if (!input || input->format.mFormatID != kAudioFormatLinearPCM) {
    Logger::shared().warningWithTag(kTag, "Failed to get input device format");
    return false;
  }
  const AudioStreamBasicDescription device = input->format;
  Logger::shared().info(kTag, "Device format: sampleRate=%.1f, bits=%d, channels=%d, flags=0x%x",
                        device.mSampleRate, static_cast<int>(device.mBitsPerChannel),
                        static_cast<int>(device.mChannelsPerFrame), device.mFormatFlags);
  _audioFormat = device;
  if (!isFloat32(device) && !isInt16(device)) {
    // 24- and 32-bit integer microphones are common; the server hands their
    // samples over as float instead of the capture dropping every period.
    _audioFormat = makeLinearPcmFormat(device.mSampleRate, device.mChannelsPerFrame, 32, true);
    Logger::shared().info(kTag, "Recording %d-bit device samples as 32-bit float",
                          static_cast<int>(device.mBitsPerChannel));
  }
  const auto rate = static_cast<int32_t>(_audioFormat.mSampleRate);
  const auto channels = static_cast<int32_t>(_audioFormat.mChannelsPerFrame);
  auto converter = Mono16kConverter::create(rate, channels);
  if (!converter) return false;  // logged by the converter
  {
    std::lock_guard lock(callbackMutex_);
    converter_ = std::move(converter);
    aligner_ = std::make_unique<TimelineAligner>(clock_);
  }

  // The stage files exist before the first period arrives, so they hold
  // every sample the callback gets; a stream that fails takes them away again.
  if (_reserveStageAudio) {
    std::lock_guard lock(callbackMutex_);
    _wavOriginalUtil = openStageFile(_recorderPath, "mic_original.wav", rate, channels);
    _wavUtil = openStageFile(_recorderPath, "mic.wav", Mono16kConverter::kTargetRate, 1);
  }
  if (worker_) {
    const auto bytesPerSecond = static_cast<size_t>(_audioFormat.mSampleRate * _audioFormat.mBytesPerFrame);
    lane_ = worker_->addLane(bytesPerSecond * kQueueSeconds, bytesPerSecond, _audioFormat.mBytesPerFrame,
                             [this](PeriodQueue::Period& period) { processPeriod(period); });
  }
  AudioStatus status = AudioStatus::ok;
  _audioQueue = server_->openRecordStream(
      _inputDevice, _audioFormat, kPeriodBytes,
      [this](const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
        handleInputBuffer(data, bytes, capturedAt);
      },
      status);
  if (!_audioQueue) {
    Logger::shared().warning(kTag, "AudioQueueNewInput failed with status: %d", statusCode(status));
    closeLane();
    discardStageFiles();
    return false;
  }
  _paused = false;
  _running = true;
  Logger::shared().infoWithTag(kTag, "Audio queue started successfully");
  return true;
}

void MicCapture::discardStageFiles() {
  std::lock_guard lock(callbackMutex_);
  if (!_wavOriginalUtil && !_wavUtil) return;
  _wavOriginalUtil.reset();
  _wavUtil.reset();
  for (const char* name : {"mic_original.wav", "mic.wav"}) {
    std::error_code error;
    std::filesystem::remove(std::filesystem::path(*_recorderPath) / name, error);
  }
}

void MicCapture::handleInputBuffer(const uint8_t* data, size_t bytes,
                                   std::chrono::steady_clock::time_point capturedAt) {
  if (_paused || bytes == 0) return;
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

void MicCapture::closeLane() {
  if (!lane_) return;
  worker_->closeLane(lane_);
  lane_ = nullptr;
}

void MicCapture::processPeriod(const PeriodQueue::Period& period) {
  const size_t bytesPerSecond = static_cast<size_t>(_audioFormat.mSampleRate * _audioFormat.mBytesPerFrame);
  if (period.kind == PeriodQueue::Kind::dropped) {
    Logger::shared().warning(kTag, "Recording fell behind: %.0f ms of microphone audio dropped, counted as silence",
                             bytesPerSecond ? 1000.0 * static_cast<double>(period.stretchBytes) / bytesPerSecond : 0.0);
  }
  const size_t bytes = period.bytes;
  const uint8_t* data = period.data.data();
  if (period.kind != PeriodQueue::Kind::audio) {
    // Time lost on the way: silence of the same length keeps the stream true.
    silence_.assign(bytes, 0);
    data = silence_.data();
  }
  if (isFloat32(_audioFormat)) {
    float32BytesToFloats({data, bytes}, floats_);
  } else if (_audioFormat.mBitsPerChannel == 16) {
    pcm16BytesToFloats({data, bytes}, floats_);
  } else {
    Logger::shared().warning(kTag, "Unsupported format: bits=%d, flags=0x%x",
                             static_cast<int>(_audioFormat.mBitsPerChannel), _audioFormat.mFormatFlags);
    return;
  }

  std::lock_guard lock(callbackMutex_);
  if (_wavOriginalUtil) writeFloatsAsPcm16(*_wavOriginalUtil, floats_, pcm_);
  if (!converter_) return;
  converter_->process(floats_, converted_);
  if (converted_.empty()) return;
  if (aligner_) {
    aligner_->align(converted_, period.capturedAt);
    if (converted_.empty()) return;
  }
  if (_wavUtil) writeFloatsAsPcm16(*_wavUtil, converted_, pcm_);
  if (_audioCallback) _audioCallback(converted_);
}

bool MicCapture::pauseCapture() {
  Logger::shared().infoWithTag(kTag, "begin pause");
  if (!_running || _paused) return false;
  if (_audioQueue->setPaused(true) != AudioStatus::ok) {
    Logger::shared().warningWithTag(kTag, "pause failure");
    return false;
  }
  _paused = true;
  Logger::shared().infoWithTag(kTag, "pause successful");
  return true;
}

bool MicCapture::resumeCapture() {
  Logger::shared().infoWithTag(kTag, "begin resume");
  if (!_running || !_paused) return false;
  if (_audioQueue->setPaused(false) != AudioStatus::ok) {
    Logger::shared().warningWithTag(kTag, "resume failure");
    return false;
  }
  {
    std::lock_guard lock(callbackMutex_);
    if (aligner_) aligner_->rebase();
  }
  _paused = false;
  Logger::shared().infoWithTag(kTag, "resume successful");
  return true;
}

void MicCapture::stopCapture() {
  if (!_running) return;
  Logger::shared().infoWithTag(kTag, "Stop mic capture");
  // Once the stream has stopped no period arrives; what the worker still
  // holds is processed before the files close, so they are complete.
  if (_audioQueue) _audioQueue->stop();
  _audioQueue.reset();
  closeLane();
  Logger::shared().infoWithTag(kTag, "Audio queue stopped and disposed");
  {
    std::lock_guard lock(callbackMutex_);
    if (_wavUtil) _wavUtil->close();
    if (_wavOriginalUtil) _wavOriginalUtil->close();
    _wavUtil.reset();
    _wavOriginalUtil.reset();
    converter_.reset();
    aligner_.reset();
  }
  _running = false;
  _paused = false;
}

std::vector<std::string> MicCapture::getInputDevices() {
  std::vector<std::string> names;
  std::vector<AudioDevice> devices;
  if (listAudioDevices(*server_, devices) != AudioStatus::ok) return names;
  // Every device has an input side: a sink records through its monitor.
  for (const auto& device : devices) {
    if (device.channels != 0) names.push_back(device.name);
  }
  return names;
}

bool MicCapture::setInputDevice(const std::string& name) {
  if (name.empty()) {
    AudioDeviceId sink = kNoAudioDevice, source = kNoAudioDevice;
    // No device (the server offers only a monitor) is no microphone either.
    if (server_->defaults(sink, source) != AudioStatus::ok || source == kNoAudioDevice) return false;
    _inputDevice = source;
    _inputIsDefault = true;
    return true;
  }
  auto device = findAudioDeviceNamed(*server_, name);
  if (!device) return false;
  _inputDevice = device->id;
  _inputIsDefault = false;
  return true;
}

}  // namespace quillon
