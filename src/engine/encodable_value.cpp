#include "engine/encodable_value.h"

#include <cmath>
#include <limits>

namespace quillon {

namespace {

// NaN sorts after every number and equal to itself, so doubles give a strict
// weak order and a NaN key can still be found in a map.
int compareFloat(double a, double b) {
  const bool aNan = std::isnan(a), bNan = std::isnan(b);
  if (aNan || bNan) return static_cast<int>(aNan) - static_cast<int>(bNan);
  return a < b ? -1 : (b < a ? 1 : 0);
}

template <typename T>
int compareScalar(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    return compareFloat(a, b);
  } else if constexpr (std::is_same_v<T, EncodableValue>) {
    return EncodableValue::compare(a, b);
  } else {
    return a < b ? -1 : (b < a ? 1 : 0);
  }
}

template <typename Range>
int compareRange(const Range& a, const Range& b) {
  auto i = a.begin(), j = b.begin();
  for (; i != a.end() && j != b.end(); ++i, ++j) {
    int order = 0;
    if constexpr (std::is_same_v<Range, EncodableMap>) {
      order = EncodableValue::compare(i->first, j->first);
      if (order == 0) order = EncodableValue::compare(i->second, j->second);
    } else {
      order = compareScalar(*i, *j);
    }
    if (order != 0) return order;
  }
  if (i == a.end()) return j == b.end() ? 0 : -1;
  return 1;
}

}  // namespace

int EncodableValue::compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  return std::visit(
      [&b](const auto& left) -> int {
        using V = std::decay_t<decltype(left)>;
        const V& right = *b.getIf<V>();
        if constexpr (std::is_same_v<V, std::monostate>) {
          return 0;
        } else if constexpr (std::is_same_v<V, std::string>) {
          const int order = left.compare(right);
          return order < 0 ? -1 : (order > 0 ? 1 : 0);
        } else if constexpr (std::is_arithmetic_v<V>) {
          return compareScalar(left, right);
        } else {
          return compareRange(left, right);
        }
      },
      a.variant());
}

std::optional<int64_t> EncodableValue::asInteger() const {
  if (const auto* small = getIf<int32_t>()) return *small;
  if (const auto* large = getIf<int64_t>()) return *large;
  return std::nullopt;
}

const EncodableValue* EncodableValue::find(std::string_view key) const {
  const EncodableMap* map = asMap();
  if (!map) return nullptr;
  auto it = map->find(EncodableValue(key));
  return it == map->end() ? nullptr : &it->second;
}

EncodableValue EncodableValue::integer(int64_t value) {
  if (value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max()) {
    return EncodableValue(static_cast<int32_t>(value));
  }
  return EncodableValue(value);
}

}  // namespace quillon
