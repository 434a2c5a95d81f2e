#pragma once

#include <cstdint>

namespace quillon {

// 32-bit device identifier; 0 means "no device".
using AudioDeviceId = uint32_t;
inline constexpr AudioDeviceId kNoAudioDevice = 0;

// Layout of one PCM stream, in the shape the capture code and the stage files
// already speak: a rate, then eight 32-bit fields.
struct AudioStreamBasicDescription {
  double mSampleRate = 0.0;
  uint32_t mFormatID = 0;
  uint32_t mFormatFlags = 0;
  uint32_t mBytesPerPacket = 0;
  uint32_t mFramesPerPacket = 0;
  uint32_t mBytesPerFrame = 0;
  uint32_t mChannelsPerFrame = 0;
  uint32_t mBitsPerChannel = 0;
  uint32_t mReserved = 0;
};

inline constexpr uint32_t kAudioFormatLinearPCM = 0x6C70636D;  // 'lpcm'
inline constexpr uint32_t kAudioFormatFlagIsFloat = 0x1;
inline constexpr uint32_t kAudioFormatFlagIsSignedInteger = 0x4;
inline constexpr uint32_t kAudioFormatFlagIsPacked = 0x8;

// Interleaved packed linear PCM; `isFloat` selects 32-bit float samples.
inline AudioStreamBasicDescription makeLinearPcmFormat(double rate, uint32_t channels,
                                                       uint32_t bits, bool isFloat) {
  AudioStreamBasicDescription f;
  f.mSampleRate = rate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = (isFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
                   kAudioFormatFlagIsPacked;
  f.mBytesPerFrame = bits / 8 * channels;
  f.mBytesPerPacket = f.mBytesPerFrame;
  f.mFramesPerPacket = 1;
  f.mChannelsPerFrame = channels;
  f.mBitsPerChannel = bits;
  return f;
}

}  // namespace quillon
