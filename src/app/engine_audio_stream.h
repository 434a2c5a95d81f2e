#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "engine/method_channel.h"
#include "platform/main_thread.h"
#include "recording/byte_buffer.h"

namespace quillon {

// Carries a recording's blocks ("onPcmData", "onOpusData") from the thread
// that makes them to the engine, on the main thread, in the order they were
// made. The blocks wait in one queue that the main thread empties; flush()
// empties it at once, so the blocks a stop still produces (on the main thread,
// while the worker's last periods are processed) reach the engine before the
// stop's reply, and never overtake blocks made before them.
class EngineAudioStream : public std::enable_shared_from_this<EngineAudioStream> {
 public:
  EngineAudioStream(std::shared_ptr<MethodChannel> channel, MainThread& mainThread)
      : channel_(std::move(channel)), mainThread_(mainThread) {}

  // A callback for the factory; it keeps the stream alive.
  AudioCallback sender(std::string method);
  // Sends every waiting block; main thread only.
  void flush();

 private:
  void add(const std::string& method, const ByteBuffer& block);

  std::shared_ptr<MethodChannel> channel_;
  MainThread& mainThread_;
  std::mutex mutex_;
  std::deque<std::pair<const std::string*, ByteBuffer>> waiting_;
  std::deque<std::string> methods_;  // the names the queue points at
};

}  // namespace quillon
