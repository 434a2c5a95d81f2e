#include "capture/output_switch.h"

#include "capture/audio_device_util.h"
#include "capture/audio_devices.h"
#include "capture/black_hole_util.h"
#include "logging/logger.h"

namespace quillon {
namespace {

constexpr const char* kTag = "speaker_capture";

// How many captures of this process hold the system output on the loopback
// device; the start-up repair leaves the output alone while any does.
std::atomic<int> outputHolders{0};

// The first sink other than `excluded` (named `name` unless that is empty).
AudioDeviceId otherSink(AudioServer& server, AudioDeviceId excluded, const std::string& name = {}) {
  auto sink = findOtherSink(server, excluded, name);
  return sink ? sink->id : kNoAudioDevice;
}

std::string nameOf(AudioServer& server, AudioDeviceId device) {
  auto found = findAudioDevice(server, device);
  return found ? found->name : std::string();
}

}  // namespace

OutputSwitch::OutputSwitch(std::shared_ptr<AudioServer> server, std::string stateFolder)
    : server_(std::move(server)), stateFile_(std::move(stateFolder)) {}

OutputSwitch::~OutputSwitch() {
  if (_holdsOutput) --outputHolders;
}

AudioDeviceId OutputSwitch::deviceLeftOnLoopback() {
  const auto saved = stateFile_.read();
  AudioDeviceId device = saved ? otherSink(*server_, _blackHoleDeviceId, saved->deviceName) : kNoAudioDevice;
  if (device == kNoAudioDevice) device = otherSink(*server_, _blackHoleDeviceId);
  Logger::shared().info(kTag, "System output was left on the loopback device; playing on %s",
                        device ? nameOf(*server_, device).c_str() : "(none)");
  return device;
}

bool OutputSwitch::take(const AudioStreamBasicDescription& format) {
  // An installed drop-in whose device the server does not list (the server
  // restarted since) is loaded here; nothing is installed, no prompt shown.
  if (!BlackHoleUtil::isBlackHoleInstalled(*server_)) BlackHoleUtil::loadInstalledDriver(server_);
  _blackHoleDeviceId = AudioDeviceUtil::getBlackHoleDeviceID(*server_);
  if (_blackHoleDeviceId == kNoAudioDevice) return false;
  const AudioDeviceId current = AudioDeviceUtil::getCurrentOutputDeviceID(*server_);
  if (current == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get original output device ID!");
    return false;
  }
  // An output left on the loopback device (a crash mid-recording) is no
  // device the user can hear: play on the one they had before.
  outputWasLoopback_ = current == _blackHoleDeviceId;
  _originalOutputDeviceId = outputWasLoopback_ ? deviceLeftOnLoopback() : current;
  if (_originalOutputDeviceId == kNoAudioDevice) {
    Logger::shared().errorWithTag(kTag, "Failed to get original output device ID!");
    return false;
  }
  _originalDeviceVolume = AudioDeviceUtil::getDeviceVolume(*server_, _originalOutputDeviceId, format);
  Logger::shared().info(kTag, "Original device volume (ch1): %.3f", _originalDeviceVolume);
  const auto loopback = findAudioDevice(*server_, _blackHoleDeviceId);
  _originalLoopbackVolumes = loopback ? loopback->volumes : std::vector<float>{};

  // Remember the user's device before touching the output, so a crash from
  // here on can be mended, and hold the output so that no other process
  // mends it while this recording runs.
  outputHold_ = stateFile_.holdOutput();
  stateFile_.write({nameOf(*server_, _originalOutputDeviceId), _originalDeviceVolume});
  _holdsOutput = true;
  ++outputHolders;
  return true;
}

float OutputSwitch::matchLoopbackToUser(const AudioStreamBasicDescription& format) {
  // The recording is made at the level the user listens at: the loopback
  // sink takes the user's volume, and its monitor comes after it. A device
  // turned all the way down still lets the meeting be recorded: the loopback
  // keeps its own volume then (the user hears nothing either way).
  if (_originalDeviceVolume > 0.0f) {
    AudioDeviceUtil::setDeviceVolume(*server_, _blackHoleDeviceId, format, _originalDeviceVolume);
  }
  return AudioDeviceUtil::getDeviceVolume(*server_, _blackHoleDeviceId, format);
}

bool OutputSwitch::switchToLoopback() {
  return outputWasLoopback_ || BlackHoleUtil::setOutputDeviceToBlackHole(*server_);
}

bool OutputSwitch::putOutputBack() {
  // Asked of the server even when the start failed before the switch: a
  // server that died cannot say where the output is, and the state file must
  // then stay for the repair once it is back.
  if (!_holdsOutput) return true;
  if (AudioDeviceUtil::setOutputDevice(*server_, _originalOutputDeviceId)) return true;
  // The user's device went away during the capture (a headset unplugged):
  // any real output beats leaving the system playing into the loopback.
  const AudioDeviceId fallback = otherSink(*server_, _blackHoleDeviceId);
  if (fallback == kNoAudioDevice || !AudioDeviceUtil::setOutputDevice(*server_, fallback)) return false;
  Logger::shared().info(kTag, "Original output device is gone; system output set to %s",
                        nameOf(*server_, fallback).c_str());
  return true;
}

void OutputSwitch::release(bool outputBack) {
  // The loopback sink's volume goes back channel by channel, exactly; the
  // user's device was never changed.
  if (!_originalLoopbackVolumes.empty()) server_->setSinkVolume(_blackHoleDeviceId, _originalLoopbackVolumes);
  _originalLoopbackVolumes.clear();
  // Kept when the switch back failed: the start-up repair tries again.
  if (outputBack) stateFile_.remove();
  if (_holdsOutput) {
    _holdsOutput = false;
    --outputHolders;
  }
  outputHold_.reset();
}

bool OutputSwitch::restoreOutputLeftOnLoopback(AudioServer& server, const std::string& stateFolder) {
  if (outputHolders > 0) return false;
  OutputDeviceStateFile stateFile(stateFolder);
  if (stateFile.outputHeld()) {
    // Another host process is recording: the loopback output is its, not a leftover.
    Logger::shared().infoWithTag(kTag, "System output is held by a recording of another process; left as it is");
    return false;
  }
  AudioDeviceId current = kNoAudioDevice, source = kNoAudioDevice;
  if (server.defaults(current, source) != AudioStatus::ok || current == kNoAudioDevice) return false;
  if (nameOf(server, current) != AudioDeviceUtil::kLoopbackDeviceName) {
    stateFile.remove();  // the output is the user's; nothing is left to mend
    return false;
  }
  const auto saved = stateFile.read();
  AudioDeviceId target = saved ? otherSink(server, current, saved->deviceName) : kNoAudioDevice;
  if (target == kNoAudioDevice) target = otherSink(server, current);
  if (target == kNoAudioDevice) {
    Logger::shared().warningWithTag(kTag, "System output is left on the loopback device and no other output exists");
    return false;
  }
  if (server.setDefaultSink(target) != AudioStatus::ok) {
    Logger::shared().warningWithTag(kTag, "Could not put the system output back from the loopback device");
    return false;
  }
  Logger::shared().info(kTag, "System output was left on the loopback device; restored to %s",
                        nameOf(server, target).c_str());
  stateFile.remove();
  return true;
}

}  // namespace quillon
