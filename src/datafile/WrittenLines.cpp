#include "WrittenLines.h"

#include <bit>
#include <cstring>

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

Masks masksOf(const char* block)
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

} // namespace

WrittenLines scanWrittenLines(std::string_view text, std::uint32_t* lineEnds)
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
            m = masksOf(text.data() + offset);
        } else {
            char tail[64] = {};
            std::memcpy(tail, text.data() + offset, inBlock);
            m = masksOf(tail);
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
        while (ends != 0) {
            const auto at = static_cast<std::uint32_t>(offset + static_cast<unsigned>(std::countr_zero(ends)));
            *out++ = at;
            good = at + 1;
            ends &= ends - 1;
        }
        if (wrong != 0)
            break;
        previous = m;
    }
    return WrittenLines{good, static_cast<std::size_t>(out - lineEnds)};
}

} // namespace tesselby
