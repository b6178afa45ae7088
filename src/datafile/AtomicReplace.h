#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "FileError.h"

namespace tesselby {

// Replaces the file's content by way of a synced temporary file in the same folder and one rename,
// keeping the file's permissions (owner-only for a new file). On failure the file is untouched.
// Callers hold the data file's lock, so a temporary file found beside it was left by a save that was
// killed midway; it is removed first.
Status replaceFileContent(const std::filesystem::path& path, const std::vector<std::string_view>& pieces);
inline Status replaceFileContent(const std::filesystem::path& path, std::string_view content)
{
    return replaceFileContent(path, std::vector<std::string_view>{content});
}

} // namespace tesselby
