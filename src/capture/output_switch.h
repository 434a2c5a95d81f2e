#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "capture/output_device_state_file.h"
#include "platform/audio_server.h"

namespace quillon {

// The system output's side of a system-audio capture. It moves the output to
// the loopback device "VerdalisRecorder" and back, gives the loopback sink the
// user's volume and puts the sink's own channel volumes back exactly, and
// keeps the user's device in the state file, with the output hold, for as
// long as the output is moved, so that a crash can be mended at the next
// start. The user's own device is never changed. Logs under the capture's
// tag "speaker_capture".
class OutputSwitch {
 public:
  // `stateFolder` empty: OutputDeviceStateFile's default.
  OutputSwitch(std::shared_ptr<AudioServer> server, std::string stateFolder);
  ~OutputSwitch();
  OutputSwitch(const OutputSwitch&) = delete;
  OutputSwitch& operator=(const OutputSwitch&) = delete;

  // Before any stream runs: finds the loopback sink and the user's device
  // (when the output already is the loopback device, a crash left it so: the
  // one the state file names, or else the first other sink), remembers both
  // volumes, writes the state file and takes the hold. False, with nothing
  // changed, when either device is missing.
  bool take(const AudioStreamBasicDescription& format);
  // The loopback sink takes the user's volume, unless the user's device is
  // turned all the way down; answers the loopback's volume afterwards.
  float matchLoopbackToUser(const AudioStreamBasicDescription& format);
  // Makes the loopback device the system output, unless it already was.
  bool switchToLoopback();
  // The output goes back to the user's device, or to the first other sink
  // when that is gone. True when the output is on a real device again (or
  // was never moved).
  bool putOutputBack();
  // After the streams stopped: the loopback's channel volumes go back, the
  // state file goes when `outputBack` (else it stays for the start-up
  // repair), and the hold is let go.
  void release(bool outputBack);

  bool held() const { return _holdsOutput; }
  AudioDeviceId loopbackDevice() const { return _blackHoleDeviceId; }
  AudioDeviceId userDevice() const { return _originalOutputDeviceId; }

  // For host start-up: see SpeakerCapture::restoreOutputLeftOnLoopback.
  static bool restoreOutputLeftOnLoopback(AudioServer& server, const std::string& stateFolder);

 private:
  AudioDeviceId deviceLeftOnLoopback();

  std::shared_ptr<AudioServer> server_;
  OutputDeviceStateFile stateFile_;
  AudioDeviceId _blackHoleDeviceId = kNoAudioDevice;
  AudioDeviceId _originalOutputDeviceId = kNoAudioDevice;
  bool outputWasLoopback_ = false;
  float _originalDeviceVolume = 0.0f;
  // The loopback sink's channels as they were, put back exactly.
  std::vector<float> _originalLoopbackVolumes;
  bool _holdsOutput = false;
  std::unique_ptr<OutputDeviceStateFile::OutputHold> outputHold_;
};

}  // namespace quillon
