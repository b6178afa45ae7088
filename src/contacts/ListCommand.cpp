#include <array>
#include <new>
#include <ostream>

#include "ContactCommands.h"
#include "DataFile.h"
#include "DataFilePath.h"

namespace tesselby {

namespace {

constexpr std::array<std::string_view, kFieldCount> kFieldNames = {"first", "last", "phone", "email"};

} // namespace

int runList(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> fieldName, format, text;
    bool options = true;
    for (std::size_t at = 0; at < args.size(); ++at) {
        std::string error;
        if (options && args[at] == "--") {
            options = false;
        } else if (options && (optionValue(args, at, "--field", fieldName, error) ||
                               optionValue(args, at, "--format", format, error))) {
            if (!error.empty())
                return usageError(streams.err, error);
        } else if (options && args[at].size() > 1 && args[at][0] == '-') {
            return usageError(streams.err, "list has no option " + args[at]);
        } else if (text) {
            return usageError(streams.err, "list takes one text to look for, and was given two");
        } else {
            text = args[at];
        }
    }
    int field = 1;
    if (fieldName) {
        field = 0;
        for (int f = 0; f < kFieldCount; ++f)
            if (*fieldName == kFieldNames[f])
                field = f + 1;
        if (field == 0)
            return usageError(streams.err, "the field is first, last, phone or email, not " + *fieldName);
    }
    const bool mutt = format && *format == "mutt";
    if (format && !mutt && *format != "tab")
        return usageError(streams.err, "the format is tab or mutt, not " + *format);

    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    RecordSearch search;
    MatchList matches;
    try {
        if (Status searched = searchDataFile(list, search, field, text.value_or(""), matches); !searched) {
            reportFailure(streams.err, searched.error(), "could not be read");
            return kExitProblem;
        }
        if (!mutt) {
            for (std::size_t i = 0; i < matches.size(); ++i)
                streams.out << recordLine(matches.record(i)) << '\n';
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
        // A mail client wants an address on every line, and says the first line to the person.
        std::string lines;
        std::size_t found = 0;
        for (std::size_t i = 0; i < matches.size(); ++i) {
            const Record record = matches.record(i);
            if (record[3].empty())
                continue;
            ++found;
            const std::string name =
                record[0].empty() || record[1].empty() ? record[0] + record[1] : record[0] + ' ' + record[1];
            lines += oneLine(record[3]) + '\t' + oneLine(name) + '\t' + oneLine(record[2]) + '\n';
        }
        streams.out << "Tesselby: " << peopleCount(found) << " found\n" << lines;
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, kTooLargeToOpen});
        return kExitProblem;
    }
    return finishOutput(streams.out, streams.err, kExitSuccess);
}

} // namespace tesselby
