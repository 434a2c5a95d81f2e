#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct sbc_struct;

namespace quillon {

// Encodes float samples (16 kHz mono, nominal range -1..1) to SBC and appends
// the frames to a raw SBC file: 16 blocks, 8 subbands, mono, loudness
// allocation, bitpool 32, so every 128 samples become one 72-byte frame. The
// file is the frames one after another, nothing else.
//
// Samples short of a whole frame at the end of a call are dropped, not kept
// for the next call. Diagnostics go to the system log. Not locked.
class SbcUtil {
 public:
  static constexpr size_t kOutputBytes = 512;

  SbcUtil();
  ~SbcUtil();
  SbcUtil(const SbcUtil&) = delete;
  SbcUtil& operator=(const SbcUtil&) = delete;

  // Truncates or creates the file; false when the path is empty, its folder
  // is not writable or the file cannot be opened.
  bool openWithPath(const std::string& path);
  void writeSamples(std::span<const float> samples);
  void close();

 private:
  std::unique_ptr<sbc_struct> _sbc;
  std::vector<uint8_t> _buffer;
  std::ofstream _file;
  bool _opened = false;
};

}  // namespace quillon
