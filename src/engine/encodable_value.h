#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

// Holds the variant rather than deriving from it: a value type that derives
// from a variant of containers of itself makes C++20's comparison rewriting
// recurse (three-way comparison of the base checks the containers, which
// check the value, which finds the base again).
class EncodableValue {
 public:
  EncodableValue() = default;
  template <typename T,
            typename = std::enable_if_t<!std::is_same_v<std::decay_t<T>, EncodableValue> &&
                                        std::is_constructible_v<EncodableVariant, T&&>>>
  EncodableValue(T&& value) : value_(std::forward<T>(value)) {}
  // Without these a string literal would pick the bool alternative.
  EncodableValue(const char* text) : value_(std::string(text)) {}
  EncodableValue(std::string_view text) : value_(std::string(text)) {}

  const EncodableVariant& variant() const { return value_; }
  EncodableVariant& variant() { return value_; }
  size_t index() const { return value_.index(); }
  template <typename T>
  bool holds() const { return std::holds_alternative<T>(value_); }
  template <typename T>
  const T* getIf() const { return std::get_if<T>(&value_); }
  template <typename T>
  T* getIf() { return std::get_if<T>(&value_); }

  bool isNull() const { return holds<std::monostate>(); }

  // Typed views: null when the value holds another alternative.
  const bool* asBool() const { return getIf<bool>(); }
  const std::string* asString() const { return getIf<std::string>(); }
  const EncodableMap* asMap() const { return getIf<EncodableMap>(); }
  const EncodableList* asList() const { return getIf<EncodableList>(); }
  const std::vector<uint8_t>* asBytes() const { return getIf<std::vector<uint8_t>>(); }
  const double* asDouble() const { return getIf<double>(); }
  // int32 or int64, widened.
  std::optional<int64_t> asInteger() const;

  // Looks a string key up when this value is a map; null when it is not a map
  // or the key is absent.
  const EncodableValue* find(std::string_view key) const;

  // An integer stored the way the codec would send it: int32 when it fits.
  static EncodableValue integer(int64_t value);

  // Orders values first by alternative, then by content, so values can be map keys.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b) { return compare(a, b) < 0; }
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) { return compare(a, b) == 0; }
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) { return compare(a, b) != 0; }

  // Negative, zero or positive; NaN floats compare equal to each other.
  static int compare(const EncodableValue& a, const EncodableValue& b);

 private:
  EncodableVariant value_;
};

}  // namespace quillon
