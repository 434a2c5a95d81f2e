#include "recording/opus_util.h"

#include <opus.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "OpusUtil";
}

OpusUtil::OpusUtil() : OpusUtil(16000, 1) {}

OpusUtil::OpusUtil(int32_t sampleRate, int32_t channels)
    : _sampleRate(sampleRate), _channels(channels), _frameSize(sampleRate / 25) {}

OpusUtil::~OpusUtil() { close(); }

bool OpusUtil::createEncoder(int* error) {
  *error = OPUS_OK;
  _encoder = opus_encoder_create(_sampleRate, _channels, OPUS_APPLICATION_AUDIO, error);
  if (*error != OPUS_OK || _encoder == nullptr) {
    if (_encoder != nullptr) opus_encoder_destroy(_encoder);
    _encoder = nullptr;
    if (*error == OPUS_OK) *error = OPUS_ALLOC_FAIL;
    return false;
  }
  return true;
}

std::unique_ptr<OpusUtil> OpusUtil::create(int32_t sampleRate, int32_t channels) {
  std::unique_ptr<OpusUtil> util(new OpusUtil(sampleRate, channels));
  int error = OPUS_OK;
  if (!util->createEncoder(&error)) {
    Logger::shared().error(kTag, "Failed to create Opus encoder: %s", opus_strerror(error));
    return nullptr;
  }
  Logger::shared().infoWithTag(kTag, "initialized done");
  util->_initialized = true;
  return util;
}

bool OpusUtil::openWithPath(const std::string& path) {
  _filePath = path;
  if (_opusFile != nullptr) std::fclose(_opusFile);
  _wholeRecordBytes = 0;
  _flushedBytes = 0;
  _unflushedRecordEnds.clear();
  _opusFile = std::fopen(path.c_str(), "wb+");
  if (_opusFile == nullptr) {
    Logger::shared().errorWithTag(kTag, "Failed to open opus file.");
    return false;
  }
  return true;
}

std::vector<uint8_t> OpusUtil::framePacket(std::span<const uint8_t> packet) {
  std::vector<uint8_t> framed(packet.size() + 2);
  framed[0] = static_cast<uint8_t>(packet.size() >> 8);
  framed[1] = static_cast<uint8_t>(packet.size() & 0xFF);
  std::copy(packet.begin(), packet.end(), framed.begin() + 2);
  return framed;
}

std::vector<uint8_t> OpusUtil::encodeFrame(std::span<const uint8_t> pcm) {
  if (!_initialized || _encoder == nullptr) return {};
  if (pcm.size() != static_cast<size_t>(_frameSize) * 2) return {};
  uint8_t packet[kMaxPacketBytes] = {};
  const opus_int32 length =
      opus_encode(_encoder, reinterpret_cast<const opus_int16*>(pcm.data()), _frameSize, packet, kMaxPacketBytes);
  if (length < 0) {
    Logger::shared().error(kTag, "opus_encode failed: %s", opus_strerror(length));
    return {};
  }
  return framePacket({packet, static_cast<size_t>(length)});
}

void OpusUtil::writeFrame(std::span<const uint8_t> framed) {
  if (_opusFile == nullptr || framed.empty()) return;
  if (std::fwrite(framed.data(), 1, framed.size(), _opusFile) != framed.size()) {
    abandonAfterWriteFailure();
    return;
  }
  _wholeRecordBytes += framed.size();
  _unflushedRecordEnds.push_back(_wholeRecordBytes);
  if (_unflushedRecordEnds.size() >= kRecordsPerFlush) flushFile();
}

bool OpusUtil::flushFile() {
  if (_opusFile == nullptr) return false;
  if (std::fflush(_opusFile) != 0) {
    abandonAfterWriteFailure();
    return false;
  }
  _flushedBytes = _wholeRecordBytes;
  _unflushedRecordEnds.clear();
  return true;
}

void OpusUtil::abandonAfterWriteFailure() {
  Logger::shared().error(kTag, "Failed to write opus file (%s), later frames are dropped: %s", std::strerror(errno),
                         _filePath.c_str());
  // A record cut in half would make every reader reject the file. What of the
  // stream's buffer reached the disk is known only once it is closed, so the
  // file is then cut back to the last record end it still holds whole.
  const int fd = ::dup(::fileno(_opusFile));
  std::fclose(_opusFile);
  _opusFile = nullptr;
  if (fd < 0) return;
  struct stat info {};
  uint64_t keep = _flushedBytes;
  if (::fstat(fd, &info) == 0) {
    for (uint64_t end : _unflushedRecordEnds) {
      if (end <= static_cast<uint64_t>(info.st_size)) keep = end;
    }
  }
  _unflushedRecordEnds.clear();
  if (::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
    Logger::shared().error(kTag, "Failed to cut opus file back: %s", std::strerror(errno));
  }
  ::close(fd);
}

void OpusUtil::close() {
  if (_encoder != nullptr) {
    opus_encoder_destroy(_encoder);
    _encoder = nullptr;
  }
  if (_opusFile != nullptr && flushFile()) {
    std::fclose(_opusFile);
    _opusFile = nullptr;
  }
  _initialized = false;
}

void OpusUtil::reset() {
  close();
  _frameSize = _sampleRate / 25;
  int error = OPUS_OK;
  if (!createEncoder(&error)) {
    Logger::shared().error(kTag, "Opus reset failed: %s", opus_strerror(error));
    return;
  }
  _initialized = true;
  Logger::shared().infoWithTag(kTag, "Opus encoder reset done");
}

}  // namespace quillon
