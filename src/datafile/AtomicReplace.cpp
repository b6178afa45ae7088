#include "AtomicReplace.h"

#include <system_error>

#include "NativeFile.h"

namespace tesselby {

namespace {

void removeLeftoverTemporaries(const std::filesystem::path& path)
{
    std::filesystem::path prefixPath = path.filename();
    prefixPath += kTemporaryMarker;
    const auto& prefix = prefixPath.native();
    std::error_code failed;
    std::filesystem::directory_iterator entry(path.parent_path(), failed);
    for (; !failed && entry != std::filesystem::directory_iterator(); entry.increment(failed)) {
        const std::filesystem::path::string_type name = entry->path().filename().native();
        std::error_code ignored;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            entry->is_regular_file(ignored))
            std::filesystem::remove(entry->path(), ignored);
    }
}

} // namespace

Status replaceFileContent(const std::filesystem::path& path, const std::vector<std::string_view>& pieces)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return folderInPlaceError(path);
    removeLeftoverTemporaries(path);
    std::filesystem::path temporary;
    Result<NativeFile> file = NativeFile::createBeside(path, temporary);
    if (!file)
        return file.error();
    bool written = true;
    for (std::size_t i = 0; written && i < pieces.size(); ++i)
        written = file.value().append(pieces[i]);
    written = written && file.value().sync();
    const FileError writeError = lastSystemError(path);
    const bool closed = file.value().close();
    if (!written || !closed || !moveOver(temporary, path)) {
        const FileError error = written ? lastSystemError(path) : writeError;
        std::filesystem::remove(temporary, ignored);
        return error;
    }
    return std::nullopt;
}

} // namespace tesselby
