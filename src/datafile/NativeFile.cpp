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

bool NativeFile::readAll(std::string& out)
{
    std::uint64_t expected = 0;
    if (!size(expected))
        return false;
    std::size_t used = out.size();
    // One read of the expected size; the loop copes with a file that grows while it is read.
    out.resize(used + static_cast<std::size_t>(expected) + 1);
    for (;;) {
        if (used == out.size())
            out.resize(out.size() * 2 + 4096);
        const std::int64_t got = readSome(out.data() + used, out.size() - used);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    out.resize(used);
    return true;
}

FileError folderInPlaceError(const std::filesystem::path& path)
{
    return FileError{path, "there is a folder in its place"};
}

} // namespace tesselby
