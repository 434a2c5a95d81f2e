#include "engine/method_result.h"

#include <utility>

#include "logging/logger.h"

namespace quillon {

namespace {
constexpr const char* kTag = "engine";
}

MethodResult::MethodResult(std::string description, Deliver deliver)
    : description_(std::move(description)), deliver_(std::move(deliver)) {}

MethodResult::~MethodResult() {
  if (!answered_) {
    Logger::shared().error(kTag, "%s was never answered; the engine's caller would wait forever",
                           description_.c_str());
  }
}

void MethodResult::success(EncodableValue value) { answer(MethodSuccess{std::move(value)}); }

void MethodResult::error(std::string code, std::string message, EncodableValue details) {
  answer(MethodError{std::move(code), std::move(message), std::move(details)});
}

void MethodResult::notImplemented() { answer(MethodNotImplemented{}); }

void MethodResult::answer(MethodReply reply) {
  if (answered_) {
    Logger::shared().error(kTag, "%s was answered twice; the second answer is ignored",
                           description_.c_str());
    return;
  }
  answered_ = true;
  if (deliver_) deliver_(std::move(reply));
}

}  // namespace quillon
