#include "disk/FileLock.h"

#include <system_error>
#include <thread>

#include "disk/FileSystem.h"

namespace tesselby {

namespace {

using Clock = std::chrono::steady_clock;

// Locks what is at path, as the given kind of file, and makes sure that the locked file is still the
// one at path: a lock on a file that was removed or replaced meanwhile guards nothing.
Status waitForLock(NativeFile& file, bool shared, const std::filesystem::path& dataFile, Clock::time_point deadline)
{
    for (;;) {
        const Result<bool> locked = file.tryLock(shared);
        if (!locked)
            return locked.error();
        if (locked.value())
            return {};
        if (Clock::now() > deadline)
            return FileError{dataFile, "another copy of Tesselby is still writing it"};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Result<NativeFile> lockAt(const std::filesystem::path& path, NativeFile::Access access,
                          const std::filesystem::path& dataFile, Clock::time_point deadline)
{
    for (;;) {
        Result<NativeFile> file = NativeFile::open(path, access);
        if (!file)
            return file.error();
        if (Status locked = waitForLock(file.value(), false, dataFile, deadline); !locked)
            return locked.error();
        const Result<FileIdentity> held = file.value().identity();
        if (!held)
            return held.error();
        const Result<FileIdentity> there = identityAt(path);
        if (there && there.value().sameFileAs(held.value()))
            return std::move(file.value());
        if (!there && there.error().cause != FileError::Cause::Missing)
            return there.error();
    }
}

} // namespace

std::filesystem::path lockFilePath(const std::filesystem::path& dataFile)
{
    std::filesystem::path lock = dataFile;
    lock += ".lock";
    return lock;
}

Result<FileLock> FileLock::acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds patience)
{
    const Clock::time_point deadline = Clock::now() + patience;
    FileLock lock;
    // The folder's lock is the one that counts: a cleanup tool may delete the lock file while a save
    // holds it, but the folder cannot go while the data file is in it. The lock file is what copies of
    // older versions take. The data file's own lock is shared by all its names, hard links in other
    // folders too, and keeps reads out while a save rewrites the file in place. Always taken in this
    // order, so they never deadlock.
    for (const auto& [path, access] :
         {std::pair{folderOf(dataFile), NativeFile::Access::Folder},
          std::pair{lockFilePath(dataFile), NativeFile::Access::Lock}, std::pair{dataFile, NativeFile::Access::Read}}) {
        Result<NativeFile> held = lockAt(path, access, dataFile, deadline);
        if (!held && access == NativeFile::Access::Read && held.error().cause == FileError::Cause::Missing)
            break; // nothing to lock yet: the folder's lock guards its making
        if (!held)
            return held.error();
        lock.m_held.push_back(std::move(held.value()));
    }
    return lock;
}

Result<FileLock> FileLock::acquireFileItself(const std::filesystem::path& file, std::chrono::milliseconds patience)
{
    FileLock lock;
    Result<NativeFile> held = lockAt(file, NativeFile::Access::Read, file, Clock::now() + patience);
    if (!held && held.error().cause != FileError::Cause::Missing)
        return held.error();
    if (held)
        lock.m_held.push_back(std::move(held.value()));
    return lock;
}

FileLock::~FileLock()
{
    constexpr std::size_t kWithDataFile = 3;
    if (m_held.size() != kWithDataFile)
        return;
    // After a save replaced the data file, this is the last handle on its old content, and closing it
    // frees that: a quarter of a second for ten million people, which the person need not wait for.
    NativeFile dataFile = std::move(m_held.back());
    m_held.pop_back();
    dataFile.unlock(); // at once: only the freeing may wait
    try {
        std::thread([file = std::move(dataFile)]() mutable { (void)file.close(); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the file has closed here all the same.
    }
}

Status FileLock::shareWhileReading(NativeFile& dataFile, std::chrono::milliseconds patience)
{
    return waitForLock(dataFile, true, dataFile.path(), Clock::now() + patience);
}

} // namespace tesselby
