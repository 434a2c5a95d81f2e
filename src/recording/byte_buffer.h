#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace quillon {

// An immutable, owned run of bytes that is cheap to hand on. Copies share the
// same storage (one reference-count increment, never a byte copy), so a block
// can travel from a capture thread through the mixer to the engine and any
// receiver may keep it as long as it likes. Audio samples inside are in native
// (little-endian) byte order.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  // Takes the bytes over without copying them.
  explicit ByteBuffer(std::vector<uint8_t> bytes);
  static ByteBuffer copyOf(const void* data, size_t size);

  const uint8_t* data() const { return storage_ ? storage_->data() : nullptr; }
  size_t size() const { return storage_ ? storage_->size() : 0; }
  bool empty() const { return size() == 0; }
  std::span<const uint8_t> span() const { return {data(), size()}; }
  // The bytes as a vector; an empty one when the buffer holds none.
  const std::vector<uint8_t>& bytes() const;

 private:
  std::shared_ptr<const std::vector<uint8_t>> storage_;
};

// What every audio stage hands its output to. The callee runs on the audio
// thread that produced the block and must return quickly; it may keep the
// buffer (copying a ByteBuffer copies no audio).
using AudioCallback = std::function<void(const ByteBuffer&)>;

}  // namespace quillon
