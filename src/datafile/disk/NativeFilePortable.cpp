#include "disk/NativeFile.h"

#include "memory/LargeBlock.h"

#include <utility>

namespace tesselby {

NativeFile::NativeFile(NativeFile&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_path(std::move(other.m_path)), m_access(other.m_access),
      m_created(other.m_created)
{
}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept
{
    if (this != &other) {
        (void)close();
        m_handle = std::exchange(other.m_handle, -1);
        m_path = std::move(other.m_path);
        m_access = other.m_access;
        m_created = other.m_created;
    }
    return *this;
}

NativeFile::~NativeFile()
{
    (void)close();
}

Result<std::string> NativeFile::readAll()
{
    const Result<std::uint64_t> expected = size();
    if (!expected)
        return expected.error();
    std::string out;
    std::size_t used = 0;
    // One read of the expected size; the loop copes with a file that grows while it is read.
    out.resize(static_cast<std::size_t>(expected.value()) + 1);
    for (;;) {
        if (used == out.size())
            out.resize(out.size() * 2 + 4096);
        const Result<std::size_t> got = readSome(out.data() + used, out.size() - used);
        if (!got)
            return got.error();
        if (got.value() == 0)
            break;
        used += got.value();
    }
    out.resize(used);
    return out;
}

Status NativeFile::readAllInto(LargeBlock& block)
{
    const Result<std::uint64_t> expected = size();
    if (!expected)
        return expected.error();
    block.clear();
    // The expected size is read straight into the block.
    const std::size_t wanted = static_cast<std::size_t>(expected.value());
    char* into = block.extend(wanted);
    std::size_t held = 0;
    while (held < wanted) {
        const Result<std::size_t> got = readSome(into + held, wanted - held);
        if (!got || got.value() == 0) {
            block.resize(held);
            if (!got)
                return got.error();
            return {};
        }
        held += got.value();
    }
    // Then the end is made sure of, and what a file that grew meanwhile holds past it is read on.
    char more[16384];
    for (;;) {
        const Result<std::size_t> got = readSome(more, sizeof more);
        if (!got)
            return got.error();
        if (got.value() == 0)
            return {};
        block.append(std::string_view(more, got.value()));
    }
}

Status NativeFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const Result<std::size_t> written = writeSome(bytes.data(), bytes.size());
        if (!written)
            return written.error();
        bytes.remove_prefix(written.value());
    }
    return {};
}

Status NativeFile::write(const std::vector<std::string_view>& pieces)
{
    for (const std::string_view piece : pieces) {
        if (Status written = write(piece); !written)
            return written;
    }
    return {};
}

Status NativeFile::copyFrom(NativeFile& source)
{
    std::string chunk(std::size_t(1) << 20, '\0');
    for (;;) {
        const Result<std::size_t> got = source.readSome(chunk.data(), chunk.size());
        if (!got)
            return got.error();
        if (got.value() == 0)
            return {};
        if (Status written = write(std::string_view(chunk).substr(0, got.value())); !written)
            return written;
    }
}

} // namespace tesselby
