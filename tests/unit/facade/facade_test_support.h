#pragma once

#include <string>
#include <vector>

#include "fakes/fake_recording_capture.h"
#include "recording/byte_buffer.h"
#include "recording/native_audio_factory.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace quillon::test {

// Fake captures; the loopback driver counts as installed.
struct FacadeWorld {
  FakeCaptureMakers captures;

  NativeAudioFactory::Dependencies dependencies() {
    return {captures.makers(), [] { return true; }, [](const std::string&) { return 0; }};
  }
};

// One 40 ms block (640 float samples) of a constant level.
inline std::vector<float> constantBlock(float level) { return std::vector<float>(640, level); }

}  // namespace quillon::test
