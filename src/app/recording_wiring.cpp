#include "app/recording_wiring.h"

#include "capture/black_hole_util.h"
#include "capture/mic_capture.h"
#include "capture/speaker_capture.h"

namespace quillon {

std::unique_ptr<NativeAudioFactory> makeNativeAudioFactory(const std::string& blackHolePath, bool reserveStageAudio,
                                                           MainThread& mainThread) {
  // Not owned: the caller keeps the main thread alive longer than every capture.
  std::shared_ptr<MainThread> followChanges(std::shared_ptr<void>(), &mainThread);
  NativeAudioFactory::Dependencies dependencies;
  dependencies.captureMakers.makeMicCapture = [] { return std::make_shared<MicCapture>(); };
  dependencies.captureMakers.makeSpeakerCapture = [followChanges](const std::string& blackHoleDriverPath) {
    return SpeakerCapture::create(blackHoleDriverPath, {.mainThread = followChanges, .stateFolder = {}});
  };
  dependencies.isBlackHoleInstalled = [] { return BlackHoleUtil::isBlackHoleInstalled(); };
  dependencies.checkAndInstallDriver = [](const std::string& path) { return BlackHoleUtil::checkAndInstallDriver(path); };
  return std::make_unique<NativeAudioFactory>(blackHolePath, reserveStageAudio, std::move(dependencies));
}

}  // namespace quillon
