#pragma once
// The check of the fuzz targets: a property that must hold for every input. A violation prints
// what failed and aborts, which libFuzzer (and the corpus replay) reports as a finding.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                                  \
            std::abort();                                                              \
        }                                                                              \
    } while (false)
