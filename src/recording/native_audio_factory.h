#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "recording/audio_factory.h"
#include "recording/byte_buffer.h"
#include "recording/close_summary.h"
#include "recording/recording_capture.h"

namespace quillon {

// Runs one recording at a time for the audio channel: makes sure the loopback
// driver is there, creates the microphone capture, the system-audio capture
// and the audio factory of each recording, starts both captures in parallel,
// and at the end stops them and closes the files. Every operation is called
// on the main thread, one at a time.
class NativeAudioFactory {
 public:
  // What the facade reaches outside itself: the host's start-up gives the
  // real captures and driver installer, tests give fakes.
  struct Dependencies {
    CaptureMakers captureMakers;
    std::function<bool()> isBlackHoleInstalled;
    std::function<int(const std::string& blackHolePath)> checkAndInstallDriver;
  };

  NativeAudioFactory(std::string blackHolePath, bool reserveStageAudio, Dependencies dependencies);
  // A recording still running is finished first, so the system output is put
  // back and the files are complete.
  ~NativeAudioFactory();
  NativeAudioFactory(const NativeAudioFactory&) = delete;
  NativeAudioFactory& operator=(const NativeAudioFactory&) = delete;

  // Answers whether every capture the recording needs started. Blocks until
  // both start attempts have finished.
  bool startRecorder(bool recorderMic, const std::string& recorderPath, const std::string& wavFilePath,
                     const std::string& opusFilePath);
  bool switchMicRecorder(bool recorderMic);
  bool pauseRecorder();
  bool resumeRecorder();
  CloseSummary stopRecorder();

  // The callbacks reach the audio factory of each recording once its captures
  // have started; buffers produced before that go only to the files.
  void setPcmCallback(AudioCallback callback) { pcmCallback = std::move(callback); }
  void setOpusCallback(AudioCallback callback) { opusCallback = std::move(callback); }

  // Whether recording objects are held (a start happened and no stop since).
  bool hasRecording() const { return micCapture || speakerCapture || audioFactory; }

  const std::string blackHolePath;
  const bool reserveStageAudio;
  std::string wavFilePath;
  std::string opusFilePath;
  std::string recorderPath;
  std::shared_ptr<RecordingCapture> micCapture;
  std::shared_ptr<RecordingCapture> speakerCapture;
  std::shared_ptr<AudioFactory> audioFactory;
  std::shared_ptr<RecordingClock> clock;
  std::shared_ptr<RecordingWorker> worker;
  bool isMicRecordingEnabled = true;
  bool isRecording = false;
  bool isPaused = false;
  AudioCallback pcmCallback;
  AudioCallback opusCallback;

 private:
  void ensureDriverInstalled();
  // Stops the captures and closes the factory of the current recording, then
  // drops them; the summary of a recording without a factory otherwise.
  CloseSummary finishRecording();

  Dependencies dependencies_;
};

}  // namespace quillon
