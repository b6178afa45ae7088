#include "DataFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicReplace.h"
#include "FileLock.h"
#include "ItemWriter.h"
#include "PosixFile.h"

namespace tesselby {

namespace {

// Opens for reading without blocking on a pipe or device put in the file's place.
Result<UniqueFd> openRegularFile(const std::filesystem::path& path, int flags, bool& missing)
{
    missing = false;
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!fd.valid()) {
        missing = errno == ENOENT;
        return errorFromErrno(path);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return errorFromErrno(path);
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return errorFromErrno(path);
    }
    if (!S_ISREG(info.st_mode))
        return FileError{path.string(), "it is not an ordinary file"};
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Result<RecordGrid> indexText(const std::filesystem::path& path, std::string text)
{
    std::optional<RecordGrid> grid = RecordGrid::fromText(std::move(text));
    if (!grid)
        return FileError{path.string(), "it holds an entry too large to show"};
    return std::move(*grid);
}

bool endsWithLineEnd(int fd, off_t size)
{
    char last = '\n';
    return size == 0 || (::pread(fd, &last, 1, size - 1) == 1 && (last == '\n' || last == '\r'));
}

} // namespace

Result<std::string> readDataFile(const std::filesystem::path& path)
{
    bool missing = false;
    Result<UniqueFd> fd = openRegularFile(path, O_RDONLY, missing);
    if (!fd)
        return missing ? Result<std::string>(std::string()) : Result<std::string>(fd.error());
    std::string text;
    if (!readAll(fd.value().get(), text))
        return errorFromErrno(path);
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

    bool missing = false;
    Result<UniqueFd> opened = openRegularFile(path, O_RDWR | O_CREAT | O_APPEND, missing);
    if (!opened)
        return opened.error();
    const int fd = opened.value().get();
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return errorFromErrno(path);

    std::string lines;
    if (!endsWithLineEnd(fd, info.st_size))
        lines.append("\r\n"); // a file edited by hand may lack its final line end
    for (const std::string& value : record)
        appendItem(lines, value);

    if (!writeAll(fd, lines) || ::fsync(fd) != 0) {
        const FileError error = errorFromErrno(path);
        // Take back whatever part of the record reached the file.
        [[maybe_unused]] const int undone = ::ftruncate(fd, info.st_size);
        return error;
    }
    if (!opened.value().close())
        return errorFromErrno(path);
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
