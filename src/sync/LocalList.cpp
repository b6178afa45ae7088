#include "LocalList.h"

#include <optional>

#include "DataFile.h"
#include "format/ItemWriter.h"
#include "records/RecordGrid.h"

namespace tesselby {

Result<LocalList> LocalList::read(const std::filesystem::path& path)
{
    Result<std::string> text = readDataFile(path);
    if (!text)
        return text.error();
    LocalList list;
    list.m_path = path;
    list.m_text = std::move(text.value());
    const RecordGrid grid = RecordGrid::fromText(list.m_text);
    list.m_people.reserve(grid.recordCount());
    for (std::size_t number = 1; number <= grid.recordCount(); ++number)
        list.m_people.push_back(grid.record(number));
    return list;
}

Status LocalList::apply(const std::vector<std::pair<std::size_t, Record>>& changes,
                        const std::vector<std::size_t>& removals)
{
    if (changes.empty() && removals.empty())
        return {};
    std::vector<std::optional<Record>> after(m_people.begin(), m_people.end());
    for (const auto& [index, values] : changes)
        after.at(index) = values;
    for (const std::size_t index : removals)
        after.at(index).reset();
    std::string text;
    text.reserve(m_text.size());
    for (const std::optional<Record>& person : after)
        if (person)
            for (const std::string& value : *person)
                appendItem(text, value);
    const Status rewritten = rewriteDataFile(m_path, [&](std::string_view current) -> Result<std::string> {
        if (current != m_text)
            return FileError{m_path, kListChangedDuringSync};
        return text;
    });
    if (!rewritten)
        return rewritten;
    m_people.clear();
    for (std::optional<Record>& person : after)
        if (person)
            m_people.push_back(std::move(*person));
    m_text = std::move(text);
    return rewritten;
}

Status LocalList::add(const std::vector<Record>& people)
{
    if (people.empty())
        return {};
    return appendRecords(m_path, people);
}

} // namespace tesselby
