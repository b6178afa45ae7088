#include <new>
#include <ostream>

#include "ContactCommands.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "ListCheck.h"

namespace tesselby {

int runCheck(std::span<const std::string> args, CommandStreams streams)
{
    if (!args.empty())
        return usageError(streams.err, "check takes no argument " + args.front());
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
    if (report.itemsInLastRecord != 0) {
        streams.out << name << ':' << report.lastRecordLine
                    << ": the last record is incomplete: " << report.itemsInLastRecord << " of its " << kFieldCount
                    << " values\n";
    }
    for (const ListFinding& finding : report.findings) {
        streams.out << name << ':' << finding.firstLine << ": " << describe(finding.kind);
        if (finding.count > 1)
            streams.out << " (" << finding.count << ", the first here)";
        streams.out << '\n';
    }
    return finishOutput(streams.out, streams.err, report.clean() ? kExitSuccess : kExitProblem);
}

} // namespace tesselby
