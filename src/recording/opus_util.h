#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct OpusEncoder;

namespace quillon {

// Encodes 40 ms frames of 16-bit PCM to Opus and appends them to an Opus
// frame file.
//
// Every packet comes out of encodeFrame() already framed: its length L as two
// bytes, most significant first, then the L packet bytes. That record is both
// what the live stream carries and what the file holds; the file is nothing
// but these records one after another (no header, no container), each 40 ms of
// audio. The encoder uses libopus defaults for the audio application; no
// encoder setting is ever changed.
//
// Not locked: one thread at a time.
class OpusUtil {
 public:
  static constexpr int kMaxPacketBytes = 1276;
  // One second of 40 ms records.
  static constexpr size_t kRecordsPerFlush = 25;

  // 16 000 Hz, 1 channel, with neither encoder nor file; reset() makes one.
  OpusUtil();
  // Nothing (logged) when the encoder cannot be created.
  static std::unique_ptr<OpusUtil> create(int32_t sampleRate, int32_t channels);
  ~OpusUtil();
  OpusUtil(const OpusUtil&) = delete;
  OpusUtil& operator=(const OpusUtil&) = delete;

  // Creates or truncates the frame file.
  bool openWithPath(const std::string& path);
  // One framed packet for exactly frameSize() x 2 bytes of PCM; empty when the
  // frame has the wrong size, there is no encoder or encoding fails (logged).
  std::vector<uint8_t> encodeFrame(std::span<const uint8_t> pcm);
  // Appends the bytes as they are; nothing without a file. Records go
  // through the stream's buffer and reach the system every second of audio
  // (kRecordsPerFlush) and at close, so a killed process loses at most the
  // last second. When a write fails (a full disk) the file is cut back to its
  // whole records and closed, so it stays readable; later frames are dropped.
  void writeFrame(std::span<const uint8_t> framed);
  // Ends the file and the encoder, then starts a fresh encoder without a file.
  void reset();
  // Ends the encoder and the file; harmless when repeated.
  void close();

  // The record for one packet: big-endian 16-bit length, then the packet.
  static std::vector<uint8_t> framePacket(std::span<const uint8_t> packet);

 private:
  OpusUtil(int32_t sampleRate, int32_t channels);
  bool createEncoder(int* error);
  // False (and the file abandoned) when the buffered records could not be written.
  bool flushFile();
  void abandonAfterWriteFailure();

  OpusEncoder* _encoder = nullptr;
  int32_t _sampleRate;
  int32_t _channels;
  int32_t _frameSize;
  bool _initialized = false;
  std::FILE* _opusFile = nullptr;
  std::string _filePath;
  uint64_t _wholeRecordBytes = 0;
  uint64_t _flushedBytes = 0;
  // Where each record written since the last flush ends.
  std::vector<uint64_t> _unflushedRecordEnds;
};

}  // namespace quillon
