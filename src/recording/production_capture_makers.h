#pragma once

#include "recording/recording_capture.h"

namespace quillon {

// The captures a real recording uses: the microphone and the system audio.
CaptureMakers productionCaptureMakers();

}  // namespace quillon
