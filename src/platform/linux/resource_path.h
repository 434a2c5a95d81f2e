#pragma once

#include <string>

namespace quillon {

// Where a file of the project's resources/ folder is at run time. An installed
// executable (PREFIX/bin/NAME) finds it under PREFIX/share/`installed`, also
// when the whole tree was unpacked somewhere else; a build that was never
// installed uses resources/`source` of the tree it was built from. Empty when
// neither exists.
std::string resourcePath(const std::string& installed, const std::string& source);

}  // namespace quillon
