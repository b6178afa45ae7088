#pragma once

#include <filesystem>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "disk/FileError.h"
#include "disk/NativeFile.h"

namespace tesselby {

// The failure the system reported with code, in the words the program uses for it on every path.
inline FileError systemError(const std::filesystem::path& path, DWORD code)
{
    if (code == ERROR_DIRECTORY)
        return FileError{path, FileError::Cause::FolderInPlace};
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = "system error " + std::to_string(code);
    if (length > 0 && text != nullptr) {
        const int bytes =
            ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        reason.assign(static_cast<std::size_t>(bytes), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), reason.data(), bytes, nullptr, nullptr);
        // The system's sentence ends in a full stop and a line break; the message adds its own.
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
            reason.pop_back();
    }
    if (text != nullptr)
        ::LocalFree(text);
    FileError::Cause cause = FileError::Cause::Other;
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        cause = FileError::Cause::Missing;
    else if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        cause = FileError::Cause::Exists;
    else if (code == ERROR_NOT_SAME_DEVICE)
        cause = FileError::Cause::CannotReplace;
    return FileError{path, cause, reason};
}

// The failure of the system call that has just returned.
inline FileError lastSystemError(const std::filesystem::path& path)
{
    return systemError(path, ::GetLastError());
}

inline bool isFolder(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                        info.nNumberOfLinks, (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

} // namespace tesselby
