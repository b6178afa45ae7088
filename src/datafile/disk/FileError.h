#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace tesselby {

// A path as UTF-8 text. On Windows path::string() speaks the local code page and may fail; the screens
// want UTF-8.
inline std::string pathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// What went wrong with the data file: a cause the code may act on, and the words a person can act on,
// made from it by reason() where the failure is shown. Both path and words are UTF-8.
struct FileError {
    enum class Cause {
        Other,         // only reported: the system's words, or the program's own, are in detail
        Missing,       // nothing at the path (the system's words in detail)
        Exists,        // the name is taken (the system's words in detail)
        CannotReplace, // the system will not put another file in its place: a mount point, another disk
        FolderInPlace,
        FileInPlaceOfFolder,
        NotAnOrdinaryFile, // a device, a pipe, a socket
        WouldWait,         // a read that would wait for a writer, which only a special file makes
        LinkInPlace,       // at a name beside the data file that only the program's own files may have
        TooLargeToOpen,
        ChangedMeanwhile, // a save's new content was ready, but the file had changed under it
        KeptChanging,
        KeptBeingReplaced,
    };

    FileError(const std::filesystem::path& file, Cause kind, std::string words = {})
        : path(pathText(file)), cause(kind), detail(std::move(words))
    {
    }
    FileError(const std::filesystem::path& file, std::string words) : FileError(file, Cause::Other, std::move(words)) {}

    // The words for the cause; for a cause the system words, the system's own.
    std::string reason() const;
    // The same failure, said of another file (the one a person asked for, say).
    FileError about(const std::filesystem::path& file) const
    {
        FileError moved = *this;
        moved.path = pathText(file);
        return moved;
    }

    std::string path;
    Cause cause;
    std::string detail;
};

// The program's own words for each cause it names the same way on every platform and call; empty for a
// cause whose words come from the system.
constexpr const char* causeWords(FileError::Cause cause)
{
    using enum FileError::Cause;
    switch (cause) {
    case FolderInPlace:
        return "there is a folder in its place";
    case FileInPlaceOfFolder:
        return "a file stands in place of one of its folders";
    case NotAnOrdinaryFile:
    case WouldWait:
        return "it is not an ordinary file";
    case LinkInPlace:
        return "it is a symbolic link, which Tesselby never follows for its own files";
    case TooLargeToOpen:
        return "the address list is too large to open: it needs more memory than the program may take";
    case ChangedMeanwhile:
        return "another program changed it while the save was being made";
    case KeptChanging:
        return "another program kept changing it while the save was being made";
    case KeptBeingReplaced:
        return "another program kept putting a new file in its place while the entry was being added";
    case Other:
    case Missing:
    case Exists:
    case CannotReplace:
        break;
    }
    return "";
}

inline std::string FileError::reason() const
{
    const std::string_view own = causeWords(cause);
    return own.empty() ? detail : std::string(own);
}

} // namespace tesselby
