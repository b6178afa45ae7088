#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "FileError.h"

namespace tesselby {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and says whether the close itself failed (a delayed write error shows up here).
    bool close();

private:
    int m_fd = -1;
};

FileError errorFromErrno(const std::filesystem::path& path);

// Writes all of bytes, retrying short writes; false with errno set on failure.
bool writeAll(int fd, std::string_view bytes);

// Reads from the current position to the end of the file.
bool readAll(int fd, std::string& out);

// Creates the data file's folder (owner-only) when it is missing.
Status ensureParentFolder(const std::filesystem::path& file);

} // namespace tesselby
