#include "disk/DataFilePath.h"

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace tesselby {

namespace {

#ifndef _WIN32
bool isFixedName(std::string_view name)
{
    return name == kDataFileReadPath || name == kDataFileWritePath;
}

std::filesystem::path homeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return std::filesystem::current_path();
}

std::filesystem::path dataHome()
{
    // The base directory rules say a relative XDG_DATA_HOME is invalid and must be ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        std::filesystem::path path(xdg);
        if (path.is_absolute())
            return path;
    }
    return homeFolder() / ".local" / "share";
}
#endif

} // namespace

std::filesystem::path dataFilePath(std::string_view fixedName)
{
#ifdef _WIN32
    return std::filesystem::path(std::u8string(fixedName.begin(), fixedName.end()));
#else
    if (!isFixedName(fixedName))
        return std::filesystem::path(fixedName);
    return dataHome() / "tesselby" / "tesselby.txt";
#endif
}

} // namespace tesselby
