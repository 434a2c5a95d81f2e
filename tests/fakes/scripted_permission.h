#pragma once

#include "platform/microphone_permission.h"

namespace quillon::test {

// A permission in a state of the test's choosing that counts the requests and
// answers them with `grant`.
class ScriptedPermission final : public MicrophonePermission {
 public:
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
