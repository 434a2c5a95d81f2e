#include "recording/native_audio_factory.h"

#include <thread>

#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "native_audio_factory";
constexpr const char* kRecorderTag = "recorder";

const char* text(bool value) { return value ? "true" : "false"; }

std::optional<std::string> folderOrNone(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  return folder;
}

}  // namespace

NativeAudioFactory::NativeAudioFactory(std::string blackHolePath, bool reserveStageAudio, Dependencies dependencies)
    : blackHolePath(std::move(blackHolePath)),
      reserveStageAudio(reserveStageAudio),
      dependencies_(std::move(dependencies)) {
  Logger::shared().info(kTag, "init. reserveStageAudio: %s", text(reserveStageAudio));
  ensureDriverInstalled();
}

NativeAudioFactory::~NativeAudioFactory() {
  if (!hasRecording()) return;
  // Left running, the system output would stay on the loopback device and the
  // WAV header would never get its sizes.
  Logger::shared().info(kTag, "released while recording: stopping the recording first");
  finishRecording();
}

void NativeAudioFactory::ensureDriverInstalled() {
  if (dependencies_.isBlackHoleInstalled && dependencies_.isBlackHoleInstalled()) {
    Logger::shared().infoWithTag(kRecorderTag, "BlackHole已安装, 跳过后续安装");
    return;
  }
  const int status = dependencies_.checkAndInstallDriver ? dependencies_.checkAndInstallDriver(blackHolePath) : -1;
  if (status != 0) Logger::shared().info(kRecorderTag, "BlackHole安装失败: %d", status);
}

bool NativeAudioFactory::startRecorder(bool recorderMic, const std::string& recorderPath,
                                       const std::string& wavFilePath, const std::string& opusFilePath) {
  Logger::shared().info(kTag, "startRecorder... recorderMic: %s, recorderPath: %s, wavFilePath: %s", text(recorderMic),
                        recorderPath.c_str(), wavFilePath.c_str());
  if (hasRecording()) {
    // Dropping a running recording would leave the system output on the
    // loopback device and the replaced files without their headers.
    Logger::shared().info(kTag, "startRecorder: stopping the running recording first");
    finishRecording();
  }
  this->wavFilePath = wavFilePath;
  this->opusFilePath = opusFilePath;
  this->recorderPath = recorderPath;
  isMicRecordingEnabled = recorderMic;

  const CaptureMakers& makers = dependencies_.captureMakers;
  micCapture = makers.makeMicCapture ? makers.makeMicCapture() : nullptr;
  speakerCapture = makers.makeSpeakerCapture ? makers.makeSpeakerCapture(blackHolePath) : nullptr;
  if (!micCapture || !speakerCapture) {
    Logger::shared().error(kTag, "startRecorder: no %s capture available", micCapture ? "system-audio" : "microphone");
    isRecording = false;
    return false;
  }
  audioFactory = AudioFactory::create(wavFilePath, opusFilePath, recorderMic, *micCapture, *speakerCapture);
  // The recording's time starts now: the reply to the engine follows the
  // start, and the file's length is measured from here to the stop.
  clock = std::make_shared<RecordingClock>();
  micCapture->setRecordingClock(clock);
  speakerCapture->setRecordingClock(clock);
  // Everything past the streams' callbacks runs here, never on an audio thread.
  worker = std::make_shared<RecordingWorker>();
  micCapture->setRecordingWorker(worker);
  speakerCapture->setRecordingWorker(worker);

  bool micStarted = false;
  bool speakerStarted = false;
  const std::optional<std::string> folder = recorderPath;
  {
    // Each task writes only its own flag; both are read after the joins.
    std::jthread micTask([&] {
      micStarted = micCapture->startCapture(reserveStageAudio, folder);
      if (!recorderMic) micCapture->pause();
    });
    std::jthread speakerTask([&] { speakerStarted = speakerCapture->startCapture(reserveStageAudio, folder); });
  }
  isRecording = recorderMic ? (micStarted && speakerStarted) : speakerStarted;

  if (audioFactory) {
    if (pcmCallback) audioFactory->setPcmCallback(pcmCallback);
    if (opusCallback) audioFactory->setOpusCallback(opusCallback);
  }
  return isRecording;
}

bool NativeAudioFactory::switchMicRecorder(bool recorderMic) {
  Logger::shared().info(kTag, "switchMicRecorder: %s", text(recorderMic));
  isMicRecordingEnabled = recorderMic;
  if (audioFactory) audioFactory->switchMicEnable(recorderMic);
  if (!micCapture) return true;
  if (!recorderMic) {
    micCapture->pause();
  } else if (!micCapture->isRunning()) {
    micCapture->startCapture(reserveStageAudio, folderOrNone(recorderPath));
  } else {
    micCapture->resume();
  }
  return true;
}

bool NativeAudioFactory::pauseRecorder() {
  if (clock) clock->pause();
  if (micCapture) micCapture->pause();
  if (speakerCapture) speakerCapture->pause();
  isPaused = true;
  return true;
}

bool NativeAudioFactory::resumeRecorder() {
  if (micCapture) micCapture->resume();
  if (speakerCapture) speakerCapture->resume();
  if (clock) clock->resume();
  isPaused = false;
  return true;
}

CloseSummary NativeAudioFactory::stopRecorder() {
  Logger::shared().infoWithTag(kTag, "stopRecorder...");
  return finishRecording();
}

CloseSummary NativeAudioFactory::finishRecording() {
  // The captures stop first, handing on what the worker still holds, so that
  // no block arrives while the factory closes.
  if (micCapture) micCapture->stopCapture();
  if (speakerCapture) speakerCapture->stopCapture();
  CloseSummary result;  // "success" -1, "duration" 0, "size" 0
  if (audioFactory) result = audioFactory->close();
  clock.reset();
  micCapture.reset();
  speakerCapture.reset();
  worker.reset();
  audioFactory.reset();
  isRecording = false;
  isPaused = false;
  return result;
}

}  // namespace quillon
