#include "recording/audio_util.h"

#include <sndfile.h>

#include <filesystem>

#include "platform/system_log.h"

namespace quillon {

int64_t AudioUtil::getWavDuration(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) {
    systemLog("[AudioUtil] File not found at path: %s", path.c_str());
    return -1;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr || info.samplerate <= 0 || info.frames < 0) {
    if (file != nullptr) sf_close(file);
    systemLog("[AudioUtil] Failed to get duration for: %s", path.c_str());
    return -1;
  }
  sf_close(file);
  const int64_t millis = static_cast<int64_t>(info.frames) * 1000 / info.samplerate;
  systemLog("[AudioUtil] Duration for %s: %lld ms", path.c_str(), static_cast<long long>(millis));
  return millis;
}

}  // namespace quillon
