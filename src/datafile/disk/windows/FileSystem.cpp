#include "disk/FileSystem.h"

#include <string>

#include "SystemError.h"

namespace tesselby {

Result<std::optional<std::filesystem::path>> readLink(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return std::optional<std::filesystem::path>();
    // The system follows every link on the way at once; a link to nothing is written through as it is.
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::optional<std::filesystem::path>();
    std::wstring target(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= target.size()) {
        target.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= target.size()) {
        const FileError failure = lastSystemError(path);
        ::CloseHandle(handle);
        return failure;
    }
    ::CloseHandle(handle);
    target.resize(length);
    if (target.rfind(L"\\\\?\\", 0) == 0 && target.rfind(L"\\\\?\\UNC\\", 0) != 0)
        target.erase(0, 4);
    if (std::filesystem::path(target) == path)
        return std::optional<std::filesystem::path>(); // a reparse point that is not a link
    return std::optional<std::filesystem::path>(target);
}

Status checkLinkTrusted(const std::filesystem::path&)
{
    return {};
}

Status checkFileTrusted(const std::filesystem::path&)
{
    return {};
}

namespace {

Result<FileIdentity> identityThrough(const std::filesystem::path& path, DWORD flags)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        const FileError failure = lastSystemError(path);
        ::CloseHandle(handle);
        return failure;
    }
    ::CloseHandle(handle);
    return identityOf(info);
}

} // namespace

Result<FileIdentity> identityAt(const std::filesystem::path& path)
{
    return identityThrough(path, 0);
}

Result<FileIdentity> entryIdentityAt(const std::filesystem::path& path)
{
    return identityThrough(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

Result<FileStamp> stampAt(const std::filesystem::path& path)
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError(path);
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    if (!::GetFileInformationByHandle(handle, &info) ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times)) {
        const FileError failure = lastSystemError(path);
        ::CloseHandle(handle);
        return failure;
    }
    ::CloseHandle(handle);
    // File times count 100-nanosecond steps from 1601; the stamp counts nanoseconds from 1970, which
    // fit its 64 bits.
    const auto nanoseconds = [](const FILETIME& time) {
        constexpr std::int64_t kFrom1601To1970 = 116'444'736'000'000'000;
        const auto steps =
            static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
        return (steps - kFrom1601To1970) * 100;
    };
    return FileStamp{info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                     (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                     nanoseconds(info.ftLastWriteTime),
                     nanoseconds(FILETIME{times.ChangeTime.LowPart, static_cast<DWORD>(times.ChangeTime.HighPart)}),
                     nanoseconds(now)};
}

Status makeFolder(const std::filesystem::path& path)
{
    // A new folder takes its access list from its parent, which on Windows keeps a user's files private.
    if (!::CreateDirectoryW(path.c_str(), nullptr))
        return lastSystemError(path);
    return {};
}

Status moveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    // ReplaceFileW keeps the replaced file's attributes and access list; a new file is simply moved.
    if (::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return {};
        const DWORD code = ::GetLastError();
        // Another program holds the file open without letting it be deleted (a backup or sync tool, a
        // virus scanner): both files are as they were, and the file can still be written where it is.
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_UNABLE_TO_REMOVE_REPLACED)
            return FileError{to, FileError::Cause::CannotReplace, systemError(to, code).reason()};
        // The old file is gone but the new one could not take its name: it still can, by a move.
        if (code != ERROR_UNABLE_TO_MOVE_REPLACEMENT || ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES)
            return systemError(to, code);
    }
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return lastSystemError(to);
    return {};
}

Status moveToNewName(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return lastSystemError(to);
    return {};
}

// Access lists, not an owner's number, decide here; a link is refused where the file is opened.
bool trustedAsOwn(const FileIdentity&, const FileIdentity&)
{
    return true;
}

Status removeFile(const std::filesystem::path& path)
{
    if (!::DeleteFileW(path.c_str()))
        return lastSystemError(path);
    return {};
}

Status syncFolder(const std::filesystem::path&)
{
    // The file system journals its folder entries itself; moves are written through.
    return {};
}

Status checkWriteAccess(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastSystemError(path);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return systemError(path, ERROR_ACCESS_DENIED);
    return {};
}

std::optional<std::filesystem::path> absolutePathFromEnvironment(const char* name)
{
    const std::wstring key(name, name + std::char_traits<char>::length(name));
    std::wstring value(::GetEnvironmentVariableW(key.c_str(), nullptr, 0), L'\0');
    if (value.empty())
        return std::nullopt;
    value.resize(::GetEnvironmentVariableW(key.c_str(), value.data(), static_cast<DWORD>(value.size())));
    std::filesystem::path path(value);
    if (value.empty() || !path.is_absolute())
        return std::nullopt;
    return path;
}

} // namespace tesselby
