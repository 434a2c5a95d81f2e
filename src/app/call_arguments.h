#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/encodable_value.h"

namespace quillon {

// Reads a call's argument map by key. Arguments that are not a map (null
// included) make every key read as missing, so a handler can read all its
// required keys first and reject the call before changing anything.
class CallArguments {
 public:
  explicit CallArguments(const EncodableValue& arguments) : map_(arguments.asMap()) {}

  const EncodableValue* value(std::string_view key) const;
  std::optional<std::string> string(std::string_view key) const;
  std::optional<bool> boolean(std::string_view key) const;
  std::optional<int64_t> integer(std::string_view key) const;

 private:
  const EncodableMap* map_;
};

}  // namespace quillon
