#include "WrittenLines.h"

#include <bit>
#include <cstring>

#include "ProcessorFeatures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tesselby {

namespace {

// One bit for each of 64 bytes: where the quotes, CRs and LFs are.
struct Masks {
    std::uint64_t quote = 0;
    std::uint64_t cr = 0;
    std::uint64_t lf = 0;
};

inline Masks masksOf(const char* block)
{
    Masks masks;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (int lane = 0; lane < 4; ++lane) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * lane));
        const int shift = 16 * lane;
        masks.quote |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quote)))) << shift;
        masks.cr |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, cr)))) << shift;
        masks.lf |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)))) << shift;
    }
#else
    for (int i = 0; i < 64; ++i) {
        masks.quote |= std::uint64_t(block[i] == '"') << i;
        masks.cr |= std::uint64_t(block[i] == '\r') << i;
        masks.lf |= std::uint64_t(block[i] == '\n') << i;
    }
#endif
    return masks;
}

#if TESSELBY_HAVE_AVX2
__attribute__((target("avx2"))) inline std::uint64_t maskOfWide(const char* block, char wanted)
{
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
    const __m256i each = _mm256_set1_epi8(wanted);
    return std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, each)))) |
           std::uint64_t(std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, each)))) << 32;
}

__attribute__((target("avx2"))) inline Masks masksOfWide(const char* block)
{
    return Masks{maskOfWide(block, '"'), maskOfWide(block, '\r'), maskOfWide(block, '\n')};
}
#endif

template <Masks (*masksFor)(const char*)>
__attribute__((always_inline)) inline WrittenLines scan(std::string_view text, std::uint32_t* lineEnds)
{
    std::uint32_t* out = lineEnds;

    // The bytes before the text read as the end of a line: ... CR LF.
    Masks previous;
    previous.cr = std::uint64_t(1) << 62;
    previous.lf = std::uint64_t(1) << 63;
    std::size_t good = 0;
    for (std::size_t offset = 0; offset < text.size(); offset += 64) {
        const std::size_t inBlock = std::min<std::size_t>(64, text.size() - offset);
        Masks m;
        if (inBlock == 64) {
            m = masksFor(text.data() + offset);
        } else {
            char tail[64] = {};
            std::memcpy(tail, text.data() + offset, inBlock);
            m = masksFor(tail);
        }
        // Bit i of each: what stands one or two bytes before byte i.
        const std::uint64_t lfTwoBefore = (m.lf << 2) | (previous.lf >> 62);
        const std::uint64_t crBefore = (m.cr << 1) | (previous.cr >> 63);
        const std::uint64_t quoteBefore = (m.quote << 1) | (previous.quote >> 63);
        // An LF comes after a CR and only there; a CR after a quote; a quote opens a line (two bytes
        // after an LF) or closes it (just before a CR), never both, and stands nowhere else.
        std::uint64_t wrong =
            (m.lf ^ crBefore) | (m.cr & ~quoteBefore) | (quoteBefore ^ (lfTwoBefore | m.cr)) | (lfTwoBefore & m.cr);
        if (inBlock < 64)
            wrong &= (std::uint64_t(1) << inBlock) - 1;
        std::uint64_t ends = m.lf;
        if (wrong != 0)
            ends &= (std::uint64_t(1) << std::countr_zero(wrong)) - 1;
        if (ends != 0) {
            // Four at a time whether or not there are four, which saves a guess per line end: the
            // room asked for allows for the spare ones written past the last.
            const int count = std::popcount(ends);
            for (int i = 0; i < count; i += 4) {
                for (int k = 0; k < 4; ++k) {
                    out[i + k] = static_cast<std::uint32_t>(offset + static_cast<unsigned>(std::countr_zero(ends)));
                    ends &= ends - 1;
                }
            }
            out += count;
            good = out[-1] + std::size_t(1);
        }
        if (wrong != 0)
            break;
        previous = m;
    }
    return WrittenLines{good, static_cast<std::size_t>(out - lineEnds)};
}

#if TESSELBY_HAVE_AVX2
__attribute__((target("avx2"))) WrittenLines scanWide(std::string_view text, std::uint32_t* lineEnds)
{
    return scan<masksOfWide>(text, lineEnds);
}
#endif

} // namespace

WrittenLines scanWrittenLines(std::string_view text, std::uint32_t* lineEnds)
{
#if TESSELBY_HAVE_AVX2
    if (processorHasAvx2())
        return scanWide(text, lineEnds);
#endif
    return scan<masksOf>(text, lineEnds);
}

} // namespace tesselby
