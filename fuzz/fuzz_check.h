#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding like a crash: print where and abort so the
// fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)
