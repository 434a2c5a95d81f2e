// Feeds arbitrary bytes to the three decoders the engine link trusts with
// whatever a peer sends. Whatever decodes must survive an encode/decode round
// trip unchanged, so a decoder that accepts something the encoder cannot
// reproduce shows up here and not as a corrupted reply later.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/standard_codec.h"
#include "fuzz_check.h"

using quillon::EncodableValue;
using quillon::MethodCall;
using quillon::MethodError;
using quillon::MethodReply;
using quillon::MethodSuccess;
using quillon::StandardCodec;

namespace {

void checkMessage(std::span<const uint8_t> bytes) {
  std::string error;
  auto value = StandardCodec::decodeMessage(bytes, &error);
  if (!value) {
    FUZZ_CHECK(!error.empty());
    return;
  }
  // Bytes, not values, are compared so NaN payloads count as equal.
  const auto encoded = StandardCodec::encodeMessage(*value);
  auto again = StandardCodec::decodeMessage(encoded);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(StandardCodec::encodeMessage(*again) == encoded);
}

void checkMethodCall(std::span<const uint8_t> bytes) {
  auto call = StandardCodec::decodeMethodCall(bytes);
  if (!call) return;
  const auto encoded = StandardCodec::encodeMethodCall(*call);
  auto again = StandardCodec::decodeMethodCall(encoded);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->method == call->method);
  FUZZ_CHECK(StandardCodec::encodeMethodCall(*again) == encoded);
}

void checkEnvelope(std::span<const uint8_t> bytes) {
  auto reply = StandardCodec::decodeEnvelope(bytes);
  if (!reply) return;
  std::vector<uint8_t> encoded;
  if (auto* success = std::get_if<MethodSuccess>(&*reply)) {
    encoded = StandardCodec::encodeSuccessEnvelope(success->value);
  } else if (auto* failure = std::get_if<MethodError>(&*reply)) {
    encoded = StandardCodec::encodeErrorEnvelope(failure->code, failure->message, failure->details);
  } else {
    FUZZ_CHECK(bytes.empty());  // only an empty reply means not implemented
    return;
  }
  auto again = StandardCodec::decodeEnvelope(encoded);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->index() == reply->index());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  checkMessage(bytes);
  checkMethodCall(bytes);
  checkEnvelope(bytes);
  return 0;
}
