#include "tools/engine_cli.h"

#include <cstdio>

namespace quillon {

int engineCliMain(int, char**) {
  std::fprintf(stderr, "quillon-engine: not yet assembled\n");
  return 2;
}

}  // namespace quillon
