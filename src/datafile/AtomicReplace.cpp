#include "AtomicReplace.h"

#include <system_error>

#include "NativeFile.h"

namespace tesselby {

Status replaceFileContent(const std::filesystem::path& path, std::string_view content)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return folderInPlaceError(path);
    std::filesystem::path temporary;
    Result<NativeFile> file = NativeFile::createBeside(path, temporary);
    if (!file)
        return file.error();
    const bool written = file.value().append(content) && file.value().sync();
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
