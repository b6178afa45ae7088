#include "disk/NativeFile.h"

#include <algorithm>
#include <utility>

#include "SystemError.h"

#include <aclapi.h>

namespace tesselby {

namespace {

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t valueOf(HANDLE handle)
{
    return reinterpret_cast<std::intptr_t>(handle);
}

// Other programs may go on reading the file, and a save may replace it, while it is open here.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openHandle(const std::filesystem::path& path, NativeFile::Access access, DWORD disposition)
{
    switch (access) {
    case NativeFile::Access::Read:
        return ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    case NativeFile::Access::Append:
        return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    case NativeFile::Access::Rewrite:
        return ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    case NativeFile::Access::Lock:
        // Not shared for deletion, so the lock file cannot be removed while it is held.
        return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    case NativeFile::Access::OwnRead:
        // The link or junction itself, if it is one, so that open can refuse it.
        return ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    case NativeFile::Access::Folder:
        return ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

Result<NativeFile> NativeFile::open(const std::filesystem::path& path, Access access)
{
    if (access != Access::Folder && isFolder(path))
        return FileError{path, FileError::Cause::FolderInPlace};
    HANDLE handle = openHandle(path, access, OPEN_EXISTING);
    bool created = false;
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND &&
        (access == Access::Append || access == Access::Lock)) {
        handle = openHandle(path, access, CREATE_NEW);
        created = handle != INVALID_HANDLE_VALUE;
        if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) // another copy made it
            handle = openHandle(path, access, OPEN_EXISTING);
    }
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError(path);
    NativeFile file(valueOf(handle), path, access);
    file.m_created = created;
    if (access != Access::Folder && ::GetFileType(handle) != FILE_TYPE_DISK)
        return FileError{path, FileError::Cause::NotAnOrdinaryFile};
    // Opened as the link itself, which the program never follows for its own files.
    BY_HANDLE_FILE_INFORMATION info{};
    if ((access == Access::Lock || access == Access::OwnRead) && ::GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FileError{path, FileError::Cause::LinkInPlace};
    return file;
}

Result<NativeFile> NativeFile::createNew(const std::filesystem::path& path)
{
    // The new file inherits its folder's access list, which keeps it private; WRITE_DAC lets a save give
    // it the list of the file it replaces.
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError(path);
    return NativeFile(valueOf(handle), path, Access::Rewrite);
}

Result<std::size_t> NativeFile::readSome(char* into, std::size_t wanted)
{
    DWORD got = 0;
    if (!::ReadFile(handleOf(m_handle), into, static_cast<DWORD>(std::min<std::size_t>(wanted, 1u << 30)), &got,
                    nullptr))
        return lastSystemError(m_path);
    return static_cast<std::size_t>(got);
}

Result<std::size_t> NativeFile::readSomeAt(std::uint64_t offset, char* into, std::size_t wanted)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(handleOf(m_handle), into, static_cast<DWORD>(std::min<std::size_t>(wanted, 1u << 30)), &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return std::size_t(0);
        return lastSystemError(m_path);
    }
    return static_cast<std::size_t>(got);
}

Result<std::size_t> NativeFile::writeSome(const char* bytes, std::size_t wanted)
{
    // Reads move a handle's place, so an append finds the end before every write.
    if (m_access == Access::Append && !::SetFilePointerEx(handleOf(m_handle), LARGE_INTEGER{}, nullptr, FILE_END))
        return lastSystemError(m_path);
    DWORD written = 0;
    if (!::WriteFile(handleOf(m_handle), bytes, static_cast<DWORD>(std::min<std::size_t>(wanted, 1u << 30)), &written,
                     nullptr))
        return lastSystemError(m_path);
    if (written == 0)
        return systemError(m_path, ERROR_DISK_FULL);
    return static_cast<std::size_t>(written);
}

Result<std::uint64_t> NativeFile::size()
{
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(handleOf(m_handle), &length))
        return lastSystemError(m_path);
    return static_cast<std::uint64_t>(length.QuadPart);
}

Result<FileIdentity> NativeFile::identity()
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handleOf(m_handle), &info))
        return lastSystemError(m_path);
    return identityOf(info);
}

Status NativeFile::sync()
{
    if (!::FlushFileBuffers(handleOf(m_handle)))
        return lastSystemError(m_path);
    return {};
}

Status NativeFile::truncate(std::uint64_t bytes)
{
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(bytes);
    if (!::SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN) || !::SetEndOfFile(handleOf(m_handle)))
        return lastSystemError(m_path);
    return {};
}

Status NativeFile::seek(std::uint64_t offset)
{
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN))
        return lastSystemError(m_path);
    return {};
}

Result<bool> NativeFile::tryLock(bool shared)
{
    // A folder cannot be locked here; the lock file, held without delete sharing, cannot be removed while
    // it is held, so it alone guards the data file.
    if (m_access == Access::Folder)
        return true;
    // Far past any real end, since a locked range keeps even the holder's other handles from writing it.
    // The system drops the lock when the handle is closed, also when its process dies.
    OVERLAPPED farAway{};
    farAway.OffsetHigh = 0x7FFFFFFF;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK);
    if (::LockFileEx(handleOf(m_handle), flags, 0, 1, 0, &farAway))
        return true;
    if (::GetLastError() == ERROR_LOCK_VIOLATION)
        return false;
    return lastSystemError(m_path);
}

void NativeFile::unlock()
{
    if (m_access == Access::Folder)
        return;
    OVERLAPPED farAway{};
    farAway.OffsetHigh = 0x7FFFFFFF;
    (void)::UnlockFileEx(handleOf(m_handle), 0, 1, 0, &farAway);
}

Status NativeFile::takeIdentityOf(NativeFile& original)
{
    // ReplaceFileW keeps the old file's attributes and access list on Windows itself, but not where a
    // save falls back to a plain rename, nor under Wine; so the new file is given them beforehand.
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO wanted{};
    FILE_BASIC_INFO now{};
    if (!::GetFileInformationByHandleEx(handleOf(original.m_handle), FileBasicInfo, &wanted, sizeof wanted))
        return lastSystemError(original.m_path);
    if (!::GetFileInformationByHandleEx(handleOf(m_handle), FileBasicInfo, &now, sizeof now))
        return lastSystemError(m_path);
    now.FileAttributes = (wanted.FileAttributes & kKept) != 0 ? wanted.FileAttributes & kKept : FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(handleOf(m_handle), FileBasicInfo, &now, sizeof now))
        return lastSystemError(m_path);

    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD failed = ::GetSecurityInfo(handleOf(original.m_handle), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &list, nullptr, &descriptor);
    if (failed != ERROR_SUCCESS)
        return systemError(original.m_path, failed);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    // A list that inherits from its folder goes on inheriting; one that was cut off stays so.
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    failed = ::SetSecurityInfo(handleOf(m_handle), SE_FILE_OBJECT, which, nullptr, nullptr, list, nullptr);
    ::LocalFree(descriptor);
    if (failed != ERROR_SUCCESS)
        return systemError(m_path, failed);
    return {};
}

Status NativeFile::close()
{
    if (m_handle == -1)
        return {};
    if (!::CloseHandle(handleOf(std::exchange(m_handle, -1))))
        return lastSystemError(m_path);
    return {};
}

} // namespace tesselby
