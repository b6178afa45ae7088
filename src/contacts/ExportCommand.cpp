#include <functional>
#include <new>
#include <ostream>

#include "ContactCommands.h"
#include "ContactWriter.h"
#include "DataFile.h"
#include "ListValues.h"
#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"
#include "disk/SafeReplace.h"

namespace tesselby {

namespace {

constexpr char kWrittenUnconfirmed[] = "written, but that it reached the disk could not be confirmed";

// The export file, refused when it is the list itself (writing it would put the export in its place),
// the name of the copy a save keeps of the list (the next run would put that copy back as the list),
// or a file the user may not write, which the rename would replace all the same. A link is followed only
// where no other user could have planted it: the rename replaces the file it leads to, which the kernel's
// own guard against planted links never sees.
Result<std::filesystem::path> exportTarget(const std::string& name, const std::filesystem::path& list)
{
    Result<std::filesystem::path> target = trustedFinalTarget(std::filesystem::path(name));
    if (!target)
        return target.error();
    // Refused here, so that the message names the file asked for, not the temporary one beside it.
    const Result<FileIdentity> folder = identityAt(folderOf(target.value()));
    if (!folder)
        return folder.error().about(target.value());
    if (!folder.value().isFolder)
        return FileError{target.value(), FileError::Cause::FileInPlaceOfFolder};
    const Result<std::filesystem::path> listTarget = finalTarget(list);
    const Result<FileIdentity> there = identityAt(target.value());
    if (there && listTarget) {
        const Result<FileIdentity> listIdentity = identityAt(listTarget.value());
        if (listIdentity && listIdentity.value().sameFileAs(there.value()))
            return FileError{target.value(), "it is the address list itself; export to another file"};
    }
    if (listTarget) {
        const Result<FileIdentity> listFolder = identityAt(folderOf(listTarget.value()));
        if (listFolder && folder.value().sameFileAs(listFolder.value()) &&
            isOwnFileBeside(listTarget.value(), target.value().filename()))
            return FileError{target.value(), "the program keeps its own files beside the address list under that "
                                             "name (its lock, its copy during a save, an add's journal); export "
                                             "to another file"};
    }
    // In a folder others may write (as /tmp), a file of another user's may have been put there to catch
    // what is written to that name: the save would keep its owner and permissions.
    if (there) {
        if (Status own = checkFileTrusted(target.value()); !own)
            return own.error();
    }
    if (Status writable = checkWritable(target.value()); !writable)
        return writable.error();
    return target;
}

} // namespace

int runExport(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> format, version, output;
    bool spreadsheetSafe = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        if (args[at] == "--spreadsheet-safe") {
            spreadsheetSafe = true;
            continue;
        }
        const Result<bool, std::string> taken = takeOption(
            args, at, {{"--format", &format}, {"--vcard-version", &version}, {"--output", &output}, {"-o", &output}});
        if (!taken)
            return usageError(streams.err, taken.error());
        if (taken.value())
            continue;
        return usageError(streams.err, "export takes no argument " + args[at]);
    }
    const bool csv = format && *format == "csv";
    if (format && !csv && *format != "vcard")
        return usageError(streams.err, "the format is vcard or csv, not " + *format);
    if (version && *version != "3.0" && *version != "4.0")
        return usageError(streams.err, "the vCard version is 3.0 or 4.0, not " + *version);
    if (version && csv)
        return usageError(streams.err, "--vcard-version is for vCards, not CSV");
    if (spreadsheetSafe && !csv)
        return usageError(streams.err, "--spreadsheet-safe is for CSV (--format csv), not vCards");
    const VCardVersion cardVersion = version && *version == "4.0" ? VCardVersion::V40 : VCardVersion::V30;

    const std::filesystem::path list = dataFilePath(kDataFileReadPath);
    LargeBlock listText;
    try {
        Result<LargeBlock> text = readDataFileBlock(list);
        if (!text) {
            reportFailure(streams.err, text.error(), "could not be read");
            return kExitProblem;
        }
        listText = std::move(text.value());
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, FileError::Cause::TooLargeToOpen});
        return kExitProblem;
    }
    auto appendPerson = [&](std::string& out, const Record& record) {
        csv ? appendCsvRow(out, record, spreadsheetSafe ? CsvValues::SpreadsheetSafe : CsvValues::AsTheyAre)
            : appendVCard(out, record, cardVersion);
    };
    // Hands the export to write a piece at a time, each person made as the list is walked, so that the
    // export is never whole in memory.
    const auto produce = [&](const std::function<Status(std::string_view)>& write) -> Status {
        constexpr std::size_t kPiece = std::size_t(1) << 20;
        std::string piece;
        if (csv)
            appendCsvHeader(piece);
        Status status;
        Record record;
        ListValues people([&](const ListValues::Values& values) {
            if (!status)
                return;
            for (int field = 0; field < kFieldCount; ++field)
                record[field].assign(values[field]);
            appendPerson(piece, record);
            if (piece.size() >= kPiece) {
                status = write(piece);
                piece.clear();
            }
        });
        RecordStream stream;
        if (const Result<bool> walked = stream.walk(sourceOf(listText.view()), people); !walked)
            return walked.error();
        if (status && !piece.empty())
            status = write(piece);
        return status;
    };

    try {
        if (!output || *output == "-") {
            (void)produce([&streams](std::string_view piece) {
                streams.out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                return Status();
            });
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
        const Result<std::filesystem::path> target = exportTarget(*output, list);
        if (!target) {
            reportFailure(streams.err, target.error(), "not written");
            return kExitProblem;
        }
        Result<WholeFileWrite> file = WholeFileWrite::begin(target.value());
        Status written = file ? produce([&file](std::string_view piece) { return file.value().content().write(piece); })
                              : Status(file.error());
        if (written)
            written = file.value().commit();
        if (!written) {
            // Named as the user named it, not as the temporary file beside it that met the failure.
            FileError failure = written.error();
            if (failure.path.starts_with(pathText(target.value()) + kTemporaryMarker))
                failure.path = pathText(target.value());
            reportFailure(streams.err, failure, "not written");
            return kExitProblem;
        }
        // Written, and whole: only its reaching the disk could not be made sure of. Not a failure, which a
        // script would take for a file not written and act on.
        if (const std::optional<FileError>& doubt = written.unconfirmed())
            streams.err << kCommandName << ": " << pathText(target.value()) << ": " << kWrittenUnconfirmed << ": "
                        << doubt->path << ": " << doubt->reason() << '\n';
    } catch (const std::bad_alloc&) {
        reportFailure(streams.err, FileError{list, FileError::Cause::TooLargeToOpen});
        return kExitProblem;
    }
    return kExitSuccess;
}

} // namespace tesselby
