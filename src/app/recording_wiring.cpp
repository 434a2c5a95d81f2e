#include "app/recording_wiring.h"

#include <cstdio>

#include "capture/black_hole_util.h"
#include "capture/mic_capture.h"
#include "capture/speaker_capture.h"
#include "platform/pulse/pulse_audio_server.h"
#include "platform/pulse/pulse_context.h"

namespace quillon {

std::shared_ptr<AudioServer> connectRecordingAudio() {
  auto server = std::make_shared<PulseAudioServer>(PulseContext::create());
  if (SpeakerCapture::restoreOutputLeftOnLoopback(*server)) {
    std::fprintf(stderr, "quillon-host: system output put back from the loopback device\n");
  }
  return server;
}

std::unique_ptr<NativeAudioFactory> makeNativeAudioFactory(const std::string& blackHolePath, bool reserveStageAudio,
                                                           std::shared_ptr<AudioServer> server,
                                                           MainThread& mainThread) {
  // Not owned: the caller keeps the main thread alive longer than every capture.
  std::shared_ptr<MainThread> followChanges(std::shared_ptr<void>(), &mainThread);
  NativeAudioFactory::Dependencies dependencies;
  dependencies.captureMakers.makeMicCapture = [server] { return std::make_shared<MicCapture>(server); };
  dependencies.captureMakers.makeSpeakerCapture = [server, followChanges](const std::string& blackHoleDriverPath) {
    return SpeakerCapture::create(blackHoleDriverPath,
                                  {.server = server, .mainThread = followChanges, .stateFolder = {}});
  };
  dependencies.isBlackHoleInstalled = [server] { return BlackHoleUtil::isBlackHoleInstalled(*server); };
  dependencies.checkAndInstallDriver = [server](const std::string& path) {
    return BlackHoleUtil::checkAndInstallDriver(server, path);
  };
  return std::make_unique<NativeAudioFactory>(blackHolePath, reserveStageAudio, std::move(dependencies));
}

}  // namespace quillon
