#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/encodable_value.h"
#include "engine/method_result.h"

namespace quillon {

// JSON as the command-line engine reads and prints it. Integers become int32
// when they fit and int64 otherwise, as the codec would send them;
// {"$bytes":"HEX"} stands for a byte array; everything else maps as it stands.
std::optional<EncodableValue> jsonToValue(const nlohmann::json& json, std::string* error = nullptr);

// Typed lists print as arrays, byte arrays as {"$bytes":"HEX"}, and map keys
// that are not strings as their JSON text.
nlohmann::json valueToJson(const EncodableValue& value);

// The text printed for a reply: the success value, {"error":..,"message":..,
// "details":..}, or `not implemented`.
std::string replyToText(const MethodReply& reply);

// JSON text without throwing on invalid UTF-8 (replaced).
std::string dumpJson(const nlohmann::json& json);

}  // namespace quillon
