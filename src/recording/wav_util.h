#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "recording/close_summary.h"

namespace quillon {

// Writes one WAV file incrementally: a 44-byte header when created, 16-bit
// samples as they come, the size fields completed at close.
//
// So that a recording cut short by a crash or power cut is still playable,
// the two size fields are also rewritten about once a second of audio, after
// the samples and through the same stream, which is then flushed: a killed
// process leaves a valid file missing at most its last second.
//
// The size fields are 32-bit; once the samples would no longer fit in them
// the writer stops appending (one error line) and the file stays valid.
//
// A write that fails (a full disk, a file-size limit) also stops appending:
// the file is cut back to the whole frames that reached it, its header made
// to describe exactly those, and close() answers success -1 with the
// duration and size of what the file really holds.
//
// Not locked: one writing thread at a time.
class WavUtil {
 public:
  // The largest sample data a file can describe: the RIFF size (data + 36)
  // must fit 32 bits; kept to whole frames of `channels` 16-bit samples.
  static uint32_t maxDataLength(int32_t channels);

  // Always yields a usable object: when the file cannot be created the error is
  // logged, writes are ignored and close() answers the no-file summary.
  // `dataLimit` lowers the maximum sample bytes (0: maxDataLength).
  WavUtil(const std::string& path, int32_t sampleRate, int32_t channels, int32_t bitsPerSample,
          uint32_t dataLimit = 0);
  ~WavUtil();
  WavUtil(const WavUtil&) = delete;
  WavUtil& operator=(const WavUtil&) = delete;

  // Appends `count` 16-bit samples (all channels interleaved), whatever the
  // header's bit depth says.
  void writeSamples(const int16_t* samples, uint64_t count);
  CloseSummary close();

 private:
  void writeWavHeader();
  // Patches both size fields and leaves the position at the end of the data;
  // false when the stream could not be written.
  bool updateWavHeader();
  // After a failed write: closes the stream and makes the file on disk valid.
  void abandonAfterWriteFailure(int error);
  CloseSummary summaryOf(int32_t success, uint64_t fileSize) const;
  uint32_t byteRate() const;

  std::FILE* _file = nullptr;
  uint32_t _dataLength = 0;
  int32_t _sampleRate;
  int32_t _channels;
  int32_t _bitsPerSample;
  std::string _path;
  uint32_t _dataLimit;
  uint32_t _bytesSinceHeaderUpdate = 0;
  bool _full = false;
  bool _writeFailed = false;
};

}  // namespace quillon
