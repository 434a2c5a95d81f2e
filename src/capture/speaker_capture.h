#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/capture_stream.h"
#include "capture/output_switch.h"
#include "capture/pass_through.h"
#include "platform/audio_server.h"
#include "platform/main_thread.h"
#include "recording/recording_capture.h"

namespace quillon {

class DeviceSwitching;

// Records what the computer plays. While it runs, the loopback device
// "VerdalisRecorder" is the system output (so every application plays into
// it), its monitor is recorded at 44.1 kHz 16-bit stereo, and a pass-through
// player plays the captured sound on to the user's own output device so the
// user still hears it. The stream's thread hands each period to the
// pass-through and on to a CaptureStream; with stage audio kept,
// "speaker_original.wav" and "speaker.wav" are written.
//
// What the user hears does not change. The loopback sink takes the user's
// volume, so the recording is at the level the user listens at and the
// volume keys (which now reach the loopback sink) still work; its monitor is
// after that volume, so the pass-through plays at the inverse gain and the
// user's device itself is never touched. Both streams run before the output
// is switched and the output is switched back before they stop, so no
// application plays into a device nobody passes on.
//
// Whatever happens after the switch (a failed start, a stop, the capture
// being dropped) the system output and the loopback volume go back to what
// they were. The user's device is also remembered in a small state file while
// the output is switched, so that after a crash restoreOutputLeftOnLoopback()
// (at host start-up) or the next capture puts the output back.
//
// Logs under the tag "speaker_capture". Must be owned by a std::shared_ptr
// (see create()): its output-device observer refers back to it weakly.
class SpeakerCapture final : public RecordingCapture, public std::enable_shared_from_this<SpeakerCapture> {
 public:
  struct Options {
    // The sound server the capture switches, records and plays through.
    std::shared_ptr<AudioServer> server;
    // Where output-device changes during a capture are reported; null: not at all.
    std::shared_ptr<MainThread> mainThread;
    // Folder of the state file; empty: OutputDeviceStateFile's default.
    std::string stateFolder;
  };

  static std::shared_ptr<SpeakerCapture> create(const std::string& blackHoleDriverPath, Options options);
  ~SpeakerCapture() override;
  SpeakerCapture(const SpeakerCapture&) = delete;
  SpeakerCapture& operator=(const SpeakerCapture&) = delete;

  // For host start-up: when the system output is the loopback device and no
  // capture of this or another process holds it, the output goes back to the device the
  // state file names (or else the first other output device). True when it
  // put the output back.
  static bool restoreOutputLeftOnLoopback(AudioServer& server, const std::string& stateFolder = {});

  // 44100 Hz, signed 16-bit packed, interleaved stereo.
  static AudioStreamBasicDescription captureFormat();

  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override;
  bool isRunning() const override { return _running; }
  void pause() override { pauseCapture(); }
  void resume() override { resumeCapture(); }
  void stopCapture() override;
  void setAudioCallback(SampleCallback callback) override { stream_.setAudioCallback(std::move(callback)); }
  void setRecordingClock(std::shared_ptr<const RecordingClock> clock) override {
    stream_.setRecordingClock(std::move(clock));
  }
  void setRecordingWorker(std::shared_ptr<RecordingWorker> worker) override {
    stream_.setRecordingWorker(std::move(worker));
  }

  bool pauseCapture();
  bool resumeCapture();

  // One captured period of 16-bit stereo bytes, as the stream hands it over:
  // to the pass-through, then to the recording side. Null data is a stretch
  // the server lost, taken as silence.
  void handleInputData(const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt);

 private:
  SpeakerCapture(const std::string& blackHoleDriverPath, Options options);
  bool setupCapture();
  // Undoes everything a start did, in stop order; `stopping` adds the stop's lines.
  void restoreDevices(bool stopping);

  std::shared_ptr<AudioServer> server_;
  std::shared_ptr<MainThread> mainThread_;
  OutputSwitch output_;
  std::mutex controlMutex_;  // start, stop, pause and resume one at a time

  const AudioStreamBasicDescription _audioFormat;
  std::atomic<bool> _running{false};
  std::atomic<bool> _paused{false};
  std::unique_ptr<PassThrough> passThrough_;
  std::optional<std::string> _recorderPath;
  bool _reserveStageAudio = false;
  std::string _blackHoleDriverPath;
  std::shared_ptr<DeviceSwitching> _deviceSwitcher;

  CaptureStream stream_;
};

}  // namespace quillon
