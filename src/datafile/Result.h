#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "disk/FileError.h"

namespace tesselby {

// Either a value or the failure that prevented it; the data layer never throws across the screens.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(FileError error) : m_state(std::move(error)) {}

    // A value whose change landed, though a step after its point of no return failed (see Status).
    static Result landedUnconfirmed(T value, std::optional<FileError> doubt)
    {
        Result landed(std::move(value));
        landed.m_unconfirmed = std::move(doubt);
        return landed;
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<T>(m_state); }
    const T& value() const { return std::get<T>(m_state); }
    const FileError& error() const { return std::get<FileError>(m_state); }
    // On success, what could not be confirmed after the change landed; nothing when all of it was.
    const std::optional<FileError>& unconfirmed() const { return m_unconfirmed; }

private:
    std::variant<T, FileError> m_state;
    std::optional<FileError> m_unconfirmed;
};

// Success, or the failure met, for an operation that yields nothing else.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(FileError error) : m_error(std::move(error)) {}

    // A change that is in the file for good, though a step after its point of no return failed (a close
    // that reports a late write error, a folder sync): a success, which must never be tried again, that
    // says what could not be confirmed.
    static Status landedUnconfirmed(FileError doubt)
    {
        Status landed;
        landed.m_unconfirmed = std::move(doubt);
        return landed;
    }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const FileError& error() const { return *m_error; }
    // On success, what could not be confirmed after the change landed; nothing when all of it was.
    const std::optional<FileError>& unconfirmed() const { return m_unconfirmed; }

private:
    std::optional<FileError> m_error;
    std::optional<FileError> m_unconfirmed;
};

} // namespace tesselby
