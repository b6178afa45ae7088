#include "FileLock.h"

#include <thread>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "NativeFile.h"

namespace tesselby {

Result<FileLock> FileLock::acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds patience)
{
    const std::filesystem::path path = lockFilePath(dataFile);
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastSystemError(path);
    FileLock lock(reinterpret_cast<std::intptr_t>(handle));
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        OVERLAPPED whole{};
        // The system drops the lock when the handle is closed, also when its process dies.
        if (::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
            return lock;
        if (::GetLastError() != ERROR_LOCK_VIOLATION)
            return lastSystemError(path);
        if (std::chrono::steady_clock::now() > deadline)
            return FileError{dataFile, "another copy of Tesselby is still writing it"};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void FileLock::release()
{
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(m_handle, -1)));
}

} // namespace tesselby
