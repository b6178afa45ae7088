// Writes a generated data file, or with --phone-cards the same people as a phone's vCard export:
// generate_data [--phone-cards] RECORDS PATH
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "DataGenerator.h"

int main(int argc, char* argv[])
{
    const bool cards = argc == 4 && std::string_view(argv[1]) == "--phone-cards";
    if (argc != 3 && !cards) {
        std::fprintf(stderr, "usage: %s [--phone-cards] RECORDS PATH\n", argv[0]);
        return 2;
    }
    const std::size_t records = std::strtoull(argv[cards ? 2 : 1], nullptr, 10);
    std::ofstream out(argv[cards ? 3 : 2], std::ios::binary | std::ios::trunc);
    const auto write = [&out](std::string_view part) {
        out.write(part.data(), static_cast<std::streamsize>(part.size()));
    };
    if (cards)
        tesselby::bench::generatePhoneCards(records, write);
    else
        tesselby::bench::generateDataFile(records, write);
    return out.good() ? 0 : 1;
}
