#include "fakes/failing_streams_hardware.h"

#include <cstring>

namespace quillon::test {

std::unique_ptr<AudioStream> FailingStreamsHardware::openInputStream(AudioDeviceId d,
                                                                     const AudioStreamBasicDescription& format,
                                                                     size_t periodBytes, AudioInputHandler handler,
                                                                     AudioStatus& status) {
  if (failInputStreams) {
    status = AudioStatus::noSuchDevice;
    return nullptr;
  }
  return real_->openInputStream(d, format, periodBytes, std::move(handler), status);
}

std::unique_ptr<AudioStream> FailingStreamsHardware::openOutputStream(AudioDeviceId d,
                                                                      const AudioStreamBasicDescription& format,
                                                                      size_t maxPullBytes, AudioPullHandler pull,
                                                                      AudioStatus& status) {
  if (failOutputStreams) {
    status = AudioStatus::noSuchDevice;
    return nullptr;
  }
  if (stallOutputStreams) pull = [](uint8_t* out, size_t bytes) { std::memset(out, 0, bytes); };
  return real_->openOutputStream(d, format, maxPullBytes, std::move(pull), status);
}

}  // namespace quillon::test
