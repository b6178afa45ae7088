#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tesselby {

// What went wrong with the data file, in words a person can act on; both in UTF-8.
struct FileError {
    FileError(const std::filesystem::path& file, std::string why) : path(utf8(file)), reason(std::move(why)) {}

    std::string path;
    std::string reason;

private:
    // On Windows path::string() speaks the local code page and may fail; the screens want UTF-8.
    static std::string utf8(const std::filesystem::path& file)
    {
        const std::u8string text = file.u8string();
        return std::string(text.begin(), text.end());
    }
};

// Either a value or the failure that prevented it; the data layer never throws across the screens.
template <typename T> class Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(FileError error) : m_state(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<T>(m_state); }
    const T& value() const { return std::get<T>(m_state); }
    const FileError& error() const { return std::get<FileError>(m_state); }

private:
    std::variant<T, FileError> m_state;
};

// The result of an operation that yields nothing but success or a failure.
using Status = std::optional<FileError>;

} // namespace tesselby
