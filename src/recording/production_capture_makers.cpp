#include "recording/production_capture_makers.h"

#include "capture/mic_capture.h"
#include "capture/speaker_capture.h"

namespace quillon {

CaptureMakers productionCaptureMakers(std::shared_ptr<MainThread> mainThread) {
  return {[] { return std::make_shared<MicCapture>(); },
          [mainThread](const std::string& blackHoleDriverPath) {
            SpeakerCapture::Options options;
            options.mainThread = mainThread;
            return SpeakerCapture::create(blackHoleDriverPath, options);
          }};
}

}  // namespace quillon
