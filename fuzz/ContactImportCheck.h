#pragma once

// What the two import fuzz targets check once a reader has read any bytes: every value it gives is
// UTF-8, and appending its people through the program's own append, after a list in any of the states
// it may be found in, adds them as whole records, each read back exactly, with everyone before as before.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <vector>

#include "ContactProblem.h"
#include "DataFile.h"
#include "format/TextEncoding.h"
#include "records/RecordGrid.h"

namespace tesselby {

inline const std::filesystem::path& fuzzList()
{
    static const std::filesystem::path list = [] {
        // In memory where the system offers it: every append waits for the disk.
        char name[] = "/dev/shm/tesselby-fuzz-XXXXXX";
        char fallback[] = "/tmp/tesselby-fuzz-XXXXXX";
        const char* dir = ::mkdtemp(name);
        if (dir == nullptr)
            dir = ::mkdtemp(fallback);
        if (dir == nullptr)
            std::abort();
        return std::filesystem::path(dir) / "tesselby.txt";
    }();
    return list;
}

inline std::string readWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void checkImport(const ContactsRead& read, unsigned char listState)
{
    for (const Record& record : read.records)
        for (const std::string& value : record)
            if (!isValidUtf8(value))
                std::abort();
    // Empty, whole, ending in an incomplete record, ending in an open quote.
    static const char* const kLists[] = {"", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n", "\"a\"\r\n\"b\"\r\n",
                                         "\"a\"\r\n\"b"};
    const std::string before = kLists[listState % 4];
    std::ofstream(fuzzList(), std::ios::binary | std::ios::trunc) << before;
    const RecordGrid old = RecordGrid::fromText(before);
    if (!appendWrittenRecords(fuzzList(), read.records.text()))
        std::abort();
    const RecordGrid now = RecordGrid::fromText(readWhole(fuzzList()));
    if (now.itemCount() % kFieldCount != 0 || now.recordCount() != old.recordCount() + read.records.size())
        std::abort();
    for (std::size_t r = 1; r <= old.recordCount(); ++r)
        if (now.record(r) != old.record(r))
            std::abort();
    for (std::size_t r = 0; r < read.records.size(); ++r)
        if (now.record(old.recordCount() + 1 + r) != read.records[r])
            std::abort();
}

} // namespace tesselby
