#include "AtomicReplace.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PosixFile.h"

namespace tesselby {

namespace {

// Makes the rename itself durable; a failure here is not worth failing a save that has happened.
void syncFolder(const std::filesystem::path& folder)
{
    UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

} // namespace

Status replaceFileContent(const std::filesystem::path& path, std::string_view content)
{
    mode_t mode = 0600;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            errno = EISDIR;
            return errorFromErrno(path);
        }
        mode = existing.st_mode & 07777;
    }

    std::string temporary = path.string() + ".XXXXXX";
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd.valid())
        return errorFromErrno(path.parent_path());

    if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), content) || ::fsync(fd.get()) != 0 || !fd.close()) {
        const FileError error = errorFromErrno(path);
        ::unlink(temporary.c_str());
        return error;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const FileError error = errorFromErrno(path);
        ::unlink(temporary.c_str());
        return error;
    }
    syncFolder(path.parent_path());
    return std::nullopt;
}

} // namespace tesselby
