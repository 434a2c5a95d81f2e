#pragma once

#include <memory>
#include <string>

#include "platform/audio_server.h"
#include "platform/pulse/pulse_context.h"

namespace quillon {

// A record stream on the named source, delivering periods of about `periodBytes`.
std::unique_ptr<AudioStream> openPulseRecordStream(std::shared_ptr<PulseContext> context,
                                                   const std::string& source,
                                                   const AudioStreamBasicDescription& format,
                                                   size_t periodBytes, AudioInputHandler handler,
                                                   AudioStatus& status);

// A playback stream on the named sink that pulls at most `maxPullBytes` a call.
std::unique_ptr<AudioStream> openPulsePlaybackStream(std::shared_ptr<PulseContext> context,
                                                     const std::string& sink,
                                                     const AudioStreamBasicDescription& format,
                                                     size_t maxPullBytes, AudioPullHandler pull,
                                                     AudioStatus& status);

}  // namespace quillon
