#pragma once

#include <string>
#include <vector>

#include "fakes/fake_recording_capture.h"
#include "recording/byte_buffer.h"
#include "recording/native_audio_factory.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace quillon::test {

// Fake captures plus a driver check whose answers the test sets.
struct FacadeWorld {
  FakeCaptureMakers captures;
  bool driverInstalled = true;
  int installStatus = 0;
  std::vector<std::string> installCalls;

  NativeAudioFactory::Dependencies dependencies() {
    return {captures.makers(), [this] { return driverInstalled; },
            [this](const std::string& path) {
              installCalls.push_back(path);
              return installStatus;
            }};
  }
};

// One 40 ms block (640 float samples) of a constant level.
inline std::vector<float> constantBlock(float level) { return std::vector<float>(640, level); }

}  // namespace quillon::test
