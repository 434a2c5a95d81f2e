#include "engine/standard_codec.h"

#include <utility>

#include "engine/codec_reader.h"
#include "engine/codec_writer.h"

namespace quillon {

namespace {

constexpr uint8_t kEnvelopeSuccess = 0;
constexpr uint8_t kEnvelopeError = 1;

template <typename T>
std::optional<T> failWith(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> StandardCodec::encodeMessage(const EncodableValue& value) {
  std::vector<uint8_t> out;
  out.reserve(codec::encodedSizeBound(value));
  codec::Writer(out).writeValue(value);
  return out;
}

std::optional<EncodableValue> StandardCodec::decodeMessage(std::span<const uint8_t> bytes,
                                                           std::string* error) {
  codec::Reader reader(bytes);
  EncodableValue value;
  if (!reader.readValue(value)) return failWith<EncodableValue>(error, reader.error());
  if (!reader.atEnd()) return failWith<EncodableValue>(error, "trailing bytes after the value");
  return value;
}

std::vector<uint8_t> StandardCodec::encodeMethodCall(const MethodCall& call) {
  std::vector<uint8_t> out;
  out.reserve(call.method.size() + 6 + codec::encodedSizeBound(call.arguments));
  codec::Writer writer(out);
  writer.writeString(call.method);
  writer.writeValue(call.arguments);
  return out;
}

std::vector<uint8_t> StandardCodec::encodeBytesCall(const std::string& method, std::span<const uint8_t> bytes) {
  std::vector<uint8_t> out;
  out.reserve(method.size() + 12 + bytes.size());
  codec::Writer writer(out);
  writer.writeString(method);
  writer.writeUint8List(bytes);
  return out;
}

std::optional<MethodCall> StandardCodec::decodeMethodCall(std::span<const uint8_t> bytes,
                                                          std::string* error) {
  codec::Reader reader(bytes);
  EncodableValue method;
  MethodCall call;
  if (!reader.readValue(method) || !reader.readValue(call.arguments)) {
    return failWith<MethodCall>(error, reader.error());
  }
  auto* name = method.getIf<std::string>();
  if (!name) return failWith<MethodCall>(error, "method name is not a string");
  if (!reader.atEnd()) return failWith<MethodCall>(error, "trailing bytes after the arguments");
  call.method = std::move(*name);
  return call;
}

std::vector<uint8_t> StandardCodec::encodeSuccessEnvelope(const EncodableValue& value) {
  std::vector<uint8_t> out;
  out.reserve(1 + codec::encodedSizeBound(value));
  codec::Writer writer(out);
  writer.writeByte(kEnvelopeSuccess);
  writer.writeValue(value);
  return out;
}

std::vector<uint8_t> StandardCodec::encodeErrorEnvelope(const std::string& code,
                                                        const std::string& message,
                                                        const EncodableValue& details) {
  std::vector<uint8_t> out;
  out.reserve(1 + code.size() + message.size() + 12 + codec::encodedSizeBound(details));
  codec::Writer writer(out);
  writer.writeByte(kEnvelopeError);
  writer.writeString(code);
  writer.writeString(message);
  writer.writeValue(details);
  return out;
}

std::optional<MethodReply> StandardCodec::decodeEnvelope(std::span<const uint8_t> bytes,
                                                         std::string* error) {
  if (bytes.empty()) return MethodReply(MethodNotImplemented{});
  codec::Reader reader(bytes);
  uint8_t status = 0;
  reader.readByte(status);
  if (status == kEnvelopeSuccess) {
    EncodableValue value;
    if (!reader.readValue(value)) return failWith<MethodReply>(error, reader.error());
    if (!reader.atEnd()) return failWith<MethodReply>(error, "trailing bytes after the value");
    return MethodReply(MethodSuccess{std::move(value)});
  }
  if (status != kEnvelopeError) return failWith<MethodReply>(error, "unknown envelope status");

  EncodableValue code, message, details;
  if (!reader.readValue(code) || !reader.readValue(message) || !reader.readValue(details)) {
    return failWith<MethodReply>(error, reader.error());
  }
  // Some engines append a stack trace; it is read to validate the envelope
  // and then dropped.
  if (!reader.atEnd()) {
    EncodableValue stackTrace;
    if (!reader.readValue(stackTrace)) return failWith<MethodReply>(error, reader.error());
    if (!stackTrace.isNull() && !stackTrace.asString()) {
      return failWith<MethodReply>(error, "stack trace is not a string");
    }
    if (!reader.atEnd()) return failWith<MethodReply>(error, "trailing bytes after the error");
  }
  auto* codeText = code.asString();
  if (!codeText) return failWith<MethodReply>(error, "error code is not a string");
  if (!message.isNull() && !message.asString()) {
    return failWith<MethodReply>(error, "error message is not a string");
  }
  MethodError result;
  result.code = std::move(*code.getIf<std::string>());
  if (auto* text = message.getIf<std::string>()) result.message = std::move(*text);
  result.details = std::move(details);
  return MethodReply(std::move(result));
}

}  // namespace quillon
