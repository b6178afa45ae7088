#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FileError.h"

namespace tesselby {

// The few things the data layer asks of the system's files, written once for POSIX systems (posix/)
// and once for Windows (windows/). A failed call leaves its reason for lastSystemError().
class NativeFile {
public:
    enum class Access {
        Read,   // an existing file, for reading
        Append, // created when missing (readable and writable by its owner only), for adding to its end
    };

    // Opens an ordinary file; a folder, pipe or device in its place is refused. When reading a file
    // that does not exist, missing is set.
    static Result<NativeFile> open(const std::filesystem::path& path, Access access, bool* missing = nullptr);

    // A new, empty file in path's folder with path's permissions (owner-only when path does not exist
    // yet), for writing; its name, path's name followed by kTemporaryMarker, goes to temporaryPath.
    static Result<NativeFile> createBeside(const std::filesystem::path& path, std::filesystem::path& temporaryPath);

    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    ~NativeFile();

    bool readAll(std::string& out);
    // Reads up to wanted bytes: how many were read, 0 at the end of the file, or -1 on failure.
    std::int64_t readSome(char* into, std::size_t wanted);
    bool size(std::uint64_t& bytes);
    // True for an empty file too: whatever is added next starts a line.
    bool endsWithLineEnd();
    bool append(std::string_view bytes);
    // Waits until what was written is on the disk.
    bool sync();
    bool truncate(std::uint64_t bytes);
    // Closes now and says whether the close itself failed (a delayed write error shows up here).
    bool close();

private:
    explicit NativeFile(std::intptr_t handle) : m_handle(handle) {}

    std::intptr_t m_handle = -1;
};

// Marks a file createBeside made, so one that a killed process left behind can be recognised.
inline constexpr char kTemporaryMarker[] = ".saving-";

// Puts from in to's place in one step that survives a crash: to is either as it was or replaced.
bool moveOver(const std::filesystem::path& from, const std::filesystem::path& to);

// The reason the system gave for the last failed call, about the given file.
FileError lastSystemError(const std::filesystem::path& path);

// The reason for a folder standing where a file belongs.
FileError folderInPlaceError(const std::filesystem::path& path);

// Creates the data file's folder (owner-only) when it is missing.
Status ensureParentFolder(const std::filesystem::path& file);

} // namespace tesselby
