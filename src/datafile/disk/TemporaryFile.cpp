#include "disk/TemporaryFile.h"

#include <utility>

#include "disk/FileSystem.h"

namespace tesselby {

Result<TemporaryFile> TemporaryFile::createBeside(const std::filesystem::path& target)
{
    Result<NativeFile> file = createTemporaryBeside(target);
    if (!file)
        return file.error();
    return TemporaryFile(std::move(file.value()));
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_file(std::move(other.m_file)), m_path(std::move(other.m_path)), m_kept(std::exchange(other.m_kept, true))
{
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept
{
    if (this != &other) {
        discard();
        m_file = std::move(other.m_file);
        m_path = std::move(other.m_path);
        m_kept = std::exchange(other.m_kept, true);
    }
    return *this;
}

TemporaryFile::~TemporaryFile()
{
    discard();
}

Status TemporaryFile::moveTo(const std::filesystem::path& to)
{
    Status moved = moveOver(m_path, to);
    if (moved)
        m_path = to;
    return moved;
}

void TemporaryFile::discard()
{
#ifdef _WIN32
    (void)m_file.close(); // an open file cannot be removed here
#endif
    // Elsewhere removed while still open and locked, so that no cleanup takes it for a leftover meanwhile.
    if (!m_kept)
        (void)removeFile(m_path);
    (void)m_file.close();
}

} // namespace tesselby
