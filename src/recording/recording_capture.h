#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "recording/audio_capture_source.h"
#include "recording/recording_clock.h"
#include "recording/recording_worker.h"

namespace quillon {

// A capture as the recording facade drives it: the microphone capture and the
// system-audio capture both are one. Start, pause, resume and stop are called
// from the facade's threads one at a time; pause, resume and stop are harmless
// when there is nothing to act on.
class RecordingCapture : public AudioCaptureSource {
 public:
  // Answers true when the capture runs. reserveStageAudio keeps the capture's
  // stage WAV files in recorderPath (none are written without a folder).
  virtual bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) = 0;
  virtual bool isRunning() const = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
  // Stops and releases everything the start took; for the system-audio
  // capture, the system output, its volume and the rates are put back.
  virtual void stopCapture() = 0;
  // The timeline the capture places its blocks on; set before the start.
  // Without one, blocks follow each other as they arrive.
  virtual void setRecordingClock(std::shared_ptr<const RecordingClock> clock) { (void)clock; }
  // The thread that processes the captured periods; set before the start.
  // Without one, periods are processed on the stream's own thread.
  virtual void setRecordingWorker(std::shared_ptr<RecordingWorker> worker) { (void)worker; }
};

// How the facade makes the captures of each recording; tests give fakes.
struct CaptureMakers {
  std::function<std::shared_ptr<RecordingCapture>()> makeMicCapture;
  std::function<std::shared_ptr<RecordingCapture>(const std::string& blackHoleDriverPath)> makeSpeakerCapture;
};

}  // namespace quillon
