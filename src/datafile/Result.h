#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <variant>

#include "disk/FileError.h"

namespace tesselby {

// A value asked of a failure, or a failure asked of a success, is a fault in the caller: it stops the
// program with a message in every build, never reads what is not there.
[[noreturn]] inline void misusedResult(const char* what)
{
    std::fputs(what, stderr);
    std::fputc('\n', stderr);
    std::abort();
}

// Either a value or the failure that prevented it; the data layer never throws across the screens.
// T and E must differ, so that each converts into a Result of its own kind.
template <typename T, typename E = FileError> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : m_state(std::in_place_index<1>, std::move(error)) {}

    // A value whose change landed, though a step after its point of no return failed (see Status).
    static Result landedUnconfirmed(T value, std::optional<E> doubt)
    {
        Result landed(std::move(value));
        landed.m_unconfirmed = std::move(doubt);
        return landed;
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value()
    {
        if (!ok())
            misusedResult("Result::value() asked of a failure");
        return *std::get_if<0>(&m_state);
    }
    const T& value() const
    {
        if (!ok())
            misusedResult("Result::value() asked of a failure");
        return *std::get_if<0>(&m_state);
    }
    const E& error() const
    {
        if (ok())
            misusedResult("Result::error() asked of a success");
        return *std::get_if<1>(&m_state);
    }
    // On success, what could not be confirmed after the change landed; nothing when all of it was.
    const std::optional<E>& unconfirmed() const { return m_unconfirmed; }

private:
    std::variant<T, E> m_state;
    std::optional<E> m_unconfirmed;
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
    const FileError& error() const
    {
        if (!m_error)
            misusedResult("Status::error() asked of a success");
        return *m_error;
    }
    // On success, what could not be confirmed after the change landed; nothing when all of it was.
    const std::optional<FileError>& unconfirmed() const { return m_unconfirmed; }

private:
    std::optional<FileError> m_error;
    std::optional<FileError> m_unconfirmed;
};

} // namespace tesselby
