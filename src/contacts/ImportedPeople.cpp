#include "ImportedPeople.h"

#include <algorithm>
#include <cstring>

#include "format/ItemWriter.h"

namespace tesselby {

void ImportedPeople::push_back(const Record& record)
{
    m_scratch.clear();
    for (const std::string& value : record)
        appendItem(m_scratch, value);
    m_ends.push_back({hashOfValues(record), m_text.size() + m_scratch.size()});
    try {
        m_text.append(m_scratch);
    } catch (...) {
        m_ends.pop_back(); // a failure leaves both as they were
        throw;
    }
}

void ImportedPeople::append(const ImportedPeople& other)
{
    const std::size_t base = m_text.size();
    m_ends.reserve(m_ends.size() + other.m_ends.size());
    m_text.append(other.text());
    for (const End& end : other.m_ends)
        m_ends.push_back({end.hash, base + end.end});
}

std::string_view ImportedPeople::recordText(std::size_t record) const
{
    const std::size_t start = record == 0 ? 0 : m_ends[record - 1].end;
    return text().substr(start, m_ends[record].end - start);
}

Record ImportedPeople::operator[](std::size_t record) const
{
    // The text is appendItem's: each value quoted, its quotes doubled, then CR LF.
    const std::string_view text = recordText(record);
    Record values;
    std::size_t at = 0;
    for (std::string& value : values) {
        ++at;
        for (;;) {
            const std::size_t quote = text.find('"', at);
            value.append(text.substr(at, quote - at));
            at = quote + 1;
            if (text[at] != '"')
                break;
            value.push_back('"');
            ++at;
        }
        at += 2;
    }
    return values;
}

void ImportedPeople::dropMarked(const std::vector<bool>& drop)
{
    std::size_t kept = 0;
    std::size_t keptEnd = 0;
    std::size_t start = 0;
    for (std::size_t record = 0; record < m_ends.size(); ++record) {
        const End end = m_ends[record];
        if (!drop[record]) {
            if (keptEnd != start)
                std::memmove(m_text.data() + keptEnd, m_text.data() + start, end.end - start);
            keptEnd += end.end - start;
            m_ends[kept++] = {end.hash, keptEnd};
        }
        start = end.end;
    }
    m_ends.resize(kept);
    m_text.resize(keptEnd);
}

bool ImportedPeople::operator==(const std::vector<Record>& records) const
{
    if (records.size() != size())
        return false;
    for (std::size_t record = 0; record < size(); ++record)
        if ((*this)[record] != records[record])
            return false;
    return true;
}

} // namespace tesselby
