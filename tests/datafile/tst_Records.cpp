#include "DoctestPrinters.h"
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "disk/NativeFile.h"
#include "format/ItemWriter.h"
#include "memory/LargeBlock.h"
#include "memory/TextStore.h"
#include "records/EditPlan.h"
#include "records/ProcessorFeatures.h"
#include "records/RecordEnds.h"
#include "records/RecordGrid.h"
#include "records/RecordSearch.h"

using namespace tesselby;

namespace {

std::string fileOf(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        appendItem(text, item);
    return text;
}

// Values in a row, where nothing (keep) leaves a field alone.
using List = std::vector<std::optional<std::string>>;
const std::nullopt_t keep = std::nullopt;

List operator+(List first, const List& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

List mid(const List& list, std::size_t from, std::size_t count)
{
    return List(list.begin() + long(from), list.begin() + long(from + count));
}

std::string fileOf(const List& items)
{
    std::vector<std::string> values;
    for (const std::optional<std::string>& item : items)
        values.push_back(item.value_or(std::string()));
    return fileOf(values);
}

const std::vector<std::string> kPeople = {
    "John",  "Smith",     "555-0100", "john@example.org",  "Anna", "Smithers", "555-0101", "anna@example.org",
    "Tomas", "Goldsmith", "",         "tomas@example.org", "",     "smith",    "555-0103", "lower@example.org",
};

const List kLoaded{"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "b", "2", "c@", "D", "d", "", ""};

std::vector<std::string> firstNames(const MatchList& matches)
{
    std::vector<std::string> names;
    for (std::size_t m = 0; m < matches.size(); ++m)
        names.push_back(matches.record(m)[Field::FirstName]);
    return names;
}

// Reads of one byte, of a few, and of the usual size cut records at every place.
const std::size_t kChunkSizes[] = {1, 5, 64, RecordSearch::kDefaultChunkBytes};

} // namespace

TEST_CASE("searchMatchesContainedTextExactly")
{
    const struct {
        const char* name;
        Field field;
        std::string needle;
        std::vector<std::string> found;
    } rows[] = {
        {"substring, file order", Field::LastName, "mith", {"John", "Anna", "Tomas", ""}},
        {"upper case", Field::LastName, "Smith", {"John", "Anna"}},
        {"lower case", Field::LastName, "smith", {"Tomas", ""}},
        {"whole value", Field::FirstName, "Anna", {"Anna"}},
        {"other field never matches", Field::FirstName, "Smith", {}},
        {"phone", Field::Phone, "0103", {""}},
        {"e-mail", Field::Email, "@example", {"John", "Anna", "Tomas", ""}},
        {"empty text skips empty fields", Field::Phone, "", {"John", "Anna", ""}},
        {"blanks are not trimmed", Field::FirstName, " John", {}},
        {"one letter, also in other fields", Field::LastName, "S", {"John", "Anna"}},
        {"one letter, twice in a value", Field::Email, "o", {"John", "Anna", "Tomas", ""}},
        {"one letter, last field only", Field::Email, "j", {"John"}},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            for (const std::size_t chunk : kChunkSizes)
                CHECK(firstNames(searchText(fileOf(kPeople), row.field, row.needle, chunk)) == row.found);
        }
    }
}

TEST_CASE("searchCopiesWholeRecords")
{
    const MatchList matches = searchText(fileOf(kPeople), Field::Phone, "0101");
    REQUIRE(matches.size() == 1);
    CHECK(matches.record(0) == Record{"Anna", "Smithers", "555-0101", "anna@example.org"});

    // Many matches, each read back in any order from wherever it lies in the kept bytes.
    std::vector<std::string> many;
    for (int p = 0; p < 40; ++p)
        many.insert(many.end(), {"P" + std::to_string(p), "L", std::string(std::size_t(p), 'x'), ""});
    for (const std::size_t chunk : kChunkSizes) {
        const MatchList all = searchText(fileOf(many), Field::LastName, "L", chunk);
        REQUIRE(all.size() == 40);
        for (const std::size_t m : {std::size_t(39), std::size_t(0), std::size_t(17), std::size_t(16), std::size_t(31)})
            CHECK(all.record(m)[Field::Phone] == std::string(m, 'x'));
    }
}

TEST_CASE("searchNeverTestsATrailingIncompleteRecord")
{
    std::vector<std::string> items = {"Ann", "Lee", "1", "a@x", "Bob", "Lee", "2"};
    CHECK(searchText(fileOf(items), Field::LastName, "Lee").size() == 1);
    items.resize(3);
    CHECK(searchText(fileOf(items), Field::FirstName, "").size() == 0);
}

TEST_CASE("searchFindsEscapedQuotesAndOlderText")
{
    std::string text = fileOf(std::vector<std::string>{"Bob \"Bo\"", "Lee", "", ""});
    text += "\"J\xFCrgen\"\r\n\"Wei\xDF\"\r\n\"\"\r\n\"\"\r\n"; // a record from an older single-byte file
    CHECK(firstNames(searchText(text, Field::FirstName, "\"Bo\"")) == std::vector<std::string>{"Bob \"Bo\""});
    for (const std::size_t chunk : kChunkSizes)
        CHECK(firstNames(searchText(text, Field::FirstName, "Jü", chunk)) == std::vector<std::string>{"Jürgen"});
    CHECK(firstNames(searchText(text, Field::LastName, "Wei")) == std::vector<std::string>{"Jürgen"});
}

TEST_CASE("gridCountsEveryItem")
{
    for (const auto& [items, records] :
         std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}}) {
        SUBCASE((std::to_string(items) + " items").c_str())
        {
            std::vector<std::string> values;
            for (int i = 1; i <= items; ++i)
                values.push_back("item" + std::to_string(i));
            const auto grid = RecordGrid::fromText(fileOf(values));
            CHECK(grid.itemCount() == std::size_t(items));
            REQUIRE(grid.recordCount() == std::size_t(records));
            if (records == 0)
                continue;
            // The last record holds the trailing items, its missing fields empty.
            const Record last = grid.record(std::size_t(records));
            for (int f = 0; f < kFieldCount; ++f) {
                const int item = (records - 1) * kFieldCount + f + 1;
                CHECK(last[f] == (item <= items ? "item" + std::to_string(item) : std::string()));
            }
        }
    }
}

// Rows name the loaded list, mostly A..D (C shares two values with B, D has no phone or e-mail); "now" is the file
// as another program left it. A kept edit leaves the field alone; the result is the file after the save (unchanged
// unless written).
TEST_CASE("editFindsThePersonInTheFileAsItIsNow")
{
    const List a = mid(kLoaded, 0, 4), b = mid(kLoaded, 4, 4), c = mid(kLoaded, 8, 4), d = mid(kLoaded, 12, 4);
    const List e{"E", "e", "5", "e@"};
    const List none{keep, keep, keep, keep};
    const List loaded = kLoaded;
    const List phone{keep, keep, "22", keep};
    const List otherPhone{"B", "b", "2!", "b@"};
    const List bChanged{"B!", "b!", "2", "b@"}, twins = a + b + b + d;
    const struct {
        const char* name;
        List loaded, now;
        int number;
        List edit, replaces;
        std::string outcome;
        List result;
    } rows[] = {
        {"unchanged file", loaded, loaded, 2, phone, none, "write 2", a + List{"B", "b", "22", "b@"} + c + d},
        {"record before removed", loaded, a + c + d, 3, List{keep, keep, "33", keep}, none, "write 2",
         a + List{"C", "b", "33", "c@"} + d},
        {"order reversed", loaded, d + c + b + a, 1, List{"A2", keep, keep, keep}, none, "write 4",
         d + c + b + List{"A2", "a", "1", "a@"}},
        {"record appended", loaded, loaded + e, 4, List{keep, keep, keep, "d2@"}, none, "write 4",
         a + b + c + List{"D", "d", "", "d2@"} + e},
        {"other field changed by another copy", loaded, a + otherPhone + c + d, 2, List{keep, keep, keep, "b2@"}, none,
         "write 2", a + List{"B", "b", "2!", "b2@"} + c + d},
        {"same field changed by another copy", loaded, a + otherPhone + c + d, 2, phone, none, "conflict 2",
         a + otherPhone + c + d},
        {"same field changed alike", loaded, a + List{"B", "b", "22", "b@"} + c + d, 2, phone, none, "write 2",
         a + List{"B", "b", "22", "b@"} + c + d},
        {"person chose to replace the other value", loaded, a + otherPhone + c + d, 2, phone,
         List{keep, keep, "2!", keep}, "write 2", a + List{"B", "b", "22", "b@"} + c + d},
        {"other value changed again after the choice", loaded, a + otherPhone + c + d, 2, phone,
         List{keep, keep, "2?", keep}, "conflict 2", a + otherPhone + c + d},
        {"two fields in conflict, a third merged", loaded, a + List{"B!", "b", "2!", "b@"} + c + d, 2,
         List{"B2", keep, "22", "b2@"}, none, "conflict 0 2", a + List{"B!", "b", "2!", "b@"} + c + d},
        {"person removed", loaded, a + c + d, 2, phone, none, "not found", a + c + d},
        {"person stands twice", loaded, a + c + b + b + d, 2, phone, none, "not found", a + c + b + b + d},
        {"file emptied", loaded, List{}, 1, phone, none, "not found", List{}},
        {"most of the person changed", loaded, a + List{"B!", "b!", "2!", "b@"} + c + d, 2,
         List{keep, keep, keep, "b2@"}, none, "not found", a + List{"B!", "b!", "2!", "b@"} + c + d},
        {"person changed and a neighbour too", loaded, List{"A!", "a", "1", "a@"} + otherPhone + c + d, 2,
         List{keep, keep, keep, "b2@"}, none, "not found", List{"A!", "a", "1", "a@"} + otherPhone + c + d},
        {"place taken by another loaded person sharing two fields", loaded, a + c + c + d, 2, phone, none, "not found",
         a + c + c + d},
        {"person gone, and the next person's twin changed in their place", a + b + c + c + d,
         a + List{"C!", "b", "2", "c@"} + c + c + d, 2, List{keep, keep, keep, "b2@"}, none, "not found",
         a + List{"C!", "b", "2", "c@"} + c + c + d},
        {"newcomer sharing only empty fields", loaded, a + b + c + mid(e, 0, 2) + List{"", ""}, 4,
         List{keep, keep, keep, "d2@"}, none, "not found", a + b + c + mid(e, 0, 2) + List{"", ""}},
        {"last person cut short", loaded, a + b + c + List{"D", "d"}, 4, List{"D2", keep, keep, keep}, none, "write 4",
         a + b + c + List{"D2", "d", "", ""}},
        {"empty fields another program cut off", loaded, a + b + c + List{"D", "d"}, 4, List{keep, keep, keep, "d2@"},
         none, "write 4", a + b + c + List{"D", "d", "", "d2@"}},
        {"edit that changes nothing completes a cut person", loaded, a + b + c + List{"D", "d"}, 4, none, none,
         "write 4", a + b + c + List{"D", "d", "", ""}},
        {"person's twin moved beside them, changed", twins, b + b + bChanged + d, 3, List{keep, keep, keep, "b2@"},
         none, "not found", b + b + bChanged + d},
        {"person with a twin changed in place", twins, a + b + bChanged + d, 3, List{keep, keep, keep, "b2@"}, none,
         "write 3", a + b + List{"B!", "b!", "2", "b2@"} + d},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            const auto loadedGrid = RecordGrid::fromText(fileOf(row.loaded));
            auto onDisk = RecordGrid::fromText(fileOf(row.now));
            RecordEdit recordEdit;
            for (int f = 0; f < kFieldCount; ++f) {
                if (row.edit[f])
                    recordEdit[f] = FieldEdit{*row.edit[f], std::nullopt};
                if (row.replaces[f])
                    recordEdit[f]->replaces = *row.replaces[f];
            }
            const EditPlan plan = planEdit(loadedGrid, std::size_t(row.number), onDisk, recordEdit);
            std::string got;
            if (plan.kind == EditPlan::Kind::Write)
                got = "write " + std::to_string(plan.at);
            else if (plan.kind == EditPlan::Kind::PersonNotFound)
                got = "not found";
            else
                for (const EditConflict& conflict : plan.conflicts) {
                    got += (got.empty() ? "conflict " : " ") + std::to_string(fieldIndex(conflict.field));
                    CHECK(conflict.mine == recordEdit[conflict.field]->value);
                    CHECK(conflict.theirs == onDisk.record(plan.at)[conflict.field]);
                }
            CHECK(got == row.outcome);
            if (plan.saved())
                onDisk.apply(onDisk.replacementFor(plan.at, plan.values));
            CHECK(onDisk.text() == fileOf(row.result));
        }
    }
}

// Each row replaces some values of one record; everything else keeps its bytes, and the grid's own
// index of the new text agrees with a fresh reading of it.
TEST_CASE("replacementKeepsEveryOtherRecordAndUntouchedBytes")
{
    const auto file = [](const std::vector<std::string>& items) { return fileOf(items); };
    const std::string three = file({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
    const std::string threeEdited = file({"A", "a", "1", "a@", "B", "b \"2\"", "2", "b@", "C", "c", "3", "c@"});
    const List middle{keep, "b \"2\"", keep, keep};
    const struct {
        const char* name;
        std::string text;
        int number;
        List values;
        std::string expected;
    } rows[] = {
        {"middle record", three, 2, middle, threeEdited},
        {"first record, no other change", three, 1, List{"A2", keep, keep, keep},
         file({"A2", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"})},
        {"older single-byte text and LF kept in untouched fields",
         std::string("\"A\"\n\"M\xFC"
                     "ller\"\n1\n\"a@\"\n") +
             three,
         1, List{keep, keep, keep, "new@"},
         std::string("\"A\"\r\n\"M\xFC"
                     "ller\"\r\n\"1\"\r\n\"new@\"\r\n") +
             three},
        {"byte-order mark kept", std::string("\xEF\xBB\xBF") + three, 1, List{"A2", keep, keep, keep},
         std::string("\xEF\xBB\xBF") + file({"A2", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"})},
        {"untidy last record", three + "\"D\"\n\"d\"\n\"4\"\n\"d@\"", 4, List{"D2", keep, keep, keep},
         three + file({"D2", "d", "4", "d@"})},
        {"incomplete last record left alone", three + "\"D\"\r\n", 2, middle, threeEdited + "\"D\"\r\n"},
        {"incomplete last record completed", three + "\"D\"\r\n", 4, List{keep, "d", keep, keep},
         three + file({"D", "d", "", ""})},
        {"unterminated last value kept", three + "\"D\"\r\n\"d\r\n", 4, List{keep, keep, "4", keep},
         three + "\"D\"\r\n\"d\r\n\"\r\n\"4\"\r\n\"\"\r\n"},
        {"one line, first edited", std::string("\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n"), 1,
         List{"X", keep, keep, keep}, file({"X", "b", "c", "d", "e", "f", "g", "h"})},
        {"one line, second edited, unquoted values", std::string("a,b,c,d,e,f,g,h\r\n") + three, 2,
         List{keep, keep, "G", keep}, file({"a", "b", "c", "d", "e", "f", "G", "h"}) + three},
        {"trailing comma before the next record",
         std::string("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\",\r\n\"f\"\r\n\"g\"\r\n\"h\"\r\n") + three, 1,
         List{keep, keep, keep, "D"}, file({"a", "b", "c", "D", "", "f", "g", "h"}) + three},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            auto grid = RecordGrid::fromText(row.text);
            FieldValues fieldValues;
            for (int f = 0; f < kFieldCount; ++f)
                fieldValues[f] = row.values[f];
            const RecordGrid::Replacement replacement = grid.replacementFor(std::size_t(row.number), fieldValues);
            // The content a save writes, written to a file of its own.
            TemporaryFolder folder;
            const std::filesystem::path written = folder.path() / "saved.txt";
            {
                Result<NativeFile> saved = NativeFile::open(written, NativeFile::Access::Append);
                REQUIRE(saved.ok());
                FileSink sink(saved.value());
                REQUIRE(grid.writeWith(replacement, sink).ok());
            }
            const std::string pieces = readFile(written).value_or("(unreadable)");
            CHECK(pieces.size() == grid.sizeWith(replacement));
            grid.apply(replacement);
            CHECK(grid.text() == row.expected);
            CHECK(pieces == grid.text());
            const auto reread = RecordGrid::fromText(grid.text());
            REQUIRE(grid.recordCount() == reread.recordCount());
            CHECK(grid.itemCount() == reread.itemCount());
            for (std::size_t r = 1; r <= reread.recordCount(); ++r) {
                CAPTURE(r);
                CHECK(grid.sameRecord(r, reread, r));
            }
        }
    }
}

// Each row makes a text, replaces a range of it and appends to it; the list's private copy and the
// block of memory under it hold what a string would, however far the rest moves.
TEST_CASE("storesHoldWhatAStringWould")
{
    std::string big(600 * 1024, 'x'); // longer than two steps of a store's moving
    for (std::size_t i = 0; i < big.size(); i += 97)
        big[i] = char('a' + i % 26);
    const struct {
        const char* name;
        std::string text;
        std::size_t from, to;
        std::string with;
    } rows[] = {
        {"nothing replaced", "abc", 3, 3, ""},
        {"into an empty store", "", 0, 0, "abc"},
        {"grown in the middle", "0123456789", 2, 4, "ABCDEFGH"},
        {"shrunk in the middle", "0123456789", 2, 8, "A"},
        {"grown at the start", "0123456789", 0, 0, "AB"},
        {"replaced at the end", "0123456789", 8, 10, "ABCDEF"},
        {"emptied", "0123456789", 0, 10, ""},
        {"long rest moved out", big, 5, 6, std::string(1000, 'y')},
        {"long rest moved in", big, 5, 2000, "y"},
        {"long rest moved by less than a step", big, 300 * 1024, 300 * 1024 + 3, "yy"},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            std::string model = row.text;
            model.replace(row.from, row.to - row.from, row.with);
            model += "end";

            TextStore store;
            store.append(row.text);
            store.replace(row.from, row.to, row.with);
            store.append("end");
            CHECK(store.size() == model.size());
            std::string read;
            store.read(0, store.size(), read);
            CHECK(read == model);
            store.read(model.size() / 3, model.size() / 2, read);
            CHECK(read == model.substr(model.size() / 3, model.size() / 2));
            const TextStore moved = std::move(store);
            moved.read(0, moved.size(), read);
            CHECK(read == model);
            CHECK(store.size() == 0);

            LargeBlock block;
            block.append(row.text);
            block.replace(row.from, row.to, row.with);
            block.append("end");
            CHECK(block.view() == model);
            // The memory past the size, asked for as the block grew, goes back to the system whole pages at a time.
            block.releaseUnused();
            CHECK(block.view() == model);
            CHECK(block.capacity() == (model.size() + 4095) / 4096 * 4096);
            block.clear();
            CHECK(block.size() == 0);
            block.append(row.with);
            CHECK(block.view() == row.with);
        }
    }
}

namespace {

std::vector<std::size_t> endsIn(const RecordEnds& index)
{
    std::vector<std::size_t> ends;
    for (std::size_t r = 0; r < index.size(); ++r)
        ends.push_back(index[r]);
    return ends;
}

} // namespace

// Each row indexes ends, some with flags, then rewrites some of them and moves the later ones as a save
// does; every end reads back as a plain list of them would hold it. The tests' builds keep few bits of
// each end, so that short lists cross from run to run; the last rows cross them at full size.
TEST_CASE("recordEndsReadBackAsWrittenAcrossRuns")
{
    constexpr std::size_t comma = RecordEnds::kAfterComma, line = RecordEnds::kEndsALine;
    std::vector<std::size_t> steady;
    for (std::size_t end = 16; end <= 4000; end += 37)
        steady.push_back(end | (end % 3 == 0 ? line : 0) | (end % 5 == 0 ? comma : 0));
    const std::size_t lastEnd = steady.back() & ~RecordEnds::kFlags;
    // Records 10 to 79, which ended 2939 bytes in, cut to a byte each.
    std::vector<std::size_t> squeezed;
    for (std::size_t end = 351; end <= 420; ++end)
        squeezed.push_back(end | line);
    const struct {
        const char* name;
        std::vector<std::size_t> ends;
        std::size_t first;
        std::vector<std::size_t> rewritten;
        std::size_t oldTail, newTail;
    } rows[] = {
        {"nothing rewritten", steady, 0, {}, 0, 0},
        {"one end longer, the rest moved out", steady, 3, {150 | line}, 127, 150},
        {"one end shorter, the rest moved in", steady, 3, {112}, 127, 112},
        {"moved out across many runs", steady, 0, {1000 | comma}, 16, 1000},
        {"moved in across many runs", steady, 10, squeezed, 2939, 420},
        {"last end rewritten", steady, steady.size() - 1, {5000 | line | comma}, lastEnd, 5000},
        {"first of one end", {20 | line}, 0, {700}, 20, 700},
        {"the rest carried past the first run", {20, 60 | comma, 100 | line}, 0, {70 | comma}, 20, 70},
#ifndef TESSELBY_RECORD_END_LOW_BITS
        {"the rest carried past the first gigabyte",
         {20, 60 | comma, ((std::size_t(1) << 30) - 28) | line},
         0,
         {70 | comma},
         20,
         70},
        {"ends past 4 GiB",
         {100, (std::size_t(5) << 30) | line, (std::size_t(9) << 30) | comma},
         1,
         {(std::size_t(1) << 30) + 10},
         std::size_t(5) << 30,
         (std::size_t(1) << 30) + 10},
        {"moved back under 4 GiB",
         {100, (std::size_t(5) << 30) | line, (std::size_t(9) << 30) | comma},
         0,
         {50},
         100,
         50},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            RecordEnds index;
            index.reserve(row.ends.size());
            for (const std::size_t end : row.ends)
                index.push_back(end);
            REQUIRE(endsIn(index) == row.ends);
            std::vector<std::size_t> expected = row.ends;
            for (std::size_t r = 0; r < expected.size(); ++r) {
                if (r >= row.first && r < row.first + row.rewritten.size())
                    expected[r] = row.rewritten[r - row.first];
                else if (r >= row.first + row.rewritten.size())
                    expected[r] = ((expected[r] & ~RecordEnds::kFlags) - row.oldTail + row.newTail) |
                                  (expected[r] & RecordEnds::kFlags);
            }
            index.rewrite(row.first, row.rewritten, row.oldTail, row.newTail);
            CHECK(endsIn(index) == expected);
            CHECK(index.back() == expected.back());
        }
    }
}

// TESSELBY_PORTABLE_PATHS, as the tests' second run sets it, reaches the scan and the search.
TEST_CASE("portablePathsFollowTheEnvironment")
{
    const char* value = std::getenv("TESSELBY_PORTABLE_PATHS");
    const bool asked = value != nullptr && std::string(value) != "" && std::string(value) != "0";
    CHECK(portablePathsForced() == asked);
#if TESSELBY_HAVE_AVX2
    if (asked)
        CHECK_FALSE(useAvx2AndBmi2());
#endif
}
