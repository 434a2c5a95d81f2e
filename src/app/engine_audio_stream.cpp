#include "app/engine_audio_stream.h"

namespace quillon {

AudioCallback EngineAudioStream::sender(std::string method) {
  const std::string* name;
  {
    std::lock_guard lock(mutex_);
    name = &methods_.emplace_back(std::move(method));
  }
  return [self = shared_from_this(), name](const ByteBuffer& block) { self->add(*name, block); };
}

void EngineAudioStream::add(const std::string& method, const ByteBuffer& block) {
  bool first;
  {
    std::lock_guard lock(mutex_);
    first = waiting_.empty();
    waiting_.emplace_back(&method, block);
  }
  // One main-thread task per batch: later blocks join the queue it will empty.
  if (first) mainThread_.post([self = shared_from_this()] { self->flush(); });
}

void EngineAudioStream::flush() {
  std::deque<std::pair<const std::string*, ByteBuffer>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(waiting_);
  }
  // Each block is copied once on its way to the socket: into its message.
  for (const auto& [method, block] : batch) channel_->invokeMethodWithBytes(*method, block.span());
}

}  // namespace quillon
