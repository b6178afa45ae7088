#include <new>
#include <optional>
#include <ostream>
#include <vector>

#include "CaseFolding.h"
#include "ContactCommands.h"
#include "ContactWriter.h"
#include "DataFile.h"
#include "ListQuery.h"
#include "ListValues.h"
#include "disk/DataFilePath.h"

namespace tesselby {

namespace {

// Every whole record of the list that the query matches, in file order.
Result<std::vector<Record>> findRecords(const std::filesystem::path& list, const Query& query)
{
    const Result<std::string> text = readDataFile(list);
    if (!text)
        return text.error();
    std::vector<Record> found;
    ListValues values([&](const ListValues::Values& record) {
        if (!query.matches(record))
            return;
        Record& kept = found.emplace_back();
        for (const Field field : kFields)
            kept[field] = record[field];
    });
    RecordStream stream;
    if (const Result<bool> walked = stream.walk(sourceOf(text.value()), values); !walked)
        return walked.error();
    return found;
}

} // namespace

int runList(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> fieldName, format, text;
    bool ignoreCase = false, any = false;
    bool options = true;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const Result<bool, std::string> taken =
            options ? takeOption(args, at, {{"--field", &fieldName}, {"--format", &format}}) : false;
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
        } else if (options && args[at].size() > 1 && args[at][0] == '-') {
            return usageError(streams.err, "list has no option " + args[at]);
        } else if (text) {
            return usageError(streams.err, "list takes one text to look for, and was given two");
        } else {
            text = args[at];
        }
    }
    Field field = Field::FirstName;
    if (fieldName) {
        const std::optional<Field> named = fieldForOption(*fieldName);
        if (!named)
            return usageError(streams.err, "the field is first, last, phone or email, not " + *fieldName);
        field = *named;
        if (any)
            return usageError(streams.err, "list looks in one field or, with --any, in all four; not both");
    }
    // The query formats of mail clients: mutt's says the count on its first line, aerc's only the people.
    const bool aerc = format && *format == "aerc";
    const bool mutt = (format && *format == "mutt") || aerc;
    if (format && !mutt && *format != "tab")
        return usageError(streams.err, "the format is tab, mutt or aerc, not " + *format);

    // A mail client's query is typed as it comes: it looks in the names and the address, without case.
    Query query;
    query.ignoreCase = ignoreCase || mutt;
    query.text = query.ignoreCase ? foldCase(text.value_or("")) : text.value_or("");
    if (any) {
        query.fields.fill(true);
    } else if (mutt && !fieldName) {
        query.fields = {true, true, false, true};
        query.wholeName = true;
    } else {
        query.fields[field] = true;
    }

    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    std::vector<Record> records;
    try {
        if (query.ignoreCase || any || mutt) {
            Result<std::vector<Record>> found = findRecords(list, query);
            if (!found) {
                reportFailure(streams.err, found.error(), "could not be read");
                return kExitProblem;
            }
            records = std::move(found.value());
        } else {
            // Exact, in one field: the data layer's search, which never reads the list whole.
            RecordSearch search;
            MatchList matches;
            if (Status searched = searchDataFile(list, search, field, query.text, matches); !searched) {
                reportFailure(streams.err, searched.error(), "could not be read");
                return kExitProblem;
            }
            for (std::size_t i = 0; i < matches.size(); ++i)
                streams.out << recordLine(matches.record(i)) << '\n';
            return finishOutput(streams.out, streams.err, matches.size() == 0 ? kExitProblem : kExitSuccess);
        }
        if (!mutt) {
            for (const Record& record : records)
                streams.out << recordLine(record) << '\n';
            return finishOutput(streams.out, streams.err, records.empty() ? kExitProblem : kExitSuccess);
        }
        // A mail client wants an address on every line, and says the first line to the person.
        std::string lines;
        std::size_t found = 0;
        for (const Record& record : records) {
            if (record[Field::Email].empty())
                continue;
            ++found;
            lines += oneLine(record[Field::Email]) + '\t' +
                     oneLine(fullName(record[Field::FirstName], record[Field::LastName])) + '\t' +
                     oneLine(record[Field::Phone]) + '\n';
        }
        if (!aerc)
            streams.out << "Tesselby: " << peopleCount(found) << " found\n";
        streams.out << lines;
        return finishOutput(streams.out, streams.err, found == 0 ? kExitProblem : kExitSuccess);
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, FileError::Cause::TooLargeToOpen});
        return kExitProblem;
    }
}

} // namespace tesselby
