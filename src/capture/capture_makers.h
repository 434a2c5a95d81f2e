#pragma once

#include <memory>

#include "platform/audio_server.h"
#include "platform/main_thread.h"
#include "recording/recording_capture.h"

namespace quillon {

// The real microphone and system-audio captures, for the recording facade.
// Output-device changes during a capture are reported on `mainThread` (null:
// not reported). Both record through `server`.
CaptureMakers realCaptureMakers(std::shared_ptr<AudioServer> server, std::shared_ptr<MainThread> mainThread);

}  // namespace quillon
