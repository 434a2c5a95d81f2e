#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/microphone_permission.h"
#include "recording/recording_capture.h"
#include "support/test_support.h"

namespace quillon::test {

// Keeps every float sample a capture delivers; without a recording worker
// the capture delivers on the thread that pushes its periods.
inline SampleCallback collectInto(std::vector<float>& samples) {
  return [&samples](std::span<const float> block) { samples.insert(samples.end(), block.begin(), block.end()); };
}

// The data length a WAV file's header declares.
inline uint32_t wavDataLength(const std::string& path) {
  const std::string file = readFile(path);
  uint32_t value = 0;
  if (file.size() >= 44) std::memcpy(&value, file.data() + 40, 4);
  return value;
}

// A permission in a state of the test's choosing that counts the requests and
// answers them with `grant`.
struct ScriptedPermission final : MicrophonePermission {
  ScriptedPermission(MicrophonePermissionState state, bool grant) : current(state), grant(grant) {}
  MicrophonePermissionState state() override { return current; }
  bool requestAccess() override {
    ++requests;
    return grant;
  }
  MicrophonePermissionState current;
  bool grant;
  int requests = 0;
};

}  // namespace quillon::test
