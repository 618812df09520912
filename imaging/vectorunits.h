#pragma once

// Vector code beyond SSE2, which every x86-64 has: functions marked TILVEX_AVX2 are compiled
// for AVX2 and called only where HasAvx2() says the processor has it. Each gives the same
// bytes as the SSE2 code beside it.
#if defined(__x86_64__) && defined(__GNUC__)
#define TILVEX_AVX2_PATHS 1
#define TILVEX_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>

inline bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif
