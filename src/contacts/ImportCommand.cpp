#include <iostream>
#include <new>
#include <vector>

#include "ContactCommands.h"
#include "ContactImport.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "NativeFile.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace tesselby {

namespace {

Result<std::string> readInput(const std::string& name, std::istream& in)
{
    if (name != "-") {
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

// While it lives, Ctrl+C, a closed terminal and a plain kill wait: an import's add, once begun, ends and
// says so before they stop the command, so that it is whole in the list or not there at all. A kill
// that cannot wait (SIGKILL, a power cut) is taken back by the add's journal.
class StopsDeferred {
public:
    StopsDeferred()
    {
#ifndef _WIN32
        sigset_t stops;
        sigemptyset(&stops);
        for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&stops, stop);
        m_blocked = ::sigprocmask(SIG_BLOCK, &stops, &m_before) == 0;
#endif
    }
    ~StopsDeferred()
    {
#ifndef _WIN32
        if (m_blocked)
            ::sigprocmask(SIG_SETMASK, &m_before, nullptr);
#endif
    }
    StopsDeferred(const StopsDeferred&) = delete;
    StopsDeferred& operator=(const StopsDeferred&) = delete;

private:
#ifndef _WIN32
    sigset_t m_before{};
    bool m_blocked = false;
#endif
};

// Adds the people read from name and says how that went; false when they were not added.
bool addPeople(const std::filesystem::path& list, const std::string& name, const std::vector<Record>& records,
               std::ostream& err)
{
    const StopsDeferred deferred;
    const Status added = records.empty() ? Status() : appendRecords(list, records);
    if (!added) {
        reportFailure(err, added.error(), "the people from " + name + " were not added");
        return false;
    }
    err << name << ": " << peopleCount(records.size()) << " added\n";
    // The people are in the list, and importing them again would double them: a success, with a warning.
    if (added.unconfirmed())
        reportFailure(err, *added.unconfirmed(),
                      "warning: the people from " + name + " were added, but this could not be confirmed");
    err.flush(); // before a deferred stop ends the command
    return true;
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

#ifndef _WIN32
    // A file-size limit then fails the write (EFBIG), which takes the add back, rather than killing the
    // command halfway through it.
    ::signal(SIGXFSZ, SIG_IGN);
#endif
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
            if (!addPeople(list, name, read.records, streams.err))
                status = kExitProblem;
        } catch (const std::bad_alloc&) {
            streams.err << name << ": too large to import: it needs more memory than the program may take\n";
            status = kExitProblem;
        }
    }
    return finishOutput(streams.out, streams.err, status);
}

} // namespace tesselby
