#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class AudioUtil {
 public:
  // Playing time of an audio file that libsndfile can read (WAV, FLAC, Ogg,
  // ...), in milliseconds truncated toward zero; -1 when the file is missing
  // or unreadable. The outcome goes to the system log.
  static int64_t getWavDuration(const std::string& path);
};

}  // namespace quillon
