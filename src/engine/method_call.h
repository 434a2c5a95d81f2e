#pragma once

#include <string>

#include "engine/encodable_value.h"

namespace quillon {

struct MethodCall {
  std::string method;
  EncodableValue arguments;
};

}  // namespace quillon
