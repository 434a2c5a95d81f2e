#pragma once

#include <memory>

#include "platform/main_thread.h"
#include "recording/recording_capture.h"

namespace quillon {

// The captures a real recording uses: the microphone and the system audio.
// Output-device changes during a recording are handled on `mainThread`; null:
// not followed.
CaptureMakers productionCaptureMakers(std::shared_ptr<MainThread> mainThread = nullptr);

}  // namespace quillon
