#include "capture/speaker_capture.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "capture/audio_device_util.h"
#include "capture/black_hole_util.h"
#include "capture/device_switching.h"
#include "capture/stage_audio.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "speaker_capture";
constexpr double kCaptureRate = 44100.0;
constexpr size_t kPeriodBytes = 4096;
// A first period this much later than its stream's start means the device
// slept through the start (see fillLateStartLocked).
constexpr double kLateStartThresholdSeconds = 0.1;
// A period this long always yields converted samples; shorter ones may not.
constexpr size_t kShortestConvertiblePeriod = 64;

// How many captures of this process hold the system output on the loopback
// device; the start-up repair leaves the output alone while any does.
std::atomic<int> outputHolders{0};

// The first output device other than `excluded`, in the server's order.
AudioDeviceId firstOtherOutputDevice(AudioHardware& hardware, AudioDeviceId excluded) {
  std::vector<AudioDeviceId> devices;
  if (hardware.devices(devices) != AudioStatus::ok) return kNoAudioDevice;
  for (AudioDeviceId device : devices) {
    AudioStreamBasicDescription format;
    if (device != excluded && hardware.streamFormat(device, AudioScope::output, format) == AudioStatus::ok) {
      return device;
    }
  }
  return kNoAudioDevice;
}

AudioDeviceId outputDeviceNamed(AudioHardware& hardware, const std::string& name, AudioDeviceId excluded) {
  std::vector<AudioDeviceId> devices;
  if (hardware.devices(devices) != AudioStatus::ok) return kNoAudioDevice;
  for (AudioDeviceId device : devices) {
    std::string deviceName;
    AudioStreamBasicDescription format;
    if (device != excluded && hardware.deviceName(device, deviceName) == AudioStatus::ok &&
        deviceName == name && hardware.streamFormat(device, AudioScope::output, format) == AudioStatus::ok) {
      return device;
    }
  }
  return kNoAudioDevice;
}

std::string nameOf(AudioHardware& hardware, AudioDeviceId device) {
  std::string name;
  hardware.deviceName(device, name);
  return name;
}

}  // namespace

AudioStreamBasicDescription SpeakerCapture::captureFormat() {
  return makeLinearPcmFormat(kCaptureRate, 2, 16, false);
}

std::shared_ptr<SpeakerCapture> SpeakerCapture::create(const std::string& blackHoleDriverPath, Options options) {
  std::shared_ptr<SpeakerCapture> capture(new SpeakerCapture(blackHoleDriverPath, std::move(options)));
  capture->_deviceSwitcher = std::make_shared<DeviceSwitching>(capture, capture->mainThread_, capture->hardware_);
  return capture;
}

SpeakerCapture::SpeakerCapture(const std::string& blackHoleDriverPath, Options options)
    : hardware_(AudioHardwareProvider::current()),
      mainThread_(std::move(options.mainThread)),
      stateFile_(std::move(options.stateFolder)),
      _audioFormat(captureFormat()),
      _blackHoleDriverPath(blackHoleDriverPath) {
  Logger::shared().infoWithTag(kTag, "Initializing SpeakerCapture...");
}

SpeakerCapture::~SpeakerCapture() { stopCapture(); }

void SpeakerCapture::setAudioCallback(AudioCallback callback) {
  std::lock_guard lock(periodMutex_);
  _audioCallback = std::move(callback);
}

AudioDeviceId SpeakerCapture::deviceLeftOnLoopback(std::optional<OutputDeviceStateFile::Entry>& saved) {
  saved = stateFile_.read();
  AudioDeviceId device = kNoAudioDevice;
  if (saved) device = outputDeviceNamed(*hardware_, saved->deviceName, _blackHoleDeviceId);
  if (device == kNoAudioDevice) {
    saved.reset();
    device = firstOtherOutputDevice(*hardware_, _blackHoleDeviceId);
  }
  Logger::shared().info(kTag, "System output was left on the loopback device; playing on %s",
                        device ? nameOf(*hardware_, device).c_str() : "(none)");
  return device;
}

bool SpeakerCapture::startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) {
  std::lock_guard control(controlMutex_);
  Logger::shared().infoWithTag(kTag, "Starting capture...");
  if (_running) return true;

  _blackHoleDeviceId = AudioDeviceUtil::getBlackHoleDeviceID();
  if (_blackHoleDeviceId == kNoAudioDevice) return false;
  const AudioDeviceId current = AudioDeviceUtil::getCurrentOutputDeviceID();
  if (current == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get original output device ID!");
    return false;
  }
  // An output left on the loopback device (a crash mid-recording) is no
  // device the user can hear: play on the one they had before.
  std::optional<OutputDeviceStateFile::Entry> saved;
  _originalOutputDeviceId = current == _blackHoleDeviceId ? deviceLeftOnLoopback(saved) : current;
  if (_originalOutputDeviceId == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get original output device ID!");
    return false;
  }
  _originalDeviceVolume = AudioDeviceUtil::getDeviceVolume(_originalOutputDeviceId, _audioFormat);
  if (saved && saved->volume >= 0.0f) _originalDeviceVolume = saved->volume;
  Logger::shared().info(kTag, "Original device volume (ch1): %.3f", _originalDeviceVolume);
  _originalLoopbackVolume = AudioDeviceUtil::getDeviceVolume(_blackHoleDeviceId, _audioFormat);
  _originalLoopbackRate = AudioDeviceUtil::getSampleRate(_blackHoleDeviceId);
  _originalDeviceRate = AudioDeviceUtil::getSampleRate(_originalOutputDeviceId);

  // Remember the user's device before touching the output, so a crash from
  // here on can be mended, and hold the output so that no other process
  // mends it while this recording runs.
  outputHold_ = stateFile_.holdOutput();
  stateFile_.write({nameOf(*hardware_, _originalOutputDeviceId), _originalDeviceVolume});
  if (current != _blackHoleDeviceId && !BlackHoleUtil::setOutputDeviceToBlackHole()) {
    stateFile_.remove();
    outputHold_.reset();
    return false;
  }
  _holdsOutput = true;
  ++outputHolders;
  _reserveStageAudio = reserveStageAudio;
  _recorderPath = recorderPath;

  // From here on every failure puts the output, volumes and rates back.
  if (!setupCapture()) {
    restoreDevices(false);
    return false;
  }
  Logger::shared().infoWithTag(kTag, "Speaker capture started successfully");
  _paused = false;
  _running = true;
  return true;
}

bool SpeakerCapture::setupCapture() {
  // The volume control the user now reaches is the loopback device's: it
  // starts where the user's own device was.
  if (_originalDeviceVolume > 0.0f) {
    AudioDeviceUtil::setDeviceVolume(_blackHoleDeviceId, _audioFormat, _originalDeviceVolume);
  }
  const float loopbackVolume = AudioDeviceUtil::getDeviceVolume(_blackHoleDeviceId, _audioFormat);
  Logger::shared().info(kTag, "BlackHole device volume (ch1): %.3f", loopbackVolume);
  const bool volumeSet = AudioDeviceUtil::setDeviceVolume(_originalOutputDeviceId, _audioFormat, loopbackVolume);
  Logger::shared().info(kTag, "Set Player volume (ch1) to %.3f: %s", loopbackVolume, volumeSet ? "success" : "fail");

  _buffer = std::make_shared<PassThroughFifo>();
  std::shared_ptr<PassThroughFifo> fifo = _buffer;
  _playerUtil = std::make_unique<PlayerUtil>(
      _originalOutputDeviceId, _audioFormat, [fifo](uint32_t bytes) { return fifo->take(bytes); }, hardware_);

  AudioDeviceUtil::setSampleRate(_blackHoleDeviceId, kCaptureRate);
  AudioDeviceUtil::setSampleRate(_originalOutputDeviceId, kCaptureRate);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  Logger::shared().info(kTag, "BlackHole actual sample rate: %.0f", AudioDeviceUtil::getSampleRate(_blackHoleDeviceId));
  auto converter = Mono16kConverter::create(static_cast<int32_t>(_audioFormat.mSampleRate),
                                            static_cast<int32_t>(_audioFormat.mChannelsPerFrame),
                                            Mono16kConverter::SampleFormat::Int16);
  if (!converter) return false;
  {
    std::lock_guard lock(periodMutex_);
    converter_ = std::move(converter);
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
  _deviceSwitcher->startObservingOutputDeviceChange();
  Logger::shared().infoWithTag(kTag, "PlayerUtil started successfully");

  {
    std::lock_guard lock(periodMutex_);
    streamOpenedAt_ = std::chrono::steady_clock::now();
    firstPeriodSeen_ = false;
  }
  AudioStatus status = AudioStatus::ok;
  _audioUnit = hardware_->openInputStream(
      _blackHoleDeviceId, _audioFormat, kPeriodBytes,
      [this](const uint8_t* data, size_t bytes) { handleInputData(data, bytes); }, status);
  if (!_audioUnit) {
    Logger::shared().error(kTag, "Loopback capture stream failed to start (status: %d)", statusCode(status));
    return false;
  }
  return true;
}

void SpeakerCapture::handleInputData(const uint8_t* data, size_t bytes) {
  if (_paused || data == nullptr || bytes == 0) return;
  // A full FIFO means the player is not keeping up: the pass-through skips
  // the period, but the recording keeps it.
  size_t held = 0;
  std::shared_ptr<PassThroughFifo> fifo = _buffer;
  if (fifo && !fifo->append(data, bytes, held)) {
    if (!overflowing_) {
      Logger::shared().warning(kTag, "Speaker buffer too large (%lu), dropping %lu bytes",
                               static_cast<unsigned long>(held), static_cast<unsigned long>(bytes));
    }
    overflowing_ = true;
  } else {
    overflowing_ = false;
  }

  std::lock_guard lock(periodMutex_);
  if (!firstPeriodSeen_) {
    firstPeriodSeen_ = true;
    fillLateStartLocked(bytes);
  }
  deliverPeriodLocked(data, bytes);
}

void SpeakerCapture::fillLateStartLocked(size_t firstPeriodBytes) {
  // A loopback device that nothing plays into sleeps in long blocks, and its
  // monitor then starts delivering only when the block ends, up to two
  // seconds after the stream started, without the audio of that time. Counted
  // from its first period, the system audio would sit that much early
  // against the microphone for the whole recording: the silence that was
  // playing is put back in front instead.
  const double bytesPerSecond = _audioFormat.mSampleRate * _audioFormat.mBytesPerFrame;
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - streamOpenedAt_).count();
  const double missing = waited - static_cast<double>(firstPeriodBytes) / bytesPerSecond;
  if (missing < kLateStartThresholdSeconds) return;
  const size_t frames = static_cast<size_t>(missing * _audioFormat.mSampleRate);
  Logger::shared().info(kTag, "Loopback monitor started %.0f ms late; filling the gap with silence",
                        missing * 1000.0);
  const std::vector<uint8_t> silence(frames * _audioFormat.mBytesPerFrame, 0);
  deliverPeriodLocked(silence.data(), silence.size());
}

void SpeakerCapture::deliverPeriodLocked(const uint8_t* data, size_t bytes) {
  if (_wavOriginalUtil) {
    // Through float and back, as the converter sees the samples.
    const size_t count = bytes / 2;
    pcm_.resize(count);
    for (size_t i = 0; i < count; ++i) {
      int16_t v;
      std::memcpy(&v, data + 2 * i, sizeof v);
      pcm_[i] = floatToPcm16(static_cast<float>(v) * (1.0f / 32768.0f));
    }
    _wavOriginalUtil->writeSamples(pcm_.data(), count);
  }
  if (!converter_) return;
  std::vector<uint8_t> converted = converter_->process({data, bytes});
  if (converted.empty()) {
    if (bytes >= kShortestConvertiblePeriod) Logger::shared().errorWithTag(kTag, "Downsampled data is empty!");
    return;
  }
  if (_wavUtil) {
    bytesToFloats(converted.data(), converted.size(), floats_);
    writeFloatsAsPcm16(*_wavUtil, floats_.data(), floats_.size(), pcm_);
  }
  if (_audioCallback) _audioCallback(ByteBuffer(std::move(converted)));
}

bool SpeakerCapture::pauseCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || _paused || !_audioUnit) return false;
  if (_audioUnit->setPaused(true) != AudioStatus::ok) return false;
  _paused = true;
  {
    // Time spent paused is no late start.
    std::lock_guard lock(periodMutex_);
    firstPeriodSeen_ = true;
  }
  return true;
}

bool SpeakerCapture::resumeCapture() {
  std::lock_guard control(controlMutex_);
  if (!_running || !_paused || !_audioUnit) return false;
  if (_audioUnit->setPaused(false) != AudioStatus::ok) return false;
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
  // The stream and the player stop first, so no period or pull runs while
  // the files close and the devices change.
  if (_audioUnit) _audioUnit->stop();
  _audioUnit.reset();
  {
    std::lock_guard lock(periodMutex_);
    if (_wavUtil) _wavUtil->close();
    if (_wavOriginalUtil) _wavOriginalUtil->close();
    _wavUtil.reset();
    _wavOriginalUtil.reset();
    converter_.reset();
  }
  if (_playerUtil) _playerUtil->stop();
  _playerUtil.reset();
  if (_buffer) _buffer->clear();
  _buffer.reset();

  if (_originalDeviceVolume != 0.0f) {
    const bool ok = AudioDeviceUtil::setDeviceVolume(_originalOutputDeviceId, _audioFormat, _originalDeviceVolume);
    Logger::shared().info(kTag, "Restore original device volume (ch1) to %.3f: %s", _originalDeviceVolume,
                          ok ? "success" : "fail");
  }
  if (_originalLoopbackVolume >= 0.0f) {
    AudioDeviceUtil::setDeviceVolume(_blackHoleDeviceId, _audioFormat, _originalLoopbackVolume);
  }
  _deviceSwitcher->stopObservingOutputDeviceChange();
  // Rates are put back only where the start really changed them.
  if (_originalLoopbackRate > 0.0 &&
      std::fabs(AudioDeviceUtil::getSampleRate(_blackHoleDeviceId) - _originalLoopbackRate) >= 1.0) {
    AudioDeviceUtil::setSampleRate(_blackHoleDeviceId, _originalLoopbackRate);
  }
  if (_originalDeviceRate > 0.0 &&
      std::fabs(AudioDeviceUtil::getSampleRate(_originalOutputDeviceId) - _originalDeviceRate) >= 1.0) {
    AudioDeviceUtil::setSampleRate(_originalOutputDeviceId, _originalDeviceRate);
  }
  _running = false;
  _paused = false;
  if (stopping) Logger::shared().infoWithTag(kTag, "Capture stopped");
  bool restored = AudioDeviceUtil::setOutputDevice(_originalOutputDeviceId);
  Logger::shared().infoWithTag(kTag, "Restored original output device.");
  if (!restored) {
    // The user's device went away during the capture (a headset unplugged):
    // any real output beats leaving the system playing into the loopback.
    const AudioDeviceId fallback = firstOtherOutputDevice(*hardware_, _blackHoleDeviceId);
    restored = fallback != kNoAudioDevice && AudioDeviceUtil::setOutputDevice(fallback);
    if (restored) {
      Logger::shared().info(kTag, "Original output device is gone; system output set to %s",
                            nameOf(*hardware_, fallback).c_str());
    }
  }
  // Kept when the switch back failed: the start-up repair tries again.
  if (restored) stateFile_.remove();
  if (_holdsOutput) {
    _holdsOutput = false;
    --outputHolders;
  }
  outputHold_.reset();
}

bool SpeakerCapture::restoreOutputLeftOnLoopback(const std::string& stateFolder) {
  if (outputHolders > 0) return false;
  auto hardware = AudioHardwareProvider::current();
  OutputDeviceStateFile stateFile(stateFolder);
  if (stateFile.outputHeld()) {
    // Another host process is recording: the loopback output is its, not a leftover.
    Logger::shared().infoWithTag(kTag, "System output is held by a recording of another process; left as it is");
    return false;
  }
  AudioDeviceId current = kNoAudioDevice;
  if (hardware->defaultOutputDevice(current) != AudioStatus::ok || current == kNoAudioDevice) return false;
  if (nameOf(*hardware, current) != AudioDeviceUtil::kLoopbackDeviceName) {
    stateFile.remove();  // the output is the user's; nothing is left to mend
    return false;
  }
  const auto saved = stateFile.read();
  AudioDeviceId target = saved ? outputDeviceNamed(*hardware, saved->deviceName, current) : kNoAudioDevice;
  if (target == kNoAudioDevice) target = firstOtherOutputDevice(*hardware, current);
  if (target == kNoAudioDevice) {
    Logger::shared().warningWithTag(kTag, "System output is left on the loopback device and no other output exists");
    return false;
  }
  if (hardware->setDefaultOutputDevice(target) != AudioStatus::ok) {
    Logger::shared().warningWithTag(kTag, "Could not put the system output back from the loopback device");
    return false;
  }
  if (saved && saved->volume > 0.0f && outputDeviceNamed(*hardware, saved->deviceName, current) == target) {
    AudioDeviceUtil::setDeviceVolume(target, captureFormat(), saved->volume);
  }
  Logger::shared().info(kTag, "System output was left on the loopback device; restored to %s",
                        nameOf(*hardware, target).c_str());
  stateFile.remove();
  return true;
}

}  // namespace quillon
