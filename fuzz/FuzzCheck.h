#pragma once
// CHECK for the fuzz targets: a broken promise aborts, which is what the
// fuzzer counts as a finding, and says which one on stderr.

#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                 \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)
