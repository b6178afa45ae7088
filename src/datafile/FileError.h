#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tesselby {

// What went wrong with the data file, in words a person can act on.
struct FileError {
    std::string path;
    std::string reason;
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
