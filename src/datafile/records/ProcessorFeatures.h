#pragma once

#include <cstdlib>
#include <string_view>

// Wider vector instructions, used where the processor running the program has them: the build itself
// assumes no more than the processor family's baseline.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSELBY_HAVE_AVX2 1
#include <immintrin.h>
#else
#define TESSELBY_HAVE_AVX2 0
#endif

namespace tesselby {

// TESSELBY_PORTABLE_PATHS (set, and neither empty nor 0) keeps the scan and the search to the code every processor
// runs, so that the tests and the fuzz targets reach it on machines that would take the wider path.
// Read once: a program never switches paths while it runs.
inline bool portablePathsForced()
{
    static const bool forced = [] {
        const char* value = std::getenv("TESSELBY_PORTABLE_PATHS");
        return value != nullptr && std::string_view(value) != "" && std::string_view(value) != "0";
    }();
    return forced;
}

#if TESSELBY_HAVE_AVX2
// Processors with AVX2 have BMI2 as well, but a virtual machine may pass on one and not the other.
inline bool useAvx2AndBmi2()
{
    static const bool use = !portablePathsForced() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    return use;
}
#endif

} // namespace tesselby
