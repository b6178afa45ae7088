#include <iostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#endif

#include "ContactCommands.h"

int main(int argc, char** argv)
{
#ifndef _WIN32
    // A standard stream left closed would hand its number to the next file opened (the list, its lock,
    // a search's matches), and what was meant for the stream would land there. /dev/null, opened the
    // other way round, takes the number and makes every use of the stream fail as a closed one's does.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
            return tesselby::kExitProblem;
#endif
    // Unsynced, a read error on standard input reaches the stream's state rather than reading as its end.
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tesselby::runContactsCommand(args, TESSELBY_VERSION, {std::cin, std::cout, std::cerr});
}
