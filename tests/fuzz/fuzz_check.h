// A failed property ends the fuzz run with a crash, so that libFuzzer keeps
// the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                  \
  ((cond) ? (void)0                                                      \
          : (std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, \
                          __FILE__, __LINE__),                            \
             std::abort()))
