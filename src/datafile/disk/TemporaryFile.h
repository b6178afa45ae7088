#pragma once

#include <filesystem>

#include "Result.h"
#include "disk/NativeFile.h"

namespace tesselby {

// A new file beside a target that goes again unless kept: whatever ends the work early, a failure or
// an exception, closes and removes it, so that no path out cleans up by hand.
// Calling sequence: createBeside; write into file(); moveTo its final name; keep once the file at that
// name is wanted for good. Until moveTo it stays open and locked, which tells removeLeftoverTemporaries
// that its maker lives.
class TemporaryFile {
public:
    static Result<TemporaryFile> createBeside(const std::filesystem::path& target);

    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    NativeFile& file() { return m_file; }
    const std::filesystem::path& path() const { return m_path; }
    // Gives the file the name to, over whatever has it (see moveOver); unless kept, it is then removed
    // at its new name.
    Status moveTo(const std::filesystem::path& to);
    void keep() { m_kept = true; }

private:
    explicit TemporaryFile(NativeFile file) : m_file(std::move(file)), m_path(m_file.path()) {}
    void discard();

    NativeFile m_file;
    std::filesystem::path m_path;
    bool m_kept = false;
};

} // namespace tesselby
