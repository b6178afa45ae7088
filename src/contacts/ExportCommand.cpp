#include <new>
#include <ostream>

#include "ContactCommands.h"
#include "ContactWriter.h"
#include "DataFile.h"
#include "DataFilePath.h"
#include "FileSystem.h"
#include "SafeReplace.h"

namespace tesselby {

namespace {

constexpr char kWrittenUnconfirmed[] = "written, but that it reached the disk could not be confirmed";

// The export file, refused when it is the list itself (writing it would put the export in its place),
// the name of the copy a save keeps of the list (the next run would put that copy back as the list),
// or a file the user may not write, which the rename would replace all the same.
Result<std::filesystem::path> exportTarget(const std::string& name, const std::filesystem::path& list)
{
    Result<std::filesystem::path> target = finalTarget(std::filesystem::path(name));
    if (!target)
        return target.error();
    // Refused here, so that the message names the file asked for, not the temporary one beside it.
    const Result<FileIdentity> folder = identityAt(folderOf(target.value()));
    if (!folder)
        return FileError{target.value(), folder.error().reason, folder.error().cause};
    if (!folder.value().isFolder)
        return FileError{target.value(), kFileInPlaceOfFolder};
    const Result<std::filesystem::path> listTarget = finalTarget(list);
    const Result<FileIdentity> there = identityAt(target.value());
    if (there && listTarget) {
        const Result<FileIdentity> listIdentity = identityAt(listTarget.value());
        if (listIdentity && listIdentity.value().sameFileAs(there.value()))
            return FileError{target.value(), "it is the address list itself; export to another file"};
    }
    if (listTarget) {
        std::filesystem::path guard = listTarget.value().filename();
        guard += kBeforeSaveSuffix;
        const Result<FileIdentity> listFolder = identityAt(folderOf(listTarget.value()));
        if (target.value().filename() == guard && listFolder && folder.value().sameFileAs(listFolder.value()))
            return FileError{target.value(), "the program keeps the address list's copy there during a save; "
                                             "export to another file"};
    }
    if (Status writable = checkWritable(target.value()); !writable)
        return writable.error();
    return target;
}

} // namespace

int runExport(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> format, version, output;
    for (std::size_t at = 0; at < args.size(); ++at) {
        std::string error;
        if (optionValue(args, at, "--format", format, error) ||
            optionValue(args, at, "--vcard-version", version, error) ||
            optionValue(args, at, "--output", output, error) || optionValue(args, at, "-o", output, error)) {
            if (!error.empty())
                return usageError(streams.err, error);
            continue;
        }
        return usageError(streams.err, "export takes no argument " + args[at]);
    }
    const bool csv = format && *format == "csv";
    if (format && !csv && *format != "vcard")
        return usageError(streams.err, "the format is vcard or csv, not " + *format);
    if (version && *version != "3.0" && *version != "4.0")
        return usageError(streams.err, "the vCard version is 3.0 or 4.0, not " + *version);
    if (version && csv)
        return usageError(streams.err, "--vcard-version is for vCards, not CSV");
    const VCardVersion cardVersion = version && *version == "4.0" ? VCardVersion::V40 : VCardVersion::V30;

    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    std::string content;
    try {
        const Result<RecordGrid> grid = loadRecordGrid(list);
        if (!grid) {
            reportFailure(streams.err, grid.error(), "could not be read");
            return kExitProblem;
        }
        if (csv)
            appendCsvHeader(content);
        for (std::size_t number = 1; number <= grid.value().recordCount(); ++number) {
            const Record record = grid.value().record(number);
            csv ? appendCsvRow(content, record) : appendVCard(content, record, cardVersion);
        }
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, kTooLargeToOpen});
        return kExitProblem;
    }

    if (!output || *output == "-") {
        streams.out << content;
        return finishOutput(streams.out, streams.err, kExitSuccess);
    }
    const Result<std::filesystem::path> target = exportTarget(*output, list);
    if (!target) {
        reportFailure(streams.err, target.error(), "not written");
        return kExitProblem;
    }
    const Status written = writeWholeFile(target.value(), {content});
    if (!written) {
        reportFailure(streams.err, written.error(), "not written");
        return kExitProblem;
    }
    // Written, and whole: only its reaching the disk could not be made sure of. Not a failure, which a
    // script would take for a file not written and act on.
    if (const std::optional<FileError>& doubt = written.unconfirmed())
        streams.err << pathText(target.value()) << ": " << kWrittenUnconfirmed << ": " << doubt->path << ": "
                    << doubt->reason << '\n';
    return kExitSuccess;
}

} // namespace tesselby
