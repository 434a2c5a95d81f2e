#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recording/recording_capture.h"

namespace quillon::test {

// What the fake captures of one test did, in order, from every thread:
// "mic.start(stage=1,path=/x)", "speaker.pause", "mic.stop", ...
class CaptureJournal {
 public:
  void add(std::string event);
  std::vector<std::string> events() const;
  // How many events are exactly `event`.
  size_t count(const std::string& event) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A capture whose start answers what the test decided and whose blocks the
// test delivers by hand. onStart runs inside startCapture, on the facade's
// start thread, as a real capture's first periods would.
class FakeRecordingCapture : public RecordingCapture {
 public:
  FakeRecordingCapture(std::string name, std::shared_ptr<CaptureJournal> journal, bool startSucceeds);

  void setAudioCallback(AudioCallback callback) override;
  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override;
  bool isRunning() const override;
  void pause() override;
  void resume() override;
  void stopCapture() override;

  // Calls the installed callback, if any, with the block.
  void deliver(const ByteBuffer& block);
  void setStartSucceeds(bool succeeds);
  std::function<void(FakeRecordingCapture&)> onStart;

 private:
  const std::string name_;
  std::shared_ptr<CaptureJournal> journal_;
  mutable std::mutex mutex_;
  bool startSucceeds_;
  bool running_ = false;
  AudioCallback callback_;
};

// Makers that hand out fresh fakes and remember the latest of each kind.
struct FakeCaptureMakers {
  std::shared_ptr<CaptureJournal> journal = std::make_shared<CaptureJournal>();
  bool micStarts = true;
  bool speakerStarts = true;
  std::shared_ptr<FakeRecordingCapture> lastMic;
  std::shared_ptr<FakeRecordingCapture> lastSpeaker;
  std::vector<std::string> speakerDriverPaths;

  CaptureMakers makers();
};

}  // namespace quillon::test
