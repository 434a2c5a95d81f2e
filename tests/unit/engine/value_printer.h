#pragma once

#include <ostream>

#include "engine/encodable_value.h"
#include "quillon-engine/json_value.h"

namespace quillon {

// Readable failure messages: values print as the command-line engine shows them.
inline void PrintTo(const EncodableValue& value, std::ostream* out) {
  *out << dumpJson(valueToJson(value));
}

}  // namespace quillon
