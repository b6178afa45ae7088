#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "Result.h"

namespace tesselby {

// How bytes move between the layers, so that what holds a list in memory never needs to know the disk.

// Where a list is read from: fills into with at most room bytes and says how many, 0 at the end.
using ByteSource = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// Where produced bytes go, in order: a file being written, say.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual Status write(std::string_view bytes) = 0;
    virtual Status write(const std::vector<std::string_view>& pieces)
    {
        for (const std::string_view piece : pieces)
            if (Status written = write(piece); !written)
                return written;
        return {};
    }
    // Takes up to length bytes of the system's open file source, from offset, without their passing
    // through the program's memory: how many it took, 0 when it cannot (the producer then writes them).
    virtual Result<std::uint64_t> sendSome(int source, std::uint64_t offset, std::uint64_t length)
    {
        (void)source, (void)offset, (void)length;
        return std::uint64_t(0);
    }
};

} // namespace tesselby
