#include <gtest/gtest.h>

#include "platform/pulse/pulse_format.h"

namespace quillon {
namespace {

// A device's format handed back as a stream format must open the stream in
// exactly the device's sample format (the microphone records that way).
TEST(PulseFormat, EveryLinearSampleFormatSurvivesTheRoundTrip) {
  for (pa_sample_format_t f : {PA_SAMPLE_U8, PA_SAMPLE_S16LE, PA_SAMPLE_S24LE, PA_SAMPLE_S24_32LE,
                               PA_SAMPLE_S32LE, PA_SAMPLE_FLOAT32LE}) {
    pa_sample_spec spec{f, 48000, 2};
    auto format = formatFromSampleSpec(spec);
    ASSERT_TRUE(format) << pa_sample_format_to_string(f);
    EXPECT_EQ(format->mBytesPerFrame, pa_frame_size(&spec));
    auto back = sampleSpecFromFormat(*format);
    ASSERT_TRUE(back) << pa_sample_format_to_string(f);
    EXPECT_TRUE(pa_sample_spec_equal(&spec, &*back)) << pa_sample_format_to_string(f);
  }
  EXPECT_FALSE(formatFromSampleSpec({PA_SAMPLE_ALAW, 8000, 1}));
}

}  // namespace
}  // namespace quillon
