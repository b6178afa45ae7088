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
// Processors with AVX2 have BMI2 as well, but a virtual machine may pass on one and not the other.
inline bool processorHasAvx2AndBmi2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return has;
}
#endif

} // namespace tesselby
