#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

#include "disk/FileError.h"
#include "disk/NativeFile.h"

namespace tesselby {

// The failure the system reported with code, in the words the program uses for it on every path.
inline FileError systemError(const std::filesystem::path& path, int code)
{
    switch (code) {
    case EISDIR:
        return FileError{path, FileError::Cause::FolderInPlace};
    case ENOTDIR:
        return FileError{path, FileError::Cause::FileInPlaceOfFolder};
    case EAGAIN:
        return FileError{path, FileError::Cause::WouldWait};
    case ENOENT:
        return FileError{path, FileError::Cause::Missing, std::strerror(code)};
    case EEXIST:
        return FileError{path, FileError::Cause::Exists, std::strerror(code)};
    case EBUSY:
    case EXDEV:
        return FileError{path, FileError::Cause::CannotReplace, std::strerror(code)};
    default:
        return FileError{path, std::strerror(code)};
    }
}

// The failure of the system call that has just returned.
inline FileError lastSystemError(const std::filesystem::path& path)
{
    return systemError(path, errno);
}

inline FileIdentity identityOf(const struct stat& info)
{
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::uint64_t>(info.st_nlink), S_ISDIR(info.st_mode),
                        static_cast<std::uint64_t>(info.st_uid)};
}

} // namespace tesselby
