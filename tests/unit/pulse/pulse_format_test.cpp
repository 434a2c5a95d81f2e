#include <gtest/gtest.h>

#include "platform/pulse/pulse_format.h"

namespace quillon {
namespace {

// The microphone takes its rate and channels from the device's format, so
// every linear format a device may have must be understood; handed back, it
// must name exactly the device's sample format (frame size included).
TEST(PulseFormat, EveryLinearSampleFormatSurvivesTheRoundTrip) {
  for (pa_sample_format_t f : {PA_SAMPLE_U8, PA_SAMPLE_S16LE, PA_SAMPLE_S24LE, PA_SAMPLE_S24_32LE,
                               PA_SAMPLE_S32LE, PA_SAMPLE_FLOAT32LE}) {
    pa_sample_spec spec{f, 48000, 2};
    auto format = formatFromSampleSpec(spec);
    ASSERT_TRUE(format) << pa_sample_format_to_string(f);
    auto back = sampleSpecFromFormat(*format);
    EXPECT_TRUE(back && pa_sample_spec_equal(&spec, &*back)) << pa_sample_format_to_string(f);
  }
}

}  // namespace
}  // namespace quillon
