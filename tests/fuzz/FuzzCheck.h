// Invariant checks for the fuzz targets. A broken invariant must stop the run the way a
// crash does, so that libFuzzer keeps the input: a message on stderr, then abort().
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                          \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, (what));   \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)
