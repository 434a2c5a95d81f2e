#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/encodable_value.h"
#include "engine/method_call.h"
#include "engine/method_result.h"

namespace quillon {

// Flutter's Standard message codec and Standard method codec, byte for byte.
// Decoders never throw and never read past the input: malformed input gives
// nullopt (with the reason in *error when given).
class StandardCodec {
 public:
  static std::vector<uint8_t> encodeMessage(const EncodableValue& value);
  static std::optional<EncodableValue> decodeMessage(std::span<const uint8_t> bytes,
                                                     std::string* error = nullptr);

  static std::vector<uint8_t> encodeMethodCall(const MethodCall& call);
  // encodeMethodCall of `method` with a Uint8List of `bytes` as its argument,
  // the bytes copied once, straight from where they lie.
  static std::vector<uint8_t> encodeBytesCall(const std::string& method, std::span<const uint8_t> bytes);
  static std::optional<MethodCall> decodeMethodCall(std::span<const uint8_t> bytes,
                                                    std::string* error = nullptr);

  static std::vector<uint8_t> encodeSuccessEnvelope(const EncodableValue& value);
  static std::vector<uint8_t> encodeErrorEnvelope(const std::string& code, const std::string& message,
                                                  const EncodableValue& details);
  // An empty input decodes as not implemented.
  static std::optional<MethodReply> decodeEnvelope(std::span<const uint8_t> bytes,
                                                   std::string* error = nullptr);
};

}  // namespace quillon
