#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace tesselby {

// A path as UTF-8 text. On Windows path::string() speaks the local code page and may fail; the screens
// want UTF-8.
inline std::string pathText(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// What went wrong with the data file, in words a person can act on; both in UTF-8.
struct FileError {
    // The few causes callers act on; every other one is only reported.
    // CannotReplace: the system will not put another file in its place (a mount point, another disk).
    enum class Cause { Other, Missing, Exists, CannotReplace };

    FileError(const std::filesystem::path& file, std::string why, Cause kind = Cause::Other)
        : path(pathText(file)), reason(std::move(why)), cause(kind)
    {
    }

    std::string path;
    std::string reason;
    Cause cause;
};

// One wording for each cause the system names in its own way on each platform and call.
inline constexpr char kFolderInPlace[] = "there is a folder in its place";
inline constexpr char kFileInPlaceOfFolder[] = "a file stands in place of one of its folders";
inline constexpr char kNotAnOrdinaryFile[] = "it is not an ordinary file";
// A name beside the data file that only the program's own files may have is a symbolic link.
inline constexpr char kLinkInPlace[] = "it is a symbolic link, which Tesselby never follows for its own files";
inline constexpr char kTooLargeToOpen[] =
    "the address list is too large to open: it needs more memory than the program may take";

} // namespace tesselby
