#pragma once

namespace quillon {

// Microphone permission states, numbered as the engine-side code expects.
enum class MicrophonePermissionState { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

class MicrophonePermission {
 public:
  virtual ~MicrophonePermission() = default;
  virtual MicrophonePermissionState state() = 0;
  // Blocks until the user answers; true when granted.
  virtual bool requestAccess() = 0;
};

// Linux has no per-application microphone prompt: access is always granted.
class AlwaysAuthorizedMicrophonePermission final : public MicrophonePermission {
 public:
  MicrophonePermissionState state() override { return MicrophonePermissionState::authorized; }
  bool requestAccess() override { return true; }
};

}  // namespace quillon
