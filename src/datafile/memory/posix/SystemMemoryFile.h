#pragma once

#include <cstddef>

namespace tesselby {

// Bytes kept in the system's memory as an anonymous file (Linux), made at the first write: read back a
// piece at a time, they take none of the program's own memory. A lack of memory throws std::bad_alloc;
// any other failure of the system's, which would be a fault, std::system_error.
class SystemMemoryFile {
public:
    SystemMemoryFile() = default;
    SystemMemoryFile(SystemMemoryFile&& other) noexcept;
    SystemMemoryFile& operator=(SystemMemoryFile&& other) noexcept;
    SystemMemoryFile(const SystemMemoryFile&) = delete;
    SystemMemoryFile& operator=(const SystemMemoryFile&) = delete;
    ~SystemMemoryFile();

    // The system's number for the file, for handing bytes to another file without copying them; -1
    // before the first write.
    int handle() const { return m_file; }
    void readAt(std::size_t offset, char* into, std::size_t length) const;
    void writeAt(std::size_t offset, const char* from, std::size_t length);
    // Takes the memory for size bytes now, so that a lack of it shows before anything moves.
    void reserve(std::size_t size);
    void truncate(std::size_t size);

private:
    int m_file = -1;
};

} // namespace tesselby
