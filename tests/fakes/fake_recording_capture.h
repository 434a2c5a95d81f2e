#pragma once

#include <algorithm>
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
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  size_t count(const std::string& event) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(events_.begin(), events_.end(), event));
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A capture whose start answers what the test decided and whose blocks the
// test delivers by hand, from any thread, as a real capture's audio thread
// would. onStart runs inside startCapture, as a real capture's first periods would.
class FakeRecordingCapture : public RecordingCapture {
 public:
  FakeRecordingCapture(std::string name = "capture", std::shared_ptr<CaptureJournal> journal = nullptr,
                       bool startSucceeds = true)
      : name_(std::move(name)),
        journal_(journal ? std::move(journal) : std::make_shared<CaptureJournal>()),
        startSucceeds_(startSucceeds) {}
  std::function<void(FakeRecordingCapture&)> onStart;

  void setAudioCallback(SampleCallback callback) override {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
  }
  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override {
    journal_->add(name_ + ".start(stage=" + (reserveStageAudio ? "1" : "0") +
                  ",path=" + recorderPath.value_or("<none>") + ")");
    if (onStart) onStart(*this);
    std::lock_guard lock(mutex_);
    return running_ = startSucceeds_;
  }
  bool isRunning() const override {
    std::lock_guard lock(mutex_);
    return running_;
  }
  void pause() override { journal_->add(name_ + ".pause"); }
  void resume() override { journal_->add(name_ + ".resume"); }
  void stopCapture() override {
    journal_->add(name_ + ".stop");
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  // Calls the installed callback, if any, with the block.
  void deliver(std::span<const float> block) {
    SampleCallback callback;
    {
      std::lock_guard lock(mutex_);
      callback = callback_;
    }
    if (callback) callback(block);
  }
  void setStartSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    startSucceeds_ = succeeds;
  }

 private:
  const std::string name_;
  std::shared_ptr<CaptureJournal> journal_;
  mutable std::mutex mutex_;
  bool startSucceeds_;
  bool running_ = false;
  SampleCallback callback_;
};

// Makers that hand out fresh fakes and remember the latest of each kind.
struct FakeCaptureMakers {
  std::shared_ptr<CaptureJournal> journal = std::make_shared<CaptureJournal>();
  bool micStarts = true;
  bool speakerStarts = true;
  std::shared_ptr<FakeRecordingCapture> lastMic;
  std::shared_ptr<FakeRecordingCapture> lastSpeaker;
  std::vector<std::string> speakerDriverPaths;

  CaptureMakers makers() {
    return {[this] { return lastMic = std::make_shared<FakeRecordingCapture>("mic", journal, micStarts); },
            [this](const std::string& driverPath) {
              speakerDriverPaths.push_back(driverPath);
              return lastSpeaker = std::make_shared<FakeRecordingCapture>("speaker", journal, speakerStarts);
            }};
  }
};

}  // namespace quillon::test
