#include "NewPeople.h"

#include <algorithm>

#include "ListValues.h"
#include "format/ItemWriter.h"

namespace tesselby {

NewPeople::NewPeople(ImportedPeople& records) : m_records(records), m_known(records.size(), false)
{
    m_hashes.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        m_hashes.emplace_back(records.hash(i), i);
    std::sort(m_hashes.begin(), m_hashes.end());
}

void NewPeople::markIfKnown(const PerField<std::string_view>& values)
{
    const std::uint64_t hash = hashOfValues(values);
    auto at = std::lower_bound(m_hashes.begin(), m_hashes.end(), std::pair<std::uint64_t, std::size_t>(hash, 0));
    if (at == m_hashes.end() || at->first != hash)
        return;
    // Written the same way, equal values are equal text.
    m_written.clear();
    for (const std::string_view value : values)
        appendItem(m_written, value);
    for (; at != m_hashes.end() && at->first == hash; ++at)
        if (m_records.recordText(at->second) == m_written)
            m_known[at->second] = true;
}

Result<std::string_view> NewPeople::keepNew(const ByteSource& list)
{
    std::fill(m_known.begin(), m_known.end(), false);
    // Within the import, a record equal to an earlier one (of the same hash, so next to it) is known.
    for (std::size_t at = 1; at < m_hashes.size(); ++at) {
        for (std::size_t before = at; before-- > 0 && m_hashes[before].first == m_hashes[at].first;) {
            if (m_records.recordText(m_hashes[before].second) == m_records.recordText(m_hashes[at].second)) {
                m_known[m_hashes[at].second] = true;
                break;
            }
        }
    }
    ListValues values([this](const ListValues::Values& record) { markIfKnown(record); });
    RecordStream stream;
    if (const Result<bool> walked = stream.walk(list, values); !walked)
        return walked.error();
    const std::size_t before = m_records.size();
    m_records.dropMarked(m_known);
    m_skipped = before - m_records.size();
    return m_records.text();
}

} // namespace tesselby
