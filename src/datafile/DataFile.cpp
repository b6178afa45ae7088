#include "DataFile.h"

#include <cstring>
#include <vector>

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
        return FileError{path, "it holds an entry too large to show"};
    return std::move(*grid);
}

// Whether the file holds exactly these bytes, found without reading it into memory whole.
bool fileHoldsExactly(const std::filesystem::path& path, std::string_view expected)
{
    Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::Read);
    std::uint64_t bytes = 0;
    if (!file || !file.value().size(bytes) || bytes != expected.size())
        return false;
    std::vector<char> chunk(std::size_t(1) << 20);
    for (;;) {
        const std::int64_t got = file.value().readSome(chunk.data(), chunk.size());
        if (got <= 0)
            return got == 0 && expected.empty();
        if (static_cast<std::size_t>(got) > expected.size() ||
            std::memcmp(chunk.data(), expected.data(), static_cast<std::size_t>(got)) != 0)
            return false;
        expected.remove_prefix(static_cast<std::size_t>(got));
    }
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

Status saveRecordGrid(const std::filesystem::path& path, RecordGrid& grid)
{
    if (Status folder = ensureParentFolder(path))
        return folder;
    Result<FileLock> lock = FileLock::acquire(path);
    if (!lock)
        return lock.error();

    // Usually nobody else has written the file since the grid was read: then only the edited records
    // change, and neither the file nor the grid needs copying whole.
    if (fileHoldsExactly(path, grid.text())) {
        std::vector<std::string> newLines;
        if (std::optional<std::vector<std::string_view>> pieces = grid.editedTextInPieces(newLines)) {
            if (Status failed = replaceFileContent(path, *pieces))
                return failed;
            grid.applyEditsInPlace();
            return std::nullopt;
        }
    }
    Result<RecordGrid> onDisk = loadRecordGrid(path);
    if (!onDisk)
        return onDisk.error();
    RecordGrid merged = mergeEdits(grid, onDisk.value());
    if (Status failed = replaceFileContent(path, merged.text()))
        return failed;
    grid = std::move(merged);
    return std::nullopt;
}

} // namespace tesselby
