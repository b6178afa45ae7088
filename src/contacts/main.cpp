#include <iostream>
#include <string>
#include <vector>

#include "ContactCommands.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tesselby::runContactsCommand(args, TESSELBY_VERSION, {std::cin, std::cout, std::cerr});
}
