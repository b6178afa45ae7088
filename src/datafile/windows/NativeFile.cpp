#include "NativeFile.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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

bool isFolder(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Result<NativeFile> refuseAllButDiskFiles(NativeFile file, HANDLE handle, const std::filesystem::path& path)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return FileError{path, "it is not an ordinary file"};
    return file;
}

} // namespace

Result<NativeFile> NativeFile::open(const std::filesystem::path& path, Access access, bool* missing)
{
    if (missing != nullptr)
        *missing = false;
    if (isFolder(path))
        return folderInPlaceError(path);
    // Other programs may go on reading the file, and a save may replace it, while it is open here.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = access == Access::Read ? ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr,
                                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                                 : ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share,
                                                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (missing != nullptr)
            *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return lastSystemError(path);
    }
    return refuseAllButDiskFiles(NativeFile(valueOf(handle)), handle, path);
}

Result<NativeFile> NativeFile::createBeside(const std::filesystem::path& path, std::filesystem::path& temporaryPath)
{
    // Windows keeps a file's permissions with its folder, so the new file needs none of its own.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = path;
        candidate += kTemporaryMarker;
        candidate += std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) + L"-" +
                     std::to_wstring(attempt);
        const HANDLE handle = ::CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            temporaryPath = candidate;
            return NativeFile(valueOf(handle));
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return lastSystemError(path.parent_path());
}

std::int64_t NativeFile::readSome(char* into, std::size_t wanted)
{
    DWORD got = 0;
    if (!::ReadFile(handleOf(m_handle), into, static_cast<DWORD>(std::min<std::size_t>(wanted, 1u << 30)), &got,
                    nullptr))
        return -1;
    return got;
}

bool NativeFile::size(std::uint64_t& bytes)
{
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(handleOf(m_handle), &length))
        return false;
    bytes = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

bool NativeFile::endsWithLineEnd()
{
    std::uint64_t bytes = 0;
    if (!size(bytes) || bytes == 0)
        return true;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((bytes - 1) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>((bytes - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    return ::ReadFile(handleOf(m_handle), &last, 1, &got, &at) && got == 1 && (last == '\n' || last == '\r');
}

bool NativeFile::append(std::string_view bytes)
{
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(handleOf(m_handle), LARGE_INTEGER{}, &end, FILE_END))
        return false;
    while (!bytes.empty()) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handleOf(m_handle), bytes.data(), wanted, &written, nullptr))
            return false;
        if (written == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool NativeFile::sync()
{
    return ::FlushFileBuffers(handleOf(m_handle)) != 0;
}

bool NativeFile::truncate(std::uint64_t bytes)
{
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(bytes);
    return ::SetFilePointerEx(handleOf(m_handle), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(handleOf(m_handle));
}

bool NativeFile::close()
{
    if (m_handle == -1)
        return true;
    return ::CloseHandle(handleOf(std::exchange(m_handle, -1))) != 0;
}

bool moveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FileError lastSystemError(const std::filesystem::path& path)
{
    const DWORD error = ::GetLastError();
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = "system error " + std::to_string(error);
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
    return FileError{path, reason};
}

Status ensureParentFolder(const std::filesystem::path& file)
{
    const std::filesystem::path folder = file.parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error))
        return std::nullopt;
    if (!std::filesystem::create_directories(folder, error) && error)
        return FileError{folder, error.message()};
    return std::nullopt;
}

} // namespace tesselby
