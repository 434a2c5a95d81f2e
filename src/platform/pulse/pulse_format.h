#pragma once

#include <pulse/sample.h>

#include <optional>

#include "platform/audio_stream_format.h"

namespace quillon {

// The server's sample spec described as a stream format; nullopt for encodings
// that are not linear PCM (a-law, mu-law).
std::optional<AudioStreamBasicDescription> formatFromSampleSpec(const pa_sample_spec& spec);
// The sample spec a stream in `format` is opened with; nullopt when the server
// has no matching sample format.
std::optional<pa_sample_spec> sampleSpecFromFormat(const AudioStreamBasicDescription& format);

}  // namespace quillon
