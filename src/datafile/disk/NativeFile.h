#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ByteStreams.h"
#include "Result.h"

namespace tesselby {

class LargeBlock;

// Which file a handle or a path reaches, and how many names it has.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t linkCount = 1;
    bool isFolder = false;
    // The owning user's number where the system has one (0 on Windows, where access lists decide).
    std::uint64_t owner = 0;

    bool sameFileAs(const FileIdentity& other) const { return device == other.device && file == other.file; }
};

// An open file of the system's. The system calls themselves are written once for POSIX systems (posix/)
// and once for Windows (windows/); what is built from them is written once, in NativeFile.cpp. Every
// call that fails returns the failure it met, about this file.
class NativeFile {
public:
    enum class Access {
        Read,    // an existing ordinary file, for reading; one that would make a read wait is refused
        Append,  // created when missing (owner-only), for adding to its end
        Rewrite, // an existing ordinary file, for writing over from its start
        Lock,    // created when missing (owner-only), only to be locked
        Folder,  // an existing folder, to be synced or locked
        // An existing ordinary file the program made beside the data file, for reading: never reached
        // through a link, so that a name planted there cannot lead a read into another file.
        OwnRead,
    };

    static Result<NativeFile> open(const std::filesystem::path& path, Access access);
    // A new file that did not exist before (owner-only), for writing; Cause::Exists when the name is taken.
    static Result<NativeFile> createNew(const std::filesystem::path& path);

    NativeFile(NativeFile&& other) noexcept;
    NativeFile& operator=(NativeFile&& other) noexcept;
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;
    ~NativeFile();

    const std::filesystem::path& path() const { return m_path; }
    // Whether open made the file (Append and Lock do when it is missing), so that its folder entry still
    // has to reach the disk.
    bool created() const { return m_created; }

    // Reads up to wanted bytes at the current place: how many were read, 0 at the end of the file.
    Result<std::size_t> readSome(char* into, std::size_t wanted);
    // The same from offset; the current place may move.
    Result<std::size_t> readSomeAt(std::uint64_t offset, char* into, std::size_t wanted);
    Result<std::string> readAll();
    // The same into block, whose bytes are then written only by the read.
    Status readAllInto(LargeBlock& block);
    Result<std::uint64_t> size();
    Result<FileIdentity> identity();
    // Writes every byte at the current place (at the end, for Append).
    Status write(std::string_view bytes);
    Status write(const std::vector<std::string_view>& pieces);
    // Writes the rest of source from its current place.
    Status copyFrom(NativeFile& source);
#if defined(__linux__)
    // Has the system write up to length bytes of the open file source, from offset, where this file
    // stands, without passing them through the program's memory: how many it wrote, 0 when this file
    // cannot take bytes that way (the caller then writes them itself).
    Result<std::uint64_t> sendSome(int source, std::uint64_t offset, std::uint64_t length);
#endif
    // Waits until what was written is on the disk.
    Status sync();
    Status truncate(std::uint64_t bytes);
    // Moves the place the next read or write starts at.
    Status seek(std::uint64_t offset);
    // Takes the lock without waiting: false when another holder has it. Shared locks exclude only an
    // exclusive one.
    Result<bool> tryLock(bool shared = false);
    // Gives up the lock now rather than when the file closes, which a child process that was handed
    // the handle would put off until it ends.
    void unlock();
    // Gives this new file the owner, group, permissions, access lists and extended attributes of
    // original; fails where one of them cannot be carried over.
    Status takeIdentityOf(NativeFile& original);
    // Closes now and says whether the close itself failed (a delayed write error shows up here).
    Status close();

private:
    NativeFile(std::intptr_t handle, std::filesystem::path path, Access access)
        : m_handle(handle), m_path(std::move(path)), m_access(access)
    {
    }

    Result<std::size_t> writeSome(const char* bytes, std::size_t wanted);

    std::intptr_t m_handle = -1;
    std::filesystem::path m_path;
    Access m_access;
    bool m_created = false;
};

// A file being written, as the sink of what a producer writes.
class FileSink : public ByteSink {
public:
    explicit FileSink(NativeFile& file) : m_file(file) {}
    Status write(std::string_view bytes) override { return m_file.write(bytes); }
    Status write(const std::vector<std::string_view>& pieces) override { return m_file.write(pieces); }
#if defined(__linux__)
    Result<std::uint64_t> sendSome(int source, std::uint64_t offset, std::uint64_t length) override
    {
        return m_file.sendSome(source, offset, length);
    }
#endif

private:
    NativeFile& m_file;
};

} // namespace tesselby
