#include "records/RecordEnds.h"

#include <algorithm>

namespace tesselby {

namespace {

// How many low bits of an end each entry keeps. Small in the tests' builds, so that their lists cross
// many runs; only this file knows, so that a test program may be built with its own setting.
#ifdef TESSELBY_RECORD_END_LOW_BITS
constexpr unsigned kLowBits = TESSELBY_RECORD_END_LOW_BITS;
#else
constexpr unsigned kLowBits = 30;
#endif
static_assert(kLowBits <= 30, "two bits of each entry hold the flags");
constexpr std::uint32_t kLowMask = (std::uint32_t(1) << kLowBits) - 1;
constexpr unsigned kFlagShift = sizeof(std::size_t) * 8 - 32;
constexpr std::uint32_t kFlagBits = 0xC0000000u;

std::size_t runIn(const std::vector<std::size_t>& runStarts, std::size_t index)
{
    // Most lists fit in one run.
    if (runStarts.size() == 1)
        return 0;
    return static_cast<std::size_t>(std::upper_bound(runStarts.begin(), runStarts.end(), index) - runStarts.begin()) -
           1;
}

} // namespace

std::uint32_t RecordEnds::entryAt(std::size_t index, std::size_t endAndFlags)
{
    const std::size_t end = endAndFlags & ~kFlags;
    const std::size_t run = end >> kLowBits;
    while (m_runStarts.size() <= run)
        m_runStarts.push_back(index);
    return static_cast<std::uint32_t>(end & kLowMask) |
           static_cast<std::uint32_t>((endAndFlags & kFlags) >> kFlagShift);
}

void RecordEnds::push_back(std::size_t endAndFlags)
{
    const std::uint32_t entry = entryAt(m_low.size(), endAndFlags);
    m_low.push_back(entry);
}

std::size_t RecordEnds::decode(const std::vector<std::size_t>& runStarts, std::size_t index) const
{
    const std::uint32_t entry = m_low[index];
    const std::size_t flags = static_cast<std::size_t>(entry & kFlagBits) << kFlagShift;
    return (runIn(runStarts, index) << kLowBits) | (entry & kLowMask) | flags;
}

std::size_t RecordEnds::operator[](std::size_t index) const
{
    return decode(m_runStarts, index);
}

void RecordEnds::rewrite(std::size_t first, const std::vector<std::size_t>& ends, std::size_t oldTail,
                         std::size_t newTail)
{
    const std::size_t later = first + ends.size();
    const std::size_t lastEnd = later < size() ? ((*this)[size() - 1] & ~kFlags) - oldTail + newTail : 0;
    if (m_runStarts.size() == 1 && lastEnd <= kLowMask && (ends.empty() || (ends.back() & ~kFlags) <= kLowMask)) {
        // All of the list in one run before and after, as nearly always: the entries move as numbers.
        for (std::size_t r = 0; r < ends.size(); ++r)
            m_low[first + r] = entryAt(first + r, ends[r]);
        const auto shift = static_cast<std::uint32_t>(newTail - oldTail);
        for (std::size_t r = later; r < m_low.size(); ++r)
            m_low[r] += shift; // the low bits cannot carry into the flags: every end stays below the run's size
        return;
    }
    // Each later end is read with the runs as they were and written into runs found again, in place:
    // a copy of the index would be fresh memory the size of the index on every save.
    const std::vector<std::size_t> oldRuns = m_runStarts;
    while (m_runStarts.size() > 1 && m_runStarts.back() >= first)
        m_runStarts.pop_back();
    for (std::size_t r = 0; r < ends.size(); ++r)
        m_low[first + r] = entryAt(first + r, ends[r]);
    for (std::size_t r = later; r < m_low.size(); ++r) {
        const std::size_t old = decode(oldRuns, r);
        m_low[r] = entryAt(r, ((old & ~kFlags) - oldTail + newTail) | (old & kFlags));
    }
}

} // namespace tesselby
