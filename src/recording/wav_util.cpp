#include "recording/wav_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {

constexpr const char* kTag = "WavUtil";

void putU32(std::FILE* f, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  std::fwrite(b, 1, 4, f);
}

void patchU32(int fd, off_t offset, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  if (::pwrite(fd, b, 4, offset) != 4) {
    Logger::shared().error(kTag, "Failed to patch WAV header: %s", std::strerror(errno));
  }
}

void putU16(std::FILE* f, uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  std::fwrite(b, 1, 2, f);
}

}  // namespace

uint32_t WavUtil::maxDataLength(int32_t channels) {
  const uint32_t frameBytes = 2u * static_cast<uint32_t>(std::max(channels, 1));
  const uint32_t room = UINT32_MAX - 36u;
  return room / frameBytes * frameBytes;
}

WavUtil::WavUtil(const std::string& path, int32_t sampleRate, int32_t channels, int32_t bitsPerSample,
                 uint32_t dataLimit)
    : _sampleRate(sampleRate),
      _channels(channels),
      _bitsPerSample(bitsPerSample),
      _path(path),
      _dataLimit(dataLimit == 0 ? maxDataLength(channels) : std::min(dataLimit, maxDataLength(channels))) {
  _file = std::fopen(path.c_str(), "wb+");
  if (_file == nullptr) {
    Logger::shared().error(kTag, "Failed to create WAV file: %s", path.c_str());
    return;
  }
  writeWavHeader();
  Logger::shared().info(kTag, "WAV file created: %s", path.c_str());
}

WavUtil::~WavUtil() {
  // A writer dropped without close() still leaves a complete header.
  if (_file != nullptr) {
    updateWavHeader();
    std::fclose(_file);
  }
}

uint32_t WavUtil::byteRate() const {
  return static_cast<uint32_t>(_sampleRate) * static_cast<uint32_t>(_channels) *
         static_cast<uint32_t>(_bitsPerSample / 8);
}

void WavUtil::writeWavHeader() {
  if (_file == nullptr) return;
  const uint16_t blockAlign = static_cast<uint16_t>(_channels * (_bitsPerSample / 8));
  std::fwrite("RIFF", 1, 4, _file);
  putU32(_file, 36);
  std::fwrite("WAVE", 1, 4, _file);
  std::fwrite("fmt ", 1, 4, _file);
  putU32(_file, 16);
  putU16(_file, _bitsPerSample == 32 ? 3 : 1);
  putU16(_file, static_cast<uint16_t>(_channels));
  putU32(_file, static_cast<uint32_t>(_sampleRate));
  putU32(_file, static_cast<uint32_t>(_sampleRate) * blockAlign);
  putU16(_file, blockAlign);
  putU16(_file, static_cast<uint16_t>(_bitsPerSample));
  std::fwrite("data", 1, 4, _file);
  putU32(_file, 0);
  std::fflush(_file);
}

bool WavUtil::updateWavHeader() {
  if (_file == nullptr) return true;
  const long end = std::ftell(_file);
  std::fseek(_file, 4, SEEK_SET);
  putU32(_file, _dataLength + 36);
  std::fseek(_file, 40, SEEK_SET);
  putU32(_file, _dataLength);
  std::fseek(_file, std::max(end, 44L), SEEK_SET);
  const bool flushed = std::fflush(_file) == 0 && !std::ferror(_file);
  _bytesSinceHeaderUpdate = 0;
  return flushed;
}

void WavUtil::abandonAfterWriteFailure(int error) {
  _writeFailed = true;
  Logger::shared().error(kTag, "Failed to write WAV file (%s), later samples are dropped: %s",
                         std::strerror(error), _path.c_str());
  // Samples still in the stream's buffer may or may not reach the disk when it
  // closes; only what the file holds afterwards counts.
  const int fd = ::dup(::fileno(_file));
  std::fclose(_file);
  _file = nullptr;
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size >= 44) {
    const uint32_t frameBytes = 2u * static_cast<uint32_t>(std::max(_channels, 1));
    const uint64_t onDisk = static_cast<uint64_t>(info.st_size) - 44u;
    _dataLength = static_cast<uint32_t>(std::min<uint64_t>(_dataLength, onDisk / frameBytes * frameBytes));
    // Shrinking and rewriting in place need no room the disk lacks.
    if (::ftruncate(fd, static_cast<off_t>(44u + _dataLength)) != 0) {
      Logger::shared().error(kTag, "Failed to cut WAV file back: %s", std::strerror(errno));
    }
    patchU32(fd, 4, _dataLength + 36);
    patchU32(fd, 40, _dataLength);
  } else {
    _dataLength = 0;
  }
  ::close(fd);
}

CloseSummary WavUtil::summaryOf(int32_t success, uint64_t fileSize) const {
  const uint32_t b = byteRate();
  const uint32_t duration = (b == 0 || _dataLength == 0) ? 0 : _dataLength / b * 1000;
  return CloseSummary{success, static_cast<int32_t>(duration), static_cast<int32_t>(fileSize)};
}

void WavUtil::writeSamples(const int16_t* samples, uint64_t count) {
  if (samples == nullptr || count == 0 || _file == nullptr || _full) return;
  uint64_t bytes = count * 2;
  if (bytes > _dataLimit - _dataLength) {
    const uint32_t frameBytes = 2u * static_cast<uint32_t>(std::max(_channels, 1));
    bytes = (_dataLimit - _dataLength) / frameBytes * frameBytes;
    _full = true;
    Logger::shared().error(kTag, "WAV file full at %u bytes of samples, later samples are dropped: %s",
                           static_cast<unsigned>(_dataLength + bytes), _path.c_str());
  }
  if (bytes > 0) {
    const size_t written = std::fwrite(samples, 1, static_cast<size_t>(bytes), _file);
    _dataLength += static_cast<uint32_t>(written);
    _bytesSinceHeaderUpdate += static_cast<uint32_t>(written);
    if (written != bytes || std::ferror(_file)) {
      abandonAfterWriteFailure(errno);
      return;
    }
  }
  const uint32_t rate = byteRate();
  if ((_full || (rate > 0 && _bytesSinceHeaderUpdate >= rate)) && !updateWavHeader()) {
    abandonAfterWriteFailure(errno);
  }
}

CloseSummary WavUtil::close() {
  if (_file == nullptr && !_writeFailed) return CloseSummary{-1, 0, 0};
  if (_file != nullptr && !updateWavHeader()) abandonAfterWriteFailure(errno);
  if (_writeFailed) {
    // Not a success, but the file is valid and the engine may still offer it:
    // the figures describe what it holds.
    _writeFailed = false;  // a second close answers the no-file summary
    struct stat info {};
    const uint64_t size = ::stat(_path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    Logger::shared().info(kTag, "Closing WAV file after a write failure, total bytes=%u", _dataLength);
    return summaryOf(-1, size);
  }
  std::fseek(_file, 0, SEEK_END);
  const long size = std::ftell(_file);
  const CloseSummary summary = summaryOf(0, static_cast<uint64_t>(std::max(size, 0L)));
  std::fclose(_file);
  _file = nullptr;
  Logger::shared().info(kTag, "Closing WAV file, total bytes=%u", _dataLength);
  return summary;
}

}  // namespace quillon
