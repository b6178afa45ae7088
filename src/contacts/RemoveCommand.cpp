#include <algorithm>
#include <charconv>
#include <istream>
#include <ostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "ContactCommands.h"
#include "DataFile.h"
#include "ListQuery.h"
#include "disk/DataFilePath.h"

namespace tesselby {

namespace {

constexpr char kNobody[] = "nobody matched: nothing was removed";
constexpr char kChangedSinceAsked[] = "another program changed who matches since you were asked; run remove again";

bool onTerminal()
{
#ifdef _WIN32
    return _isatty(0) != 0 && _isatty(1) != 0;
#else
    return ::isatty(0) != 0 && ::isatty(1) != 0;
#endif
}

std::string personName(const Record& record)
{
    const std::string name = fullName(record[0], record[1]);
    return name.empty() ? "a person without a name" : name;
}

// The list without the records numbered in gone (ascending), each one's lines taken out; records that
// share a line with one of them are written again on lines of their own.
Result<std::string> without(const std::string& list, const RecordGrid& grid, const std::vector<std::size_t>& gone)
{
    std::string result = list;
    std::size_t lastFrom = SIZE_MAX;
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        const RecordGrid::Replacement lines = grid.replacementFor(*it, FieldValues{});
        if (lines.to > lastFrom)
            return FileError{std::filesystem::path(), "two of the people to remove share a line of the list; "
                                                      "remove them one at a time"};
        const std::size_t index = *it - lines.firstRecord;
        const std::size_t start = index == 0 ? 0 : lines.recordEnds[index - 1];
        std::string kept = lines.lines;
        kept.erase(start, lines.recordEnds[index] - start);
        result.replace(lines.from, lines.to - lines.from, kept);
        lastFrom = lines.from;
    }
    return result;
}

} // namespace

int runRemove(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> fieldName, recordText, text;
    bool ignoreCase = false, any = false, yes = false, dryRun = false, options = true;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const Result<bool, std::string> taken =
            options ? takeOption(args, at, {{"--field", &fieldName}, {"--record", &recordText}}) : false;
        if (!taken)
            return usageError(streams.err, taken.error());
        if (taken.value())
            continue;
        if (options && args[at] == "--") {
            options = false;
        } else if (options && (args[at] == "-i" || args[at] == "--ignore-case")) {
            ignoreCase = true;
        } else if (options && args[at] == "--any") {
            any = true;
        } else if (options && (args[at] == "-y" || args[at] == "--yes")) {
            yes = true;
        } else if (options && args[at] == "--dry-run") {
            dryRun = true;
        } else if (options && args[at].size() > 1 && args[at][0] == '-') {
            return usageError(streams.err, "remove has no option " + args[at]);
        } else if (text) {
            return usageError(streams.err, "remove takes one text to look for, and was given two");
        } else {
            text = args[at];
        }
    }
    if (text.has_value() == recordText.has_value())
        return usageError(streams.err, "remove takes a text to look for or --record N, one of them");
    std::size_t recordNumber = 0;
    if (recordText) {
        const auto [end, failed] =
            std::from_chars(recordText->data(), recordText->data() + recordText->size(), recordNumber);
        if (failed != std::errc() || end != recordText->data() + recordText->size() || recordNumber == 0)
            return usageError(streams.err,
                              "the record number counts from 1, as the browse screen does, not " + *recordText);
        if (fieldName || any || ignoreCase)
            return usageError(streams.err, "--record names one record; it takes no --field, --any or -i");
    }
    Query query;
    query.ignoreCase = ignoreCase;
    query.text = ignoreCase ? foldCase(text.value_or("")) : text.value_or("");
    if (any) {
        if (fieldName)
            return usageError(streams.err, "remove looks in one field or, with --any, in all four; not both");
        query.fields.fill(true);
    } else {
        const std::optional<Field> field = fieldForOption(fieldName.value_or("first"));
        if (!field)
            return usageError(streams.err, "the field is first, last, phone or email, not " + *fieldName);
        query.fields[*field] = true;
    }
    const bool ask = !yes && !dryRun;
    if (ask && !onTerminal())
        return usageError(streams.err, "remove asks before it takes people out; give --yes where nobody can answer");

    const std::filesystem::path list = dataFilePath(kDataFileWritePath);
    auto matching = [&](const RecordGrid& grid) {
        std::vector<std::size_t> gone;
        if (recordText) {
            if (recordNumber <= grid.recordCount())
                gone.push_back(recordNumber);
            return gone;
        }
        for (std::size_t r = 1; r <= grid.recordCount(); ++r) {
            const Record record = grid.record(r);
            if (query.matches({record[0], record[1], record[2], record[3]}))
                gone.push_back(r);
        }
        return gone;
    };
    // Asked without the lock held, so that the screens can save while the person thinks; the removal then
    // takes out exactly the people shown, or nobody when the list changed meanwhile.
    std::vector<Record> shown;
    if (ask || dryRun) {
        const Result<std::string> now = readDataFile(list);
        if (!now) {
            reportFailure(streams.err, now.error(), "could not be read");
            return kExitProblem;
        }
        const RecordGrid grid = RecordGrid::fromText(now.value());
        for (const std::size_t r : matching(grid)) {
            shown.push_back(grid.record(r));
            streams.out << (dryRun ? "would go:\t" : "to remove:\t") << recordLine(shown.back()) << '\n';
        }
        if (shown.empty()) {
            streams.err << kCommandName << ": " << kNobody << '\n';
            return kExitProblem;
        }
        if (dryRun)
            return finishOutput(streams.out, streams.err, kExitSuccess);
        streams.out << "Remove " << peopleCount(shown.size()) << "? [y/N] " << std::flush;
        std::string answer;
        std::getline(streams.in, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            streams.out << "nobody was removed\n";
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
    }
    bool nobody = false;
    const Status removed = rewriteList(list, [&](const std::string& now) -> Result<std::optional<ListRewrite>> {
        const RecordGrid grid = RecordGrid::fromText(now);
        const std::vector<std::size_t> gone = matching(grid);
        if (gone.empty()) {
            nobody = true;
            return std::optional<ListRewrite>();
        }
        std::string names;
        for (std::size_t i = 0; i < gone.size(); ++i) {
            const Record record = grid.record(gone[i]);
            if (ask && (gone.size() != shown.size() || record != shown[i]))
                return FileError{list, kChangedSinceAsked};
            if (i < 3)
                names += (i > 0 ? ", " : "") + personName(record);
        }
        if (gone.size() > 3)
            names += ", …";
        Result<std::string> kept = without(now, grid, gone);
        if (!kept)
            return FileError{list, kept.error().reason()};
        return std::optional<ListRewrite>(
            ListRewrite{std::move(kept.value()),
                        gone.size() == 1 ? "removed " + names : "removed " + peopleCount(gone.size()) + ": " + names});
    });
    if (!removed) {
        reportFailure(streams.err, removed.error(), "nobody was removed");
        return kExitProblem;
    }
    if (nobody) {
        streams.err << kCommandName << ": " << kNobody << '\n';
        return kExitProblem;
    }
    return finishOutput(streams.out, streams.err, kExitSuccess);
}

} // namespace tesselby
