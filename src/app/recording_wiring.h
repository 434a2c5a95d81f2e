#pragma once

#include <memory>
#include <string>

#include "platform/main_thread.h"
#include "recording/native_audio_factory.h"

namespace quillon {

// The recording facade of an audio "init" in the running host: the real
// microphone and system-audio captures and the real loopback driver check and
// installer. Output-device changes during a recording are handled on
// `mainThread`, which must outlive the facade.
std::unique_ptr<NativeAudioFactory> makeNativeAudioFactory(const std::string& blackHolePath, bool reserveStageAudio,
                                                           MainThread& mainThread);

}  // namespace quillon
