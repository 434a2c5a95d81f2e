#include "capture/mic_capture.h"

#include "capture/audio_devices.h"
#include "capture/device_util.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "MicCapture";
// About 4096 bytes a period, as the server can deliver them.
constexpr size_t kPeriodBytes = 4096;

bool isFloat32(const AudioStreamBasicDescription& f) {
  return (f.mFormatFlags & kAudioFormatFlagIsFloat) != 0 && f.mBitsPerChannel == 32;
}

bool isInt16(const AudioStreamBasicDescription& f) {
  return (f.mFormatFlags & kAudioFormatFlagIsFloat) == 0 && f.mBitsPerChannel == 16;
}

}  // namespace

MicCapture::MicCapture(std::shared_ptr<AudioServer> server, std::shared_ptr<MicrophonePermission> permission)
    : server_(std::move(server)),
      permission_(permission ? std::move(permission) : DeviceUtil::permissionProvider()),
      stream_({.tag = kTag,
               .audioName = "microphone audio",
               .originalStageName = "mic_original.wav",
               .stageName = "mic.wav",
               .periodBytes = kPeriodBytes}) {}

MicCapture::~MicCapture() { stopCapture(); }

bool MicCapture::startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) {
  if (_running) return true;
  Logger::shared().info(kTag, "Start mic capture, reserveStageAudio=%d, recorderPath=%s",
                        reserveStageAudio ? 1 : 0, recorderPath ? recorderPath->c_str() : "(null)");

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
  if (!stream_.prepare(_audioFormat, reserveStageAudio, recorderPath)) return false;
  AudioStatus status = AudioStatus::ok;
  if (!stream_.open(*server_, _inputDevice,
                    [this](const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt) {
                      handleInputBuffer(data, bytes, capturedAt);
                    },
                    status)) {
    Logger::shared().warning(kTag, "AudioQueueNewInput failed with status: %d", statusCode(status));
    // The stage files exist from before the stream; a start that failed takes them away again.
    stream_.discardStageFiles();
    return false;
  }
  _paused = false;
  _running = true;
  Logger::shared().infoWithTag(kTag, "Audio queue started successfully");
  return true;
}

bool MicCapture::pauseCapture() {
  Logger::shared().infoWithTag(kTag, "begin pause");
  if (!_running || _paused) return false;
  if (!stream_.setPaused(true)) {
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
  if (!stream_.setPaused(false)) {
    Logger::shared().warningWithTag(kTag, "resume failure");
    return false;
  }
  _paused = false;
  Logger::shared().infoWithTag(kTag, "resume successful");
  return true;
}

void MicCapture::stopCapture() {
  if (!_running) return;
  Logger::shared().infoWithTag(kTag, "Stop mic capture");
  stream_.stop();
  Logger::shared().infoWithTag(kTag, "Audio queue stopped and disposed");
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
