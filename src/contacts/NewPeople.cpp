#include "NewPeople.h"

#include <algorithm>
#include <functional>
#include <string>

#include "ListValues.h"

namespace tesselby {

namespace {

template <typename Values> std::uint64_t hashOf(const Values& values)
{
    std::uint64_t hash = 0;
    for (const auto& value : values)
        hash = (hash ^ std::hash<std::string_view>{}(std::string_view(value))) * 0x9E3779B97F4A7C15ULL;
    return hash;
}

} // namespace

NewPeople::NewPeople(std::vector<Record>& records) : m_records(records), m_known(records.size(), false)
{
    m_hashes.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        m_hashes.emplace_back(hashOf(records[i]), i);
    std::sort(m_hashes.begin(), m_hashes.end());
}

void NewPeople::markIfKnown(const PerField<std::string_view>& values)
{
    const std::uint64_t hash = hashOf(values);
    auto at = std::lower_bound(m_hashes.begin(), m_hashes.end(), std::pair<std::uint64_t, std::size_t>(hash, 0));
    for (; at != m_hashes.end() && at->first == hash; ++at) {
        const Record& record = m_records[at->second];
        if (std::equal(record.begin(), record.end(), values.begin()))
            m_known[at->second] = true;
    }
}

Result<std::span<const Record>> NewPeople::keepNew(const ByteSource& list)
{
    std::fill(m_known.begin(), m_known.end(), false);
    // Within the import, a record equal to an earlier one (of the same hash, so next to it) is known.
    for (std::size_t at = 1; at < m_hashes.size(); ++at) {
        for (std::size_t before = at; before-- > 0 && m_hashes[before].first == m_hashes[at].first;) {
            if (m_records[m_hashes[before].second] == m_records[m_hashes[at].second]) {
                m_known[m_hashes[at].second] = true;
                break;
            }
        }
    }
    ListValues values([this](const ListValues::Values& record) { markIfKnown(record); });
    RecordStream stream;
    if (const Result<bool> walked = stream.walk(list, values); !walked)
        return walked.error();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_records.size(); ++i)
        if (!m_known[i]) {
            if (kept != i)
                m_records[kept] = std::move(m_records[i]);
            ++kept;
        }
    m_skipped = m_records.size() - kept;
    m_records.resize(kept);
    return std::span<const Record>(m_records);
}

} // namespace tesselby
