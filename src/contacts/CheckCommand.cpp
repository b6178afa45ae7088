#include <algorithm>
#include <new>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ContactCommands.h"
#include "DataFile.h"
#include "ListCheck.h"
#include "disk/AddJournal.h"
#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"

namespace tesselby {

namespace {

constexpr char kCutAddTakenBack[] =
    "an add was stopped before it finished (the program was killed, the computer went off or the disk failed); "
    "the people it was adding had not been reported as added, and what it had written is now taken out of the list";
constexpr char kCutAddSetAside[] =
    "an add that was stopped before it finished left this record of what it was adding, but the record does not "
    "prove what the add wrote (the list was changed or replaced since, or the record is not an ordinary file of "
    "yours), so nothing was taken out; look at the end of the list for people added in part or twice, then "
    "remove this file";

} // namespace

int runCheck(std::span<const std::string> args, CommandStreams streams)
{
    if (!args.empty())
        return usageError(streams.err, "check takes no arguments, and was given " + args.front());
    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    ListReport report;
    // Reading the list takes back an add that was stopped, or sets its journal aside.
    const Result<std::filesystem::path> target = finalTarget(list);
    const bool stoppedAdd = target && addWasInterrupted(target.value());
    const std::size_t setAsideBefore = target ? setAsideAddJournals(target.value()).size() : 0;
    try {
        const Result<std::string> text = readDataFile(list);
        if (!text) {
            reportFailure(streams.err, text.error(), "could not be read");
            return kExitProblem;
        }
        report = checkList(text.value());
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, FileError::Cause::TooLargeToOpen});
        return kExitProblem;
    }
    const std::string name = pathText(list);
    const std::vector<std::filesystem::path> setAside =
        target ? setAsideAddJournals(target.value()) : std::vector<std::filesystem::path>();
    if (stoppedAdd && setAside.size() == setAsideBefore)
        streams.out << name << ": " << kCutAddTakenBack << '\n';
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
    for (const std::filesystem::path& journal : setAside)
        streams.out << pathText(journal) << ": " << kCutAddSetAside << '\n';
    return finishOutput(streams.out, streams.err, report.clean() && setAside.empty() ? kExitSuccess : kExitProblem);
}

} // namespace tesselby
