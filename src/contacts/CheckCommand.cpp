#include <algorithm>
#include <new>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ContactCommands.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "ListCheck.h"

namespace tesselby {

int runCheck(std::span<const std::string> args, CommandStreams streams)
{
    if (!args.empty())
        return usageError(streams.err, "check takes no arguments, and was given " + args.front());
    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    ListReport report;
    try {
        const Result<std::string> text = readDataFile(list);
        if (!text) {
            reportFailure(streams.err, text.error(), "could not be read");
            return kExitProblem;
        }
        report = checkList(text.value());
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, kTooLargeToOpen});
        return kExitProblem;
    }
    const std::string name = pathText(list);
    streams.out << name << ": " << report.records << (report.records == 1 ? " record" : " records") << '\n';
    // In file order, as a compiler's messages are, so that an editor can walk them.
    std::vector<std::pair<std::size_t, std::string>> lines;
    if (report.itemsInLastRecord != 0) {
        lines.emplace_back(report.lastRecordLine,
                           "the last record is incomplete: " + std::to_string(report.itemsInLastRecord) + " of its " +
                               std::to_string(kFieldCount) + " values");
    }
    for (const ListFinding& finding : report.findings) {
        std::string line = describe(finding.kind);
        if (finding.count > 1)
            line += " (" + std::to_string(finding.count) + ", the first here)";
        lines.emplace_back(finding.firstLine, std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [at, line] : lines)
        streams.out << name << ':' << at << ": " << line << '\n';
    return finishOutput(streams.out, streams.err, report.clean() ? kExitSuccess : kExitProblem);
}

} // namespace tesselby
