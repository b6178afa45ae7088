#include "records/FastScan.h"

#include <bit>
#include <cstring>

#include "records/ProcessorFeatures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tesselby {

namespace {

// One bit for each of 64 bytes: where the quotes, CRs, LFs and the byte to mark are.
struct Masks {
    std::uint64_t quote = 0;
    std::uint64_t cr = 0;
    std::uint64_t lf = 0;
    std::uint64_t marked = 0;
};

template <bool kMarking> inline Masks masksOf(const char* block, char byte)
{
    Masks masks;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i wanted = _mm_set1_epi8(byte);
    for (int lane = 0; lane < 4; ++lane) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * lane));
        const int shift = 16 * lane;
        masks.quote |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quote)))) << shift;
        masks.cr |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, cr)))) << shift;
        masks.lf |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)))) << shift;
        if constexpr (kMarking)
            masks.marked |= std::uint64_t(std::uint16_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))) << shift;
    }
#else
    for (int i = 0; i < 64; ++i) {
        masks.quote |= std::uint64_t(block[i] == '"') << i;
        masks.cr |= std::uint64_t(block[i] == '\r') << i;
        masks.lf |= std::uint64_t(block[i] == '\n') << i;
        if constexpr (kMarking)
            masks.marked |= std::uint64_t(block[i] == byte) << i;
    }
#endif
    return masks;
}

// Where the nth (0-based) set bit of mask is; 64 when it has no more.
inline unsigned nthSetBit(std::uint64_t mask, unsigned n)
{
    for (; n > 0; --n)
        mask &= mask - 1;
    return static_cast<unsigned>(std::countr_zero(mask));
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

template <bool kMarking> __attribute__((target("avx2"))) inline Masks masksOfWide(const char* block, char byte)
{
    return Masks{maskOfWide(block, '"'), maskOfWide(block, '\r'), maskOfWide(block, '\n'),
                 kMarking ? maskOfWide(block, byte) : 0};
}

__attribute__((target("bmi2"))) inline unsigned nthSetBitWide(std::uint64_t mask, unsigned n)
{
    return static_cast<unsigned>(std::countr_zero(_pdep_u64(std::uint64_t(1) << n, mask)));
}
#endif

struct Marking {
    MarkedByte mark;
    std::uint32_t* marked = nullptr;
    std::size_t count = 0;
};

template <bool kMarking, Masks (*masksFor)(const char*, char), unsigned (*nthBit)(std::uint64_t, unsigned)>
__attribute__((always_inline)) inline WrittenPrefix scan(std::string_view text, std::uint32_t* recordEnds,
                                                         Marking* marking)
{
    std::uint32_t* out = recordEnds;
    std::uint32_t* marked = kMarking ? marking->marked : nullptr;
    const char byte = kMarking ? marking->mark.byte : 0;
    const std::size_t field = kMarking ? fieldIndex(marking->mark.field) : 0;
    std::size_t lastMarked = SIZE_MAX;

    // The bytes before the text read as the end of a line: ... CR LF.
    Masks previous;
    previous.cr = std::uint64_t(1) << 62;
    previous.lf = std::uint64_t(1) << 63;
    std::size_t lines = 0;
    for (std::size_t offset = 0; offset < text.size(); offset += 64) {
        const std::size_t inBlock = std::min<std::size_t>(64, text.size() - offset);
        Masks m;
        if (inBlock == 64) {
            m = masksFor(text.data() + offset, byte);
        } else {
            char tail[64] = {};
            std::memcpy(tail, text.data() + offset, inBlock);
            m = masksFor(tail, byte);
        }
        // Bit i of each: what stands one or two bytes before byte i.
        const std::uint64_t lfTwoBefore = (m.lf << 2) | (previous.lf >> 62);
        const std::uint64_t crBefore = (m.cr << 1) | (previous.cr >> 63);
        const std::uint64_t quoteBefore = (m.quote << 1) | (previous.quote >> 63);
        // An LF comes after a CR and only there; a CR after a quote; a quote opens a line (two bytes
        // after an LF) or closes it (just before a CR), never both, and stands nowhere else.
        std::uint64_t wrong =
            (m.lf ^ crBefore) | (m.cr & ~quoteBefore) | (quoteBefore ^ (lfTwoBefore | m.cr)) | (lfTwoBefore & m.cr);
        std::uint64_t valid = inBlock == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << inBlock) - 1;
        wrong &= valid;
        if (wrong != 0)
            valid &= (std::uint64_t(1) << std::countr_zero(wrong)) - 1;
        const std::uint64_t ends = m.lf & valid;

        if constexpr (kMarking) {
            // A find's line is the number of line ends before it; a record is four lines.
            for (std::uint64_t finds = m.marked & valid; finds != 0; finds &= finds - 1) {
                const std::uint64_t before = (std::uint64_t(1) << std::countr_zero(finds)) - 1;
                const std::size_t line = lines + static_cast<std::size_t>(std::popcount(m.lf & before));
                if (line % 4 == field && line / 4 != lastMarked) {
                    lastMarked = line / 4;
                    *marked++ = static_cast<std::uint32_t>(lastMarked);
                }
            }
        }
        // Every fourth line end ends a record. The first of them in the block is written whether or not
        // it is there, which saves a guess per block: the room asked for allows for the spare one.
        const auto count = static_cast<unsigned>(std::popcount(ends));
        unsigned n = static_cast<unsigned>(3 - lines % 4);
        *out = static_cast<std::uint32_t>(offset + nthBit(ends, n));
        out += n < count ? 1 : 0;
        for (n += 4; n < count; n += 4)
            *out++ = static_cast<std::uint32_t>(offset + nthBit(ends, n));
        lines += count;
        if (wrong != 0)
            break;
        previous = m;
    }
    const auto records = static_cast<std::size_t>(out - recordEnds);
    if constexpr (kMarking) {
        // A find in a record the text does not hold whole is no record's.
        while (marked != marking->marked && marked[-1] >= records)
            --marked;
        marking->count = static_cast<std::size_t>(marked - marking->marked);
    }
    return WrittenPrefix{records, records == 0 ? 0 : recordEnds[records - 1] + std::size_t(1)};
}

template <bool kMarking> WrittenPrefix scanPortably(std::string_view text, std::uint32_t* recordEnds, Marking* marking)
{
    return scan<kMarking, masksOf<kMarking>, nthSetBit>(text, recordEnds, marking);
}

#if TESSELBY_HAVE_AVX2
template <bool kMarking>
__attribute__((target("avx2,bmi2"))) WrittenPrefix scanWide(std::string_view text, std::uint32_t* recordEnds,
                                                            Marking* marking)
{
    return scan<kMarking, masksOfWide<kMarking>, nthSetBitWide>(text, recordEnds, marking);
}
#endif

template <bool kMarking> WrittenPrefix scanFor(std::string_view text, std::uint32_t* recordEnds, Marking* marking)
{
#if TESSELBY_HAVE_AVX2
    if (useAvx2AndBmi2())
        return scanWide<kMarking>(text, recordEnds, marking);
#endif
    return scanPortably<kMarking>(text, recordEnds, marking);
}

} // namespace

WrittenPrefix scanWrittenRecords(std::string_view text, std::uint32_t* recordEnds)
{
    return scanFor<false>(text, recordEnds, nullptr);
}

WrittenPrefix scanWrittenRecords(std::string_view text, std::uint32_t* recordEnds, MarkedByte mark,
                                 std::uint32_t* marked, std::size_t& markedCount)
{
    Marking marking{mark, marked, 0};
    const WrittenPrefix records = scanFor<true>(text, recordEnds, &marking);
    markedCount = marking.count;
    return records;
}

} // namespace tesselby
