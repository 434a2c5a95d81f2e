#include "quillon-engine/json_value.h"

#include <cstdio>
#include <limits>
#include <type_traits>

namespace quillon {

namespace {

constexpr const char* kBytesKey = "$bytes";

bool setError(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<uint8_t>> parseHex(const std::string& text, std::string* error) {
  if (text.size() % 2 != 0) {
    setError(error, "\"$bytes\" needs an even number of hexadecimal digits");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      setError(error, "\"$bytes\" holds a character that is not hexadecimal");
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::string toHex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace

std::optional<EncodableValue> jsonToValue(const nlohmann::json& json, std::string* error) {
  using Type = nlohmann::json::value_t;
  switch (json.type()) {
    case Type::null:
      return EncodableValue();
    case Type::boolean:
      return EncodableValue(json.get<bool>());
    case Type::number_integer:
      return EncodableValue::integer(json.get<int64_t>());
    case Type::number_unsigned: {
      const auto value = json.get<uint64_t>();
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        setError(error, "integer " + std::to_string(value) + " does not fit 64 signed bits");
        return std::nullopt;
      }
      return EncodableValue::integer(static_cast<int64_t>(value));
    }
    case Type::number_float:
      return EncodableValue(json.get<double>());
    case Type::string:
      return EncodableValue(json.get<std::string>());
    case Type::array: {
      EncodableList list;
      list.reserve(json.size());
      for (const auto& item : json) {
        auto value = jsonToValue(item, error);
        if (!value) return std::nullopt;
        list.push_back(std::move(*value));
      }
      return EncodableValue(std::move(list));
    }
    case Type::object: {
      if (json.size() == 1 && json.contains(kBytesKey) && json[kBytesKey].is_string()) {
        auto bytes = parseHex(json[kBytesKey].get<std::string>(), error);
        if (!bytes) return std::nullopt;
        return EncodableValue(std::move(*bytes));
      }
      EncodableMap map;
      for (const auto& [key, item] : json.items()) {
        auto value = jsonToValue(item, error);
        if (!value) return std::nullopt;
        map.emplace(EncodableValue(key), std::move(*value));
      }
      return EncodableValue(std::move(map));
    }
    case Type::binary:
    case Type::discarded:
      break;
  }
  setError(error, "unsupported JSON value");
  return std::nullopt;
}

nlohmann::json valueToJson(const EncodableValue& value) {
  return std::visit(
      [](const auto& v) -> nlohmann::json {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          return nullptr;
        } else if constexpr (std::is_same_v<V, std::vector<uint8_t>>) {
          return nlohmann::json{{kBytesKey, toHex(v)}};
        } else if constexpr (std::is_same_v<V, EncodableList>) {
          auto array = nlohmann::json::array();
          for (const auto& item : v) array.push_back(valueToJson(item));
          return array;
        } else if constexpr (std::is_same_v<V, EncodableMap>) {
          auto object = nlohmann::json::object();
          for (const auto& [key, item] : v) {
            const std::string name = key.asString() ? *key.asString() : dumpJson(valueToJson(key));
            object[name] = valueToJson(item);
          }
          return object;
        } else {
          // Scalars, strings and the numeric typed lists convert directly.
          return nlohmann::json(v);
        }
      },
      value.variant());
}

std::string replyToText(const MethodReply& reply) {
  if (const auto* success = std::get_if<MethodSuccess>(&reply)) return dumpJson(valueToJson(success->value));
  if (const auto* failure = std::get_if<MethodError>(&reply)) {
    nlohmann::json object = {{"error", failure->code},
                             {"message", failure->message},
                             {"details", valueToJson(failure->details)}};
    return dumpJson(object);
  }
  return "not implemented";
}

std::string dumpJson(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quillon
