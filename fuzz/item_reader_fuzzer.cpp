// Any bytes at all, read as a data file: no crash, hang or leak; an add after them and an edit of one
// record both read back as the records they should hold, and an edit after another program changed
// the list writes exactly the person's edit or nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/ItemScanner.h"
#include "format/ItemWriter.h"
#include "format/ListEnd.h"
#include "records/EditPlan.h"
#include "records/RecordGrid.h"
#include "records/RecordSearch.h"

using namespace tesselby;

namespace {

const char* const kNewValues[] = {"edited", "\"quoted\"", "", "a,b", "line\r\nbreak", "changed"};

// Choices drawn from the input, so that each input always makes the same ones.
class Choices {
public:
    explicit Choices(std::string_view text)
    {
        for (const char c : text)
            m_state = (m_state ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    std::size_t below(std::size_t n)
    {
        m_state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = m_state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<std::size_t>((z ^ (z >> 31)) % n);
    }

private:
    std::uint64_t m_state = 0xCBF29CE484222325ULL;
};

std::string textOf(const std::vector<Record>& records)
{
    std::string text;
    for (const Record& record : records) {
        for (const std::string& value : record)
            appendItem(text, value);
    }
    return text;
}

// The records of read, loaded; another program then removes, doubles, moves and changes some of them
// and appends others; the person edits one loaded record. The save must either find them (the one
// record standing as loaded, or their own record changed in place) and write exactly their edit over
// the file as it is now, or write nothing.
void checkEditAfterChange(const RecordGrid& read, Choices& choose)
{
    std::vector<Record> loadedRecords;
    for (std::size_t r = 1; r <= read.recordCount(); ++r)
        loadedRecords.push_back(read.record(r));
    const auto loaded = RecordGrid::fromText(textOf(loadedRecords));

    struct Origin {
        std::size_t record; // 0: added by the other program
        bool changed;
    };
    std::vector<Record> nowRecords;
    std::vector<Origin> origins;
    for (std::size_t r = 1; r <= loadedRecords.size(); ++r) {
        const std::size_t what = choose.below(8);
        if (what == 0)
            continue; // removed
        for (int copy = 0; copy < (what == 1 ? 2 : 1); ++copy) {
            Record record = loadedRecords[r - 1];
            const bool changed = what == 2 || what == 3;
            for (int f = 0; f < kFieldCount && changed; ++f) {
                if (choose.below(what == 2 ? 4 : 2) == 0)
                    record[f] = "changed " + std::to_string(choose.below(3));
            }
            nowRecords.push_back(record);
            origins.push_back({r, changed});
        }
    }
    if (choose.below(4) == 0) {
        std::reverse(nowRecords.begin(), nowRecords.end());
        std::reverse(origins.begin(), origins.end());
    }
    if (choose.below(4) == 0) {
        nowRecords.push_back({"appended", "", "", ""});
        origins.push_back({0, false});
    }
    auto now = RecordGrid::fromText(textOf(nowRecords));

    const std::size_t number = 1 + choose.below(loaded.recordCount());
    RecordEdit edit;
    for (int f = 0; f < kFieldCount; ++f) {
        if (choose.below(2) == 0)
            edit[f] = FieldEdit{kNewValues[choose.below(std::size(kNewValues))], std::nullopt};
    }
    const EditPlan plan = planEdit(loaded, number, now, edit);

    std::size_t standingAsLoaded = 0;
    for (std::size_t r = 1; r <= now.recordCount(); ++r)
        standingAsLoaded += loaded.sameRecord(number, now, r) ? 1 : 0;
    const bool unchangedInPlace = loaded.sameRecord(number, now, number);
    // Two loaded people alike can only be told apart by their places.
    std::size_t alikeLoaded = 0;
    for (std::size_t r = 1; r <= loaded.recordCount(); ++r)
        alikeLoaded += loaded.sameRecord(number, loaded, r) ? 1 : 0;
    const bool foundByValues = standingAsLoaded == 1 && alikeLoaded == 1;
    if (plan.kind == EditPlan::Kind::PersonNotFound) {
        // Not found, though the person stands as loaded in one place (or in their own place)?
        if (foundByValues || unchangedInPlace)
            std::abort();
        return;
    }
    if (alikeLoaded > 1 && plan.at != number)
        std::abort();
    // Found: at a record that is the person, as loaded or changed in place by the other program.
    if (plan.at == 0 || plan.at > now.recordCount())
        std::abort();
    const bool asLoaded = loaded.sameRecord(number, now, plan.at);
    // People alike as loaded differ only in which one the other program moved: no list can tell a twin
    // changed in the person's place from the person changed there.
    const std::size_t origin = origins[plan.at - 1].record;
    if (!asLoaded && (origin == 0 || !loaded.sameRecord(number, loaded, origin)))
        std::abort();
    if (!asLoaded && !unchangedInPlace && foundByValues)
        std::abort();
    if (plan.kind == EditPlan::Kind::Conflicts) {
        for (const EditConflict& conflict : plan.conflicts) {
            if (!edit[conflict.field] || loaded.sameItem(number, conflict.field, now, plan.at))
                std::abort(); // a conflict in a field only one side changed
        }
        return;
    }
    now.apply(now.replacementFor(plan.at, plan.values));
    const auto saved = RecordGrid::fromText(now.text());
    if (saved.recordCount() != nowRecords.size())
        std::abort();
    for (std::size_t r = 1; r <= nowRecords.size(); ++r) {
        Record expected = nowRecords[r - 1];
        for (int f = 0; f < kFieldCount && r == plan.at; ++f) {
            if (edit[f])
                expected[f] = edit[f]->value;
        }
        if (saved.record(r) != expected)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    ItemScanner scanner(text);
    RawItem item;
    std::size_t items = 0;
    while (scanner.next(item)) {
        ++items;
        (void)decodeItem(item);
    }

    const auto grid = RecordGrid::fromText(text);
    if (grid.itemCount() != items)
        std::abort();

    // An add after whatever the file holds stands as a record of its own, and every earlier record
    // reads as before; the file's end is found the same way through a small buffer as in one piece.
    const ListEnd end = listEndOf(text);
    if (end.items != items)
        std::abort();
    const Record added{"added", "\"quoted\", with a comma", "", "line\r\nbreak"};
    std::string afterAdd = text + end.completion();
    for (const std::string& value : added)
        appendItem(afterAdd, value);
    const auto grown = RecordGrid::fromText(afterAdd);
    if (grown.recordCount() != grid.recordCount() + 1 || grown.record(grown.recordCount()) != added)
        std::abort();
    for (std::size_t r = 1; r <= grid.recordCount(); ++r) {
        if (grown.record(r) != grid.record(r))
            std::abort();
    }

    // The first bytes double as a search text, so searches run over every kind of item.
    const std::string needle = text.substr(0, size % 5);
    for (const Field field : kFields)
        (void)searchText(text, field, needle);

    // One record's values replaced: every other record reads as before, the record reads as the new
    // values over its old ones, and the grid's index of the new text agrees with a fresh reading.
    if (grid.recordCount() > 0) {
        Choices choose(text);
        const std::size_t number = 1 + choose.below(grid.recordCount());
        FieldValues values;
        for (int f = 0; f < kFieldCount; ++f) {
            if (choose.below(2) == 0)
                values[f] = kNewValues[choose.below(std::size(kNewValues))];
        }
        RecordGrid edited = RecordGrid::fromText(grid.text());
        const RecordGrid::Replacement replacement = edited.replacementFor(number, values);
        const std::string before = edited.text();
        const std::string pieces =
            before.substr(0, replacement.from) + replacement.lines + before.substr(replacement.to);
        if (edited.sizeWith(replacement) != pieces.size())
            std::abort();
        edited.apply(replacement);
        const auto reread = RecordGrid::fromText(edited.text());
        if (pieces != edited.text() || reread.recordCount() != grid.recordCount() ||
            reread.itemCount() != edited.itemCount())
            std::abort();
        for (std::size_t r = 1; r <= grid.recordCount(); ++r) {
            Record expected = grid.record(r);
            for (int f = 0; f < kFieldCount && r == number; ++f)
                expected[f] = values[f].value_or(expected[f]);
            if (reread.record(r) != expected || !edited.sameRecord(r, reread, r))
                std::abort();
        }
        checkEditAfterChange(grid, choose);
    }
    return 0;
}
