#pragma once

#include <memory>
#include <string>

#include "platform/audio_server.h"
#include "platform/main_thread.h"
#include "recording/native_audio_factory.h"

namespace quillon {

// The host's one connection to the sound server, for every device and capture
// operation. A host that died mid-recording left the system output on the
// loopback device, so nothing would be heard; that is mended here, before any
// channel can record.
std::shared_ptr<AudioServer> connectRecordingAudio();

// The recording facade of an audio "init" in the running host: the real
// microphone and system-audio captures and the real loopback driver check and
// installer, all on `server`. Output-device changes during a recording are
// handled on `mainThread`, which must outlive the facade.
std::unique_ptr<NativeAudioFactory> makeNativeAudioFactory(const std::string& blackHolePath, bool reserveStageAudio,
                                                           std::shared_ptr<AudioServer> server,
                                                           MainThread& mainThread);

}  // namespace quillon
