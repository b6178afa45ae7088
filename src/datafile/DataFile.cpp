#include "DataFile.h"

#include "AtomicReplace.h"
#include "FileLock.h"
#include "ItemWriter.h"
#include "NativeFile.h"

namespace tesselby {

namespace {

Result<RecordGrid> indexText(const std::filesystem::path& path, std::string text)
{
    std::optional<RecordGrid> grid = RecordGrid::fromText(std::move(text));
    if (!grid)
        return FileError{path.string(), "it holds an entry too large to show"};
    return std::move(*grid);
}

} // namespace

Result<std::string> readDataFile(const std::filesystem::path& path)
{
    bool missing = false;
    Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::Read, &missing);
    if (!file)
        return missing ? Result<std::string>(std::string()) : Result<std::string>(file.error());
    std::string text;
    if (!file.value().readAll(text))
        return lastSystemError(path);
    return text;
}

Result<RecordGrid> loadRecordGrid(const std::filesystem::path& path)
{
    Result<std::string> text = readDataFile(path);
    if (!text)
        return text.error();
    return indexText(path, std::move(text.value()));
}

Status appendRecord(const std::filesystem::path& path, const Record& record)
{
    if (Status folder = ensureParentFolder(path))
        return folder;
    Result<FileLock> lock = FileLock::acquire(path);
    if (!lock)
        return lock.error();
    Result<NativeFile> opened = NativeFile::open(path, NativeFile::Access::Append);
    if (!opened)
        return opened.error();
    NativeFile& file = opened.value();
    std::uint64_t sizeBefore = 0;
    if (!file.size(sizeBefore))
        return lastSystemError(path);

    std::string lines;
    if (!file.endsWithLineEnd())
        lines.append("\r\n"); // a file edited by hand may lack its final line end
    for (const std::string& value : record)
        appendItem(lines, value);

    if (!file.append(lines) || !file.sync()) {
        const FileError error = lastSystemError(path);
        file.truncate(sizeBefore); // takes back whatever part of the record reached the file
        return error;
    }
    if (!file.close())
        return lastSystemError(path);
    return std::nullopt;
}

Result<RecordGrid> saveRecordGrid(const std::filesystem::path& path, const RecordGrid& edited)
{
    if (Status folder = ensureParentFolder(path))
        return *folder;
    Result<FileLock> lock = FileLock::acquire(path);
    if (!lock)
        return lock.error();

    Result<std::string> current = readDataFile(path);
    if (!current)
        return current.error();
    // Usually nobody else has written the file since the grid was read, and its index can be reused.
    std::optional<RecordGrid> merged;
    if (current.value() == edited.text()) {
        merged = mergeEdits(edited, edited);
    } else {
        Result<RecordGrid> onDisk = indexText(path, std::move(current.value()));
        if (!onDisk)
            return onDisk.error();
        merged = mergeEdits(edited, onDisk.value());
    }
    if (Status failed = replaceFileContent(path, merged->text()))
        return *failed;
    return std::move(*merged);
}

} // namespace tesselby
