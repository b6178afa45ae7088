#include "NativeFile.h"

#include <utility>

namespace tesselby {

NativeFile::NativeFile(NativeFile&& other) noexcept : m_handle(std::exchange(other.m_handle, -1)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, -1);
    }
    return *this;
}

NativeFile::~NativeFile()
{
    close();
}

FileError folderInPlaceError(const std::filesystem::path& path)
{
    return FileError{path.string(), "there is a folder in its place"};
}

} // namespace tesselby
