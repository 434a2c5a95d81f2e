#include "app/status_monitor.h"

#include <algorithm>
#include <map>

#include "logging/logger.h"
#include "recording/native_audio_factory.h"
#include "recording/source_levels.h"
#include "usb/usb_factory.h"
#include "usb/usb_watcher.h"

namespace quillon {

namespace {
// Each reading keeps this share of the previous level, so a meter falls
// smoothly instead of flickering between blocks.
constexpr float kLevelHold = 0.6f;

float nextLevel(std::atomic<float>& fresh, float previous) {
  return std::max(fresh.exchange(0.0f, std::memory_order_relaxed), previous * kLevelHold);
}
}  // namespace

// The ports the watcher reported, by path; only the main thread touches it.
struct StatusMonitor::Ports {
  std::map<std::string, std::optional<UsbIdentifiers>> present;
};

StatusMonitor::StatusMonitor(Sources sources, MainThread& mainThread)
    : sources_(std::move(sources)), ports_(std::make_shared<Ports>()) {
  if (!sources_.serialPorts) return;
  watcher_ = std::make_unique<UsbWatcher>(sources_.serialPorts);
  std::weak_ptr<Ports> weakPorts = ports_;
  std::weak_ptr<SerialPortRegistry> weakRegistry = sources_.serialPorts;
  // The watcher's thread reads sysfs for the identifiers, so the main thread
  // only stores what it is handed.
  watcher_->setCallback([weakPorts, weakRegistry, &mainThread](const std::string& path, bool added) {
    std::optional<UsbIdentifiers> usb;
    if (auto registry = added ? weakRegistry.lock() : nullptr) {
      const UsbIdentifierLookup lookup = registry->lookUpUsbIdentifiers(path);
      if (!lookup.matches.empty()) usb = lookup.matches.front();
    }
    mainThread.post([weakPorts, path, added, usb] {
      auto ports = weakPorts.lock();
      if (!ports) return;
      if (added) {
        ports->present[path] = usb;
      } else {
        ports->present.erase(path);
      }
    });
  });
  watcher_->startWatching();
}

StatusMonitor::~StatusMonitor() = default;

void StatusMonitor::trackRecording(bool recording, bool paused, Clock::time_point now) {
  if (!recording) {
    recordingSince_.reset();
    pausedSince_.reset();
    pausedTotal_ = {};
    return;
  }
  if (!recordingSince_) recordingSince_ = now;
  if (paused && !pausedSince_) pausedSince_ = now;
  if (!paused && pausedSince_) {
    pausedTotal_ += now - *pausedSince_;
    pausedSince_.reset();
  }
}

HostStatus StatusMonitor::sample() {
  HostStatus status;
  status.engineConnected = sources_.engineConnected && sources_.engineConnected();
  status.socketPath = sources_.socketPath;

  const NativeAudioFactory* recorder = sources_.recorder ? sources_.recorder() : nullptr;
  if (recorder && recorder->isRecording) {
    status.recording = true;
    status.paused = recorder->isPaused;
    status.microphone = recorder->isMicRecordingEnabled;
    status.folder = recorder->recorderPath;
    status.wavPath = recorder->wavFilePath;
    status.opusPath = recorder->opusFilePath;
  }
  const Clock::time_point now = sources_.now();
  trackRecording(status.recording, status.paused, now);
  if (recordingSince_) {
    Clock::duration paused = pausedTotal_;
    if (pausedSince_) paused += now - *pausedSince_;
    status.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *recordingSince_ - paused);
  }

  SourceLevels& levels = sourceLevels();
  microphoneLevel_ = nextLevel(levels.microphone, status.recording ? microphoneLevel_ : 0.0f);
  systemAudioLevel_ = nextLevel(levels.systemAudio, status.recording ? systemAudioLevel_ : 0.0f);
  if (status.recording) {
    status.microphoneLevel = status.microphone ? microphoneLevel_ : 0.0f;
    status.systemAudioLevel = systemAudioLevel_;
  }

  const UsbFactory* usb = sources_.usb ? sources_.usb() : nullptr;
  const std::vector<std::string> open = usb ? usb->openPaths() : std::vector<std::string>{};
  for (const auto& [path, identifiers] : ports_->present) {
    const bool isOpen = std::find(open.begin(), open.end(), path) != open.end();
    status.ports.push_back(SerialPortStatus{path, identifiers, isOpen});
  }
  // A port opened by a path no registry lists (a pseudo-terminal) is still
  // one the host holds.
  for (const std::string& path : open) {
    if (!ports_->present.contains(path)) status.ports.push_back(SerialPortStatus{path, std::nullopt, true});
  }

  status.logEnabled = Logger::shared().logEnabled();
  status.logFolder = Logger::shared().logDirectory();
  return status;
}

}  // namespace quillon
