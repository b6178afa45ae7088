#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

#include "FileError.h"

namespace tesselby {

// Holds the lock file beside the data file for as long as it lives, so two running copies of the
// program never write the data file at once. The system drops the lock when its holder dies, so a lock
// left by a crashed copy is taken over at once.
class FileLock {
public:
    // Long enough to outlast another copy's save of a large list; short enough that a person is told.
    static constexpr std::chrono::milliseconds kPatience{20000};

    static Result<FileLock> acquire(const std::filesystem::path& dataFile,
                                    std::chrono::milliseconds patience = kPatience);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    explicit FileLock(std::intptr_t handle) : m_handle(handle) {}
    void release();

    std::intptr_t m_handle = -1;
};

std::filesystem::path lockFilePath(const std::filesystem::path& dataFile);

} // namespace tesselby
