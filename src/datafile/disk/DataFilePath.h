#pragma once

#include <filesystem>
#include <string_view>

namespace tesselby {

// The program's fixed names for its data file: reads use the first, writes the second. They differ
// only in the drive letter's case and always name one file.
inline constexpr std::string_view kDataFileReadPath = "C:/tesselby.txt";
inline constexpr std::string_view kDataFileWritePath = "c:/tesselby.txt";

// Where a fixed name lives on this system. Away from Windows both names map to tesselby.txt in the
// per-user data folder ($XDG_DATA_HOME/tesselby, by default ~/.local/share/tesselby).
std::filesystem::path dataFilePath(std::string_view fixedName);

} // namespace tesselby
