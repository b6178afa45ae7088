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
        return FileError{path, kFolderInPlace};
    case ENOTDIR:
        return FileError{path, kFileInPlaceOfFolder};
    case EAGAIN:
        return FileError{path, kNotAnOrdinaryFile}; // only a special file makes a read wait
    case ENOENT:
        return FileError{path, std::strerror(code), FileError::Cause::Missing};
    case EEXIST:
        return FileError{path, std::strerror(code), FileError::Cause::Exists};
    case EBUSY:
    case EXDEV:
        return FileError{path, std::strerror(code), FileError::Cause::CannotReplace};
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
