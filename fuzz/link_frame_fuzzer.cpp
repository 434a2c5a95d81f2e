// Drives the engine link's frame reader with an arbitrary byte stream, once in
// one piece and once in uneven pieces as a socket would deliver it: both must
// cut the same frames and break at the same place, and every frame that parses
// must encode back to exactly the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/link_frame.h"
#include "fuzz_check.h"

using quillon::link::Frame;
using quillon::link::FrameReader;
using quillon::link::ParseResult;

namespace {

struct Outcome {
  std::vector<std::vector<uint8_t>> frames;
  bool broken = false;
  size_t leftOver = 0;
};

void drain(FrameReader& reader, Outcome& outcome) {
  std::vector<uint8_t> body;
  for (;;) {
    std::string error;
    const auto status = reader.next(body, &error);
    if (status == FrameReader::Status::kNeedMore) return;
    if (status == FrameReader::Status::kBroken) {
      FUZZ_CHECK(!error.empty());
      outcome.broken = true;
      return;
    }
    FUZZ_CHECK(!body.empty() && body.size() <= quillon::link::kMaxFrameLength);
    outcome.frames.push_back(body);
  }
}

Outcome readInPieces(std::span<const uint8_t> stream, uint8_t seed) {
  FrameReader reader;
  Outcome outcome;
  uint32_t state = seed | 1u;
  size_t offset = 0;
  while (offset < stream.size() && !outcome.broken) {
    state = state * 1103515245u + 12345u;
    const size_t piece = std::min<size_t>(stream.size() - offset, 1 + (state >> 16) % 9);
    reader.append(stream.data() + offset, piece);
    offset += piece;
    drain(reader, outcome);
  }
  outcome.leftOver = outcome.broken ? 0 : reader.buffered();
  return outcome;
}

void checkFrame(const std::vector<uint8_t>& body) {
  Frame frame;
  const auto result = quillon::link::parseFrame(body, frame);
  if (result != ParseResult::kOk) return;
  std::vector<uint8_t> expected;
  quillon::link::appendU32(expected, static_cast<uint32_t>(body.size()));
  expected.insert(expected.end(), body.begin(), body.end());
  const auto reencoded = frame.kind == quillon::link::kMessageFrame
                             ? quillon::link::encodeMessageFrame(frame.replyId, frame.channel, frame.payload)
                             : quillon::link::encodeReplyFrame(frame.replyId, frame.payload);
  FUZZ_CHECK(reencoded == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> stream(data + 1, size - 1);

  FrameReader whole;
  Outcome once;
  whole.append(stream.data(), stream.size());
  drain(whole, once);
  once.leftOver = once.broken ? 0 : whole.buffered();

  const Outcome pieces = readInPieces(stream, data[0]);
  FUZZ_CHECK(pieces.broken == once.broken);
  FUZZ_CHECK(pieces.frames == once.frames);
  FUZZ_CHECK(pieces.leftOver == once.leftOver);
  for (const auto& body : once.frames) checkFrame(body);
  return 0;
}
