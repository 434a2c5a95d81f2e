#include "capture/capture_makers.h"

#include "capture/mic_capture.h"
#include "capture/speaker_capture.h"

namespace quillon {

CaptureMakers realCaptureMakers(std::shared_ptr<AudioServer> server, std::shared_ptr<MainThread> mainThread) {
  CaptureMakers makers;
  makers.makeMicCapture = [server] { return std::make_shared<MicCapture>(server); };
  makers.makeSpeakerCapture = [server, mainThread](const std::string& blackHoleDriverPath) {
    return SpeakerCapture::create(blackHoleDriverPath, {.server = server, .mainThread = mainThread, .stateFolder = {}});
  };
  return makers;
}

}  // namespace quillon
