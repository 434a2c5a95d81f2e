#include "capture/capture_makers.h"

#include "capture/mic_capture.h"
#include "capture/speaker_capture.h"

namespace quillon {

CaptureMakers realCaptureMakers(std::shared_ptr<MainThread> mainThread) {
  CaptureMakers makers;
  makers.makeMicCapture = [] { return std::make_shared<MicCapture>(); };
  makers.makeSpeakerCapture = [mainThread](const std::string& blackHoleDriverPath) {
    return SpeakerCapture::create(blackHoleDriverPath, {.mainThread = mainThread, .stateFolder = {}});
  };
  return makers;
}

}  // namespace quillon
