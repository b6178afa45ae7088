#include "LocalList.h"

#include <map>
#include <optional>

#include "ContactCommands.h"
#include "DataFile.h"
#include "format/ItemWriter.h"
#include "history/ListHistory.h"
#include "records/RecordGrid.h"

namespace tesselby {

namespace {

// The list with each edited record (by number) given its new values or taken out, the other records'
// lines as they were. Nothing when two edited records share a line (a list another program wrote so):
// the caller then writes the list again item by item.
std::optional<std::string> edited(const std::string& list, const RecordGrid& grid,
                                  const std::map<std::size_t, std::optional<Record>>& edits)
{
    std::string result = list;
    std::size_t lastFrom = SIZE_MAX;
    for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
        FieldValues values;
        if (it->second)
            for (std::size_t field = 0; field < values.size(); ++field)
                values[field] = (*it->second)[field];
        const RecordGrid::Replacement lines = grid.replacementFor(it->first, values);
        if (lines.to > lastFrom || lines.firstRecord != it->first || lines.lastRecord != it->first)
            return std::nullopt;
        std::string kept = lines.lines;
        if (!it->second)
            kept.clear();
        result.replace(lines.from, lines.to - lines.from, kept);
        lastFrom = lines.from;
    }
    return result;
}

} // namespace

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
                        const std::vector<std::size_t>& removals, const std::vector<const Record*>& adds,
                        const std::string& where)
{
    if (changes.empty() && removals.empty() && adds.empty())
        return {};
    std::string added;
    for (const Record* person : adds)
        for (const std::string& value : *person)
            appendItem(added, value);
    if (changes.empty() && removals.empty()) {
        // New people only: the same add as an import's, recorded as one.
        const ImportNote note(where);
        return appendWrittenRecords(m_path, added);
    }

    std::map<std::size_t, std::optional<Record>> edits;
    for (const auto& [index, values] : changes)
        edits[index + 1] = values;
    for (const std::size_t index : removals)
        edits[index + 1].reset();
    std::string description = "synced with " + where + ": ";
    description += peopleCount(adds.size()) + " added, " + peopleCount(changes.size()) + " changed, " +
                   peopleCount(removals.size()) + " removed";
    std::string text;
    const Status rewritten = rewriteList(m_path, [&](const std::string& now) -> Result<std::optional<ListRewrite>> {
        if (now != m_text)
            return FileError{m_path, kListChangedDuringSync};
        const RecordGrid grid = RecordGrid::fromText(now);
        std::optional<std::string> kept = edited(now, grid, edits);
        if (!kept) {
            kept.emplace();
            kept->reserve(now.size());
            for (std::size_t number = 1; number <= grid.recordCount(); ++number) {
                const auto edit = edits.find(number);
                const Record person = edit == edits.end() ? grid.record(number) : edit->second.value_or(Record{});
                if (edit == edits.end() || edit->second)
                    for (const std::string& value : person)
                        appendItem(*kept, value);
            }
        }
        text = std::move(*kept);
        // A list that does not end its last line gets one before the new people.
        if (!added.empty() && !text.empty() && text.back() != '\n')
            text += "\r\n";
        text += added;
        return std::optional<ListRewrite>(ListRewrite{text, description});
    });
    return rewritten;
}

} // namespace tesselby
