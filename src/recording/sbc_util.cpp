#include "recording/sbc_util.h"

#include <sbc/sbc.h>
#include <unistd.h>

#include <algorithm>

#include "recording/pcm16.h"
#include "platform/system_log.h"

namespace quillon {

SbcUtil::SbcUtil() : _sbc(std::make_unique<sbc_struct>()), _buffer(kOutputBytes) {
  sbc_init(_sbc.get(), 0);
  _sbc->frequency = SBC_FREQ_16000;
  _sbc->blocks = SBC_BLK_16;
  _sbc->subbands = SBC_SB_8;
  _sbc->mode = SBC_MODE_MONO;
  _sbc->allocation = SBC_AM_LOUDNESS;
  _sbc->bitpool = 32;
}

SbcUtil::~SbcUtil() {
  close();
  sbc_finish(_sbc.get());
}

bool SbcUtil::openWithPath(const std::string& path) {
  if (path.empty()) return false;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, std::max<size_t>(slash, 1));
  if (access(folder.c_str(), W_OK) != 0) {
    systemLog("[SbcUtil] Cannot write to path: %s", path.c_str());
    return false;
  }
  if (_file.is_open()) _file.close();
  _file.clear();
  _file.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
  _opened = _file.is_open();
  if (!_opened) {
    systemLog("[SbcUtil] Failed to open file: %s", path.c_str());
    return false;
  }
  return true;
}

void SbcUtil::writeSamples(std::span<const float> samples) {
  if (!_opened || samples.empty()) return;
  std::vector<int16_t> pcm(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) pcm[i] = floatToPcm16(samples[i]);
  const auto* input = reinterpret_cast<const uint8_t*>(pcm.data());
  const size_t total = pcm.size() * sizeof(int16_t);
  const size_t codeSize = sbc_get_codesize(_sbc.get());
  size_t offset = 0;
  while (offset < total) {
    ssize_t written = 0;
    const ssize_t used = sbc_encode(_sbc.get(), input + offset, total - offset, _buffer.data(), _buffer.size(),
                                    &written);
    if (used < 1) break;
    _file.write(reinterpret_cast<const char*>(_buffer.data()), written);
    offset += codeSize;
  }
}

void SbcUtil::close() {
  if (_file.is_open()) _file.close();
  _opened = false;
}

}  // namespace quillon
