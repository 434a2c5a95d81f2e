#include "fakes/fake_recording_capture.h"

#include <algorithm>

namespace quillon::test {

void CaptureJournal::add(std::string event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
}

std::vector<std::string> CaptureJournal::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

size_t CaptureJournal::count(const std::string& event) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count(events_.begin(), events_.end(), event));
}

void CaptureJournal::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

FakeRecordingCapture::FakeRecordingCapture(std::string name, std::shared_ptr<CaptureJournal> journal,
                                           bool startSucceeds)
    : name_(std::move(name)), journal_(std::move(journal)), startSucceeds_(startSucceeds) {}

void FakeRecordingCapture::setAudioCallback(AudioCallback callback) {
  std::lock_guard lock(mutex_);
  callback_ = std::move(callback);
}

bool FakeRecordingCapture::startCapture(bool reserveStageAudio, const std::optional<std::string>& recorderPath) {
  journal_->add(name_ + ".start(stage=" + (reserveStageAudio ? "1" : "0") + ",path=" +
                (recorderPath ? *recorderPath : "<none>") + ")");
  if (onStart) onStart(*this);
  std::lock_guard lock(mutex_);
  running_ = startSucceeds_;
  return running_;
}

bool FakeRecordingCapture::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void FakeRecordingCapture::pause() { journal_->add(name_ + ".pause"); }

void FakeRecordingCapture::resume() { journal_->add(name_ + ".resume"); }

void FakeRecordingCapture::stopCapture() {
  journal_->add(name_ + ".stop");
  std::lock_guard lock(mutex_);
  running_ = false;
}

void FakeRecordingCapture::deliver(const ByteBuffer& block) {
  AudioCallback callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
  }
  if (callback) callback(block);
}

void FakeRecordingCapture::setStartSucceeds(bool succeeds) {
  std::lock_guard lock(mutex_);
  startSucceeds_ = succeeds;
}

CaptureMakers FakeCaptureMakers::makers() {
  return {[this] {
            lastMic = std::make_shared<FakeRecordingCapture>("mic", journal, micStarts);
            return lastMic;
          },
          [this](const std::string& driverPath) {
            speakerDriverPaths.push_back(driverPath);
            lastSpeaker = std::make_shared<FakeRecordingCapture>("speaker", journal, speakerStarts);
            return lastSpeaker;
          }};
}

}  // namespace quillon::test
