#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "FileError.h"

namespace tesselby {

// Either a value or the failure that prevented it; the data layer never throws across the screens.
template <typename T> class [[nodiscard]] Result {
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

// Success, or the failure met, for an operation that yields nothing else.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(FileError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const FileError& error() const { return *m_error; }

private:
    std::optional<FileError> m_error;
};

} // namespace tesselby
