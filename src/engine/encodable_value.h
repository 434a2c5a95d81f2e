#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillon {

class EncodableValue;
using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// Every value the Standard message codec carries, and nothing else.
using EncodableVariant = std::variant<std::monostate,         // null
                                      bool,                   // true / false
                                      int32_t,                // int32
                                      int64_t,                // int64
                                      double,                 // float64
                                      std::string,            // UTF-8 string
                                      std::vector<uint8_t>,   // byte array
                                      std::vector<int32_t>,   // int32 list
                                      std::vector<int64_t>,   // int64 list
                                      std::vector<double>,    // float64 list
                                      EncodableList,          // list
                                      EncodableMap,           // map
                                      std::vector<float>>;    // float32 list

class EncodableValue : public EncodableVariant {
 public:
  using EncodableVariant::EncodableVariant;
  using EncodableVariant::operator=;

  EncodableValue() = default;
  // Without these a string literal would pick the bool alternative.
  EncodableValue(const char* text) : EncodableVariant(std::string(text)) {}
  EncodableValue(std::string_view text) : EncodableVariant(std::string(text)) {}

  bool isNull() const { return std::holds_alternative<std::monostate>(*this); }

  // Typed views: null when the value holds another alternative.
  const bool* asBool() const { return std::get_if<bool>(this); }
  const std::string* asString() const { return std::get_if<std::string>(this); }
  const EncodableMap* asMap() const { return std::get_if<EncodableMap>(this); }
  const EncodableList* asList() const { return std::get_if<EncodableList>(this); }
  const std::vector<uint8_t>* asBytes() const { return std::get_if<std::vector<uint8_t>>(this); }
  const double* asDouble() const { return std::get_if<double>(this); }
  // int32 or int64, widened.
  std::optional<int64_t> asInteger() const;

  // Looks a string key up when this value is a map; null when it is not a map
  // or the key is absent.
  const EncodableValue* find(std::string_view key) const;

  // An integer stored the way the codec would send it: int32 when it fits.
  static EncodableValue integer(int64_t value);

  // Orders values first by alternative, then by content, so values can be map keys.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b) {
    return static_cast<const EncodableVariant&>(a) < static_cast<const EncodableVariant&>(b);
  }
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) {
    return static_cast<const EncodableVariant&>(a) == static_cast<const EncodableVariant&>(b);
  }
};

}  // namespace quillon
