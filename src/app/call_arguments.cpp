#include "app/call_arguments.h"

namespace quillon {

const EncodableValue* CallArguments::value(std::string_view key) const {
  if (!map_) return nullptr;
  auto it = map_->find(EncodableValue(std::string(key)));
  return it == map_->end() ? nullptr : &it->second;
}

std::optional<std::string> CallArguments::string(std::string_view key) const {
  const EncodableValue* v = value(key);
  if (!v || !v->asString()) return std::nullopt;
  return *v->asString();
}

std::optional<bool> CallArguments::boolean(std::string_view key) const {
  const EncodableValue* v = value(key);
  if (!v || !v->asBool()) return std::nullopt;
  return *v->asBool();
}

std::optional<int64_t> CallArguments::integer(std::string_view key) const {
  const EncodableValue* v = value(key);
  if (!v) return std::nullopt;
  return v->asInteger();
}

}  // namespace quillon
