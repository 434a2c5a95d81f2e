#include "platform/pulse/pulse_format.h"

#include <cmath>

namespace quillon {

std::optional<AudioStreamBasicDescription> formatFromSampleSpec(const pa_sample_spec& spec) {
  if (!pa_sample_spec_valid(&spec)) return std::nullopt;
  AudioStreamBasicDescription f;
  f.mSampleRate = spec.rate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFramesPerPacket = 1;
  f.mChannelsPerFrame = spec.channels;
  f.mBytesPerFrame = static_cast<uint32_t>(pa_frame_size(&spec));
  f.mBytesPerPacket = f.mBytesPerFrame;
  switch (spec.format) {
    case PA_SAMPLE_U8:
      f.mFormatFlags = kAudioFormatFlagIsPacked;
      f.mBitsPerChannel = 8;
      break;
    case PA_SAMPLE_S16LE:
      f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
      f.mBitsPerChannel = 16;
      break;
    case PA_SAMPLE_S24LE:
      f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
      f.mBitsPerChannel = 24;
      break;
    case PA_SAMPLE_S24_32LE:
      // 24 significant bits in a 32-bit slot: not packed.
      f.mFormatFlags = kAudioFormatFlagIsSignedInteger;
      f.mBitsPerChannel = 24;
      break;
    case PA_SAMPLE_S32LE:
      f.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
      f.mBitsPerChannel = 32;
      break;
    case PA_SAMPLE_FLOAT32LE:
      f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
      f.mBitsPerChannel = 32;
      break;
    default:
      // Big-endian layouts and companded formats never reach the host's code.
      return std::nullopt;
  }
  return f;
}

std::optional<pa_sample_spec> sampleSpecFromFormat(const AudioStreamBasicDescription& format) {
  if (format.mFormatID != kAudioFormatLinearPCM) return std::nullopt;
  if (!(format.mSampleRate >= 1.0) || format.mSampleRate > PA_RATE_MAX) return std::nullopt;
  pa_sample_spec spec;
  spec.rate = static_cast<uint32_t>(std::lround(format.mSampleRate));
  spec.channels = static_cast<uint8_t>(format.mChannelsPerFrame);
  if (format.mChannelsPerFrame == 0 || format.mChannelsPerFrame > PA_CHANNELS_MAX) {
    return std::nullopt;
  }
  const bool isFloat = format.mFormatFlags & kAudioFormatFlagIsFloat;
  const bool isSigned = format.mFormatFlags & kAudioFormatFlagIsSignedInteger;
  const uint32_t slotBytes = format.mBytesPerFrame / format.mChannelsPerFrame;
  if (isFloat && format.mBitsPerChannel == 32) {
    spec.format = PA_SAMPLE_FLOAT32LE;
  } else if (isFloat) {
    return std::nullopt;
  } else if (isSigned && format.mBitsPerChannel == 16) {
    spec.format = PA_SAMPLE_S16LE;
  } else if (isSigned && format.mBitsPerChannel == 24) {
    spec.format = slotBytes == 4 ? PA_SAMPLE_S24_32LE : PA_SAMPLE_S24LE;
  } else if (isSigned && format.mBitsPerChannel == 32) {
    spec.format = PA_SAMPLE_S32LE;
  } else if (!isSigned && format.mBitsPerChannel == 8) {
    spec.format = PA_SAMPLE_U8;
  } else {
    return std::nullopt;
  }
  if (format.mBytesPerFrame != pa_frame_size(&spec)) return std::nullopt;
  return spec;
}

}  // namespace quillon
