#pragma once

// Wider vector instructions, used where the processor running the program has them: the build itself
// assumes no more than the processor family's baseline.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSELBY_HAVE_AVX2 1
#include <immintrin.h>
#else
#define TESSELBY_HAVE_AVX2 0
#endif

namespace tesselby {

#if TESSELBY_HAVE_AVX2
inline bool processorHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

} // namespace tesselby
