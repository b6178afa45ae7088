#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "ContactCommands.h"
#include "ContactImport.h"
#include "DataFile.h"
#include "NewPeople.h"
#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"
#include "disk/NativeFile.h"
#include "history/ListHistory.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace tesselby {

namespace {

// The people in a file, or with "-" in standard input, read a piece at a time.
Result<ContactsRead> readFileContacts(const std::string& name, std::istream& in)
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
        const Result<std::uint64_t> size = file.value().size();
        constexpr std::size_t kPiece = std::size_t(256) << 10;
        // A pipe or a device has no size, and is read in order.
        if (!size || size.value() == 0)
            return readContacts([&file](char* into, std::size_t room) { return file.value().readSome(into, room); },
                                kPiece);
        return readContacts([&file](std::uint64_t offset, char* into,
                                    std::size_t room) { return file.value().readSomeAt(offset, into, room); },
                            kPiece, size.value());
    }
    // Read through the stream, not its buffer, so that a failed read sets the stream's state.
    return readContacts([&in](char* into, std::size_t room) -> Result<std::size_t> {
        if (!in.read(into, static_cast<std::streamsize>(room)) && in.bad())
            return FileError{"-", "standard input could not be read"};
        return static_cast<std::size_t>(in.gcount());
    });
}

// "17 people added, 5 already there; dropped: 12 addresses", what an import did with a file.
std::string importSummary(std::size_t added, std::string_view verb, std::size_t skipped, bool checked,
                          const DroppedValues& dropped)
{
    std::string summary = peopleCount(added) + std::string(verb);
    if (checked)
        summary += ", " + std::to_string(skipped) + " already there";
    if (const std::string left = dropped.describe(); !left.empty())
        summary += "; dropped: " + left;
    return summary;
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

// Adds the people read from name (those choose keeps) and says how that went, about them, in the words
// summary gives for the number of records written; false when they were not added.
bool addPeople(const std::filesystem::path& list, const std::string& name, const std::string& about,
               ImportedPeople& records, const AppendChoice& choose, std::ostream& err,
               const std::function<std::string(std::size_t)>& summary)
{
    const StopsDeferred deferred;
    const ImportNote note(name == "-" ? std::string("standard input")
                                      : pathText(std::filesystem::path(name).filename()));
    const Status added = records.empty() ? Status() : appendWrittenRecords(list, records.text(), choose);
    if (!added) {
        reportFailure(err, added.error(), "the people from " + name + " were not added");
        return false;
    }
    // A choice leaves in records only the people it kept.
    err << about << ": " << summary(records.size()) << '\n';
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
    bool allowDuplicates = false;
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--")
            options = false;
        else if (options && arg == "--dry-run")
            dryRun = true;
        else if (options && arg == "--allow-duplicates")
            allowDuplicates = true;
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
        const std::string about = std::string(kCommandName) + ": " + name;
        try {
            Result<ContactsRead> contacts = readFileContacts(name, streams.in);
            if (!contacts) {
                reportFailure(streams.err, contacts.error(), "could not be read");
                status = kExitProblem;
                continue;
            }
            ContactsRead& read = contacts.value();
            for (const ContactProblem& problem : read.problems)
                streams.err << about << ':' << problem.line << ": " << problem.message << '\n';
            if (!read.problems.empty())
                status = kExitProblem;
            NewPeople people(read.records);
            const AppendChoice keepNew = [&people](const ByteSource& source) { return people.keepNew(source); };
            if (dryRun) {
                if (!allowDuplicates) {
                    const Result<std::string> text = readDataFile(list);
                    const Result<std::string_view> kept =
                        text ? people.keepNew(sourceOf(text.value())) : Result<std::string_view>(text.error());
                    if (!kept) {
                        reportFailure(streams.err, kept.error(), "could not be read");
                        status = kExitProblem;
                        continue;
                    }
                }
                for (const Record& record : read.records)
                    streams.out << recordLine(record) << '\n';
                streams.err << about << ": "
                            << importSummary(read.records.size(), " would be added", people.skipped(), !allowDuplicates,
                                             read.dropped)
                            << '\n';
                continue;
            }
            if (!addPeople(list, name, about, read.records, allowDuplicates ? AppendChoice() : keepNew, streams.err,
                           [&](std::size_t added) {
                               return importSummary(added, " added", people.skipped(), !allowDuplicates, read.dropped);
                           }))
                status = kExitProblem;
        } catch (const std::bad_alloc&) {
            streams.err << about << ": too large to import: it needs more memory than the program may take\n";
            status = kExitProblem;
        }
    }
    return finishOutput(streams.out, streams.err, status);
}

} // namespace tesselby
