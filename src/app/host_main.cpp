#include "app/host_main.h"

#include <cstdio>

namespace quillon {

int hostMain(int, char**) {
  std::fprintf(stderr, "quillon-host: not yet assembled\n");
  return 1;
}

}  // namespace quillon
