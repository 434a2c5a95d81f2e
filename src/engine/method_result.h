#pragma once

#include <functional>
#include <string>
#include <variant>

#include "engine/encodable_value.h"

namespace quillon {

struct MethodSuccess {
  EncodableValue value;
};
struct MethodError {
  std::string code;
  std::string message;
  EncodableValue details;
};
struct MethodNotImplemented {};
using MethodReply = std::variant<MethodSuccess, MethodError, MethodNotImplemented>;

// The answer to one method call. It is answered exactly once: a second answer
// is a programming error that is logged and ignored, and a result destroyed
// without an answer is logged (the caller on the engine side would wait forever).
class MethodResult {
 public:
  using Deliver = std::function<void(MethodReply reply)>;

  // `description` names the call in the log lines ("channel.method").
  MethodResult(std::string description, Deliver deliver);
  virtual ~MethodResult();
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void success(EncodableValue value = EncodableValue());
  void error(std::string code, std::string message, EncodableValue details = EncodableValue());
  void notImplemented();

 private:
  void answer(MethodReply reply);

  std::string description_;
  Deliver deliver_;
  bool answered_ = false;
};

}  // namespace quillon
