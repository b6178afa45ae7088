#pragma once

#include <chrono>
#include <filesystem>
#include <vector>

#include "disk/NativeFile.h"
#include "Result.h"

namespace tesselby {

// Held for as long as it lives, so two running copies of the program never write the data file at once.
// The system drops a lock when its holder dies, so one left by a crashed copy is taken over at once.
class FileLock {
public:
    // Long enough to outlast another copy's save of a large list; short enough that a person is told.
    static constexpr std::chrono::milliseconds kPatience{20000};

    // dataFile is the file itself, not a link to it, so that every name of the file shares one lock.
    static Result<FileLock> acquire(const std::filesystem::path& dataFile,
                                    std::chrono::milliseconds patience = kPatience);

    // For a file that is not the list (an export): only the file's own lock, which every name of it
    // shares and which the program's writes of it take; nothing when the file does not exist yet.
    static Result<FileLock> acquireFileItself(const std::filesystem::path& file,
                                              std::chrono::milliseconds patience = kPatience);

    // Waits, up to patience, for a shared lock on an open data file, which no save holds while it
    // writes the file in place; so a read never sees a rewrite half done.
    static Status shareWhileReading(NativeFile& dataFile, std::chrono::milliseconds patience = kPatience);

    FileLock(FileLock&&) noexcept = default;
    FileLock& operator=(FileLock&&) = delete;
    ~FileLock();

private:
    FileLock() = default;

    // The folder, the lock file and, once it exists, the data file, in the order they are taken.
    std::vector<NativeFile> m_held;
};

std::filesystem::path lockFilePath(const std::filesystem::path& dataFile);

} // namespace tesselby
