#include <iostream>
#include <new>
#include <vector>

#include "ContactCommands.h"
#include "ContactImport.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "FileSystem.h"
#include "NativeFile.h"

namespace tesselby {

namespace {

Result<std::string> readInput(const std::string& name, std::istream& in)
{
    if (name != "-") {
        // An export over a file of several names that was cut off is put right before it is read.
        if (const Result<std::filesystem::path> target = finalTarget(name); target) {
            if (Status putRight = putRightCutOffWrite(target.value()); !putRight)
                return putRight.error();
        }
        Result<NativeFile> file = NativeFile::open(std::filesystem::path(name), NativeFile::Access::Read);
        if (!file)
            return file.error();
        return file.value().readAll();
    }
    // Read through the stream, not its buffer, so that a failed read sets the stream's state.
    std::string bytes;
    std::vector<char> chunk(std::size_t(64) << 10);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
        bytes.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        return FileError{"-", "standard input could not be read"};
    return bytes;
}

} // namespace

int runImport(std::span<const std::string> args, CommandStreams streams)
{
    bool dryRun = false;
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--")
            options = false;
        else if (options && arg == "--dry-run")
            dryRun = true;
        else if (options && arg.size() > 1 && arg[0] == '-')
            return usageError(streams.err, "import has no option " + arg);
        else
            files.push_back(arg);
    }
    if (files.empty())
        return usageError(streams.err, "import needs at least one file");

    const std::filesystem::path list = dataFilePath(kDataFileWritePath);
    int status = kExitSuccess;
    for (const std::string& name : files) {
        try {
            const Result<std::string> bytes = readInput(name, streams.in);
            if (!bytes) {
                reportFailure(streams.err, bytes.error(), "could not be read");
                status = kExitProblem;
                continue;
            }
            const ContactsRead read = readContacts(bytes.value());
            for (const ContactProblem& problem : read.problems)
                streams.err << name << ':' << problem.line << ": " << problem.message << '\n';
            if (!read.problems.empty())
                status = kExitProblem;
            if (dryRun) {
                for (const Record& record : read.records)
                    streams.out << recordLine(record) << '\n';
                streams.err << name << ": " << peopleCount(read.records.size()) << " would be added\n";
                continue;
            }
            if (!read.records.empty()) {
                if (Status added = appendRecords(list, read.records); !added) {
                    reportFailure(streams.err, added.error(), "the people from " + name + " were not added");
                    status = kExitProblem;
                    continue;
                }
            }
            streams.err << name << ": " << peopleCount(read.records.size()) << " added\n";
        } catch (const std::bad_alloc&) {
            streams.err << name << ": too large to import: it needs more memory than the program may take\n";
            status = kExitProblem;
        }
    }
    return finishOutput(streams.out, streams.err, status);
}

} // namespace tesselby
