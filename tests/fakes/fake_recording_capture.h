#pragma once

#include <algorithm>
#include <atomic>
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

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// A capture whose start answers what the test decided and whose blocks the
// test delivers by hand, from any thread, as a real capture's audio thread
// would. onStart runs inside startCapture, as a real capture's first periods would.
class FakeRecordingCapture : public RecordingCapture {
 public:
  explicit FakeRecordingCapture(std::string name = "capture", std::shared_ptr<CaptureJournal> journal = nullptr,
                                bool startSucceeds = true)
      : name_(std::move(name)),
        journal_(journal ? std::move(journal) : std::make_shared<CaptureJournal>()),
        startSucceeds_(startSucceeds) {}
  std::function<void(FakeRecordingCapture&)> onStart;

  // Set before any block is delivered, as the factory does.
  void setAudioCallback(SampleCallback callback) override { callback_ = std::move(callback); }
  bool startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) override {
    journal_->add(name_ + ".start(stage=" + (reserveStageAudio ? "1" : "0") +
                  ",path=" + recorderPath.value_or("<none>") + ")");
    if (onStart) onStart(*this);
    return running_ = startSucceeds_;
  }
  bool isRunning() const override { return running_; }
  void pause() override { journal_->add(name_ + ".pause"); }
  void resume() override { journal_->add(name_ + ".resume"); }
  void stopCapture() override {
    journal_->add(name_ + ".stop");
    running_ = false;
  }
  // Calls the installed callback, if any, with the block.
  void deliver(std::span<const float> block) {
    if (callback_) callback_(block);
  }

 private:
  const std::string name_;
  std::shared_ptr<CaptureJournal> journal_;
  const bool startSucceeds_;
  std::atomic<bool> running_ = false;
  SampleCallback callback_;
};

// Makers that hand out fresh fakes and remember the latest of each kind.
struct FakeCaptureMakers {
  std::shared_ptr<CaptureJournal> journal = std::make_shared<CaptureJournal>();
  bool micStarts = true;
  bool speakerStarts = true;
  std::shared_ptr<FakeRecordingCapture> lastMic;
  std::shared_ptr<FakeRecordingCapture> lastSpeaker;
  std::function<void(FakeRecordingCapture&)> onSpeakerStart;

  CaptureMakers makers() {
    return {[this] { return lastMic = std::make_shared<FakeRecordingCapture>("mic", journal, micStarts); },
            [this](const std::string&) {
              lastSpeaker = std::make_shared<FakeRecordingCapture>("speaker", journal, speakerStarts);
              lastSpeaker->onStart = onSpeakerStart;
              return lastSpeaker;
            }};
  }
};

}  // namespace quillon::test
