#pragma once

#include <memory>

#include "platform/audio_server.h"
#include "platform/microphone_permission.h"

namespace quillon {

class DeviceUtil {
 public:
  // True when the user permits microphone use and a real input device with at
  // least one channel exists. Blocks while a first-time permission prompt is open.
  static bool microphoneIsActive(AudioServer& server);

  // The permission source; the default always answers authorized (Linux has
  // no per-application prompt). Null restores the default.
  static void setPermissionProvider(std::shared_ptr<MicrophonePermission> provider);
  static std::shared_ptr<MicrophonePermission> permissionProvider();
};

}  // namespace quillon
