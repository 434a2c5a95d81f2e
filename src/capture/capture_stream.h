#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_server.h"
#include "recording/audio_capture_source.h"
#include "recording/mono16k_converter.h"
#include "recording/period_queue.h"
#include "recording/recording_clock.h"
#include "recording/recording_worker.h"
#include "recording/timeline_aligner.h"
#include "recording/wav_util.h"

namespace quillon {

// The record stream of a capture and the road its periods take: the server's
// thread queues each period on the recording worker's lane (or, without a
// worker, processes it where it arrives); the worker converts it to float
// mono 16 kHz with the stream's own streaming converter, places it on the
// recording's timeline, writes the stage files and hands it to the audio
// callback. The microphone and the system-audio capture each own one.
class CaptureStream {
 public:
  struct Settings {
    const char* tag;                // the owning capture's log tag
    const char* audioName;          // what the stream records, for the fell-behind warning
    const char* originalStageName;  // stage file of the device signal
    const char* stageName;          // stage file of the 16 kHz signal
    size_t periodBytes;             // what the server hands over at a time
    // What the recording side takes at a time, gathered from periods; 0: each period.
    size_t batchBytes = 0;
    // Logs conversions that yield nothing and large placements on the timeline.
    bool reportsPlacement = false;
    // Runs on the worker before each period is processed.
    std::function<void()> beforeEachPeriod = nullptr;
  };

  explicit CaptureStream(Settings settings) : settings_(std::move(settings)) {}
  ~CaptureStream() { stop(); }
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;

  void setAudioCallback(SampleCallback callback);
  void setRecordingClock(std::shared_ptr<const RecordingClock> clock);
  void setRecordingWorker(std::shared_ptr<RecordingWorker> worker) { worker_ = std::move(worker); }

  // The converter, the timeline and (with stage audio kept and a folder) the
  // stage files for a stream of `format`, 16-bit or 32-bit float. False when
  // the format cannot be converted (logged by the converter).
  bool prepare(const AudioStreamBasicDescription& format, bool reserveStageAudio,
               const std::optional<std::string>& folder);
  // Opens the record stream on `device`; `handler` runs on the server's
  // thread for every period and ends in push(). False with `status` on failure.
  bool open(AudioServer& server, AudioDeviceId device, AudioInputHandler handler, AudioStatus& status);
  // For the server's thread: queues one period. Null data is a stretch the
  // server lost, taken as silence. Ignored while paused.
  void push(const uint8_t* data, size_t bytes, std::chrono::steady_clock::time_point capturedAt);
  // Whether a period handed over now would be taken.
  bool takes(size_t bytes) const { return bytes != 0 && !paused_; }

  // Corks or uncorks the stream; false when the server refuses or nothing runs.
  bool setPaused(bool paused);
  // Stops the stream, processes what the worker still holds and closes the
  // stage files, so they hold every sample the callback got.
  void stop();
  // Closes and deletes the stage files (of a start that failed).
  void discardStageFiles();

 private:
  void processPeriod(const PeriodQueue::Period& period);
  void deliverBatchLocked();
  size_t bytesPerSecond() const;

  const Settings settings_;
  AudioStreamBasicDescription format_{};
  std::unique_ptr<AudioStream> stream_;
  std::atomic<bool> paused_{false};
  std::optional<std::string> folder_;

  std::shared_ptr<RecordingWorker> worker_;
  RecordingWorker::Lane* lane_ = nullptr;  // while the stream runs with a worker

  std::mutex periodMutex_;  // the writers, the converter and the callback against the worker
  SampleCallback callback_;
  std::shared_ptr<const RecordingClock> clock_;
  std::unique_ptr<TimelineAligner> aligner_;
  std::unique_ptr<Mono16kConverter> converter_;
  std::unique_ptr<WavUtil> originalStage_;
  std::unique_ptr<WavUtil> stage_;

  // Scratch of the worker, kept between periods.
  std::vector<uint8_t> batch_;
  std::chrono::steady_clock::time_point batchCapturedAt_;
  std::vector<float> floats_;
  std::vector<float> converted_;
  std::vector<int16_t> pcm_;
  PeriodQueue::Period inline_;  // a period processed where it arrived (no worker)
};

}  // namespace quillon
