// Writes a generated data file: generate_data RECORDS PATH
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "DataGenerator.h"

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RECORDS PATH\n", argv[0]);
        return 2;
    }
    const std::string text = tesselby::bench::generateDataFile(std::strtoull(argv[1], nullptr, 10));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out.good() ? 0 : 1;
}
