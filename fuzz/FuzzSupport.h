#pragma once
// Shared by the fuzz targets: a property that does not hold aborts, so that libFuzzer keeps the
// input that broke it as a crash.

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                              \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
