#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "ContactCommands.h"

namespace {

// Throwing std::bad_alloc takes memory of its own. When the system gives the program so little that the
// runtime could not even set its emergency store aside, a failed allocation would end in an abort rather
// than in the command's message; so a few blocks are kept from the start and one is handed back before
// each bad_alloc, for the exception and the message.
std::array<void*, 8> reserve{};

void releaseReserveAndFail()
{
    for (void*& block : reserve)
        if (block != nullptr) {
            std::free(block);
            block = nullptr;
            break;
        }
    throw std::bad_alloc();
}

constexpr char kNoMemoryToStart[] = ": not enough memory to start: the program may take less than it needs; "
                                    "the address list was not touched\n";

int noMemoryToStart()
{
    std::fputs(tesselby::kCommandName, stderr);
    std::fputs(kNoMemoryToStart, stderr);
    return tesselby::kExitProblem;
}

#ifdef TESSELBY_WITH_SYNC
// The sync is a program of its own (tesselby-contacts-sync), beside this one in a build and in
// libexec/tesselby once installed; "sync" hands the rest of the command line to it.
int runSyncProgram(char** argv)
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string(argv[0]);
    folder.erase(folder.find_last_of('/') + 1);
    for (const std::string& program :
         {folder + "tesselby-contacts-sync", folder + "../libexec/tesselby/tesselby-contacts-sync"}) {
        argv[1] = argv[0];
        ::execv(program.c_str(), argv + 1);
        if (errno != ENOENT)
            break;
    }
    std::fprintf(stderr, "%s: cannot start the sync (tesselby-contacts-sync): %s; nothing was changed\n",
                 tesselby::kCommandName, std::strerror(errno));
    return tesselby::kExitProblem;
}
#endif

} // namespace

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
#ifdef SIGXFSZ
    // A file-size limit then fails the write (EFBIG), which each command takes back and reports, rather
    // than killing the command halfway through an import or an export.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef TESSELBY_WITH_SYNC
    if (argc >= 2 && std::string(argv[1]) == "sync")
        return runSyncProgram(argv);
#endif
    for (void*& block : reserve)
        if ((block = std::malloc(16 * 1024)) == nullptr)
            return noMemoryToStart();
    std::set_new_handler(releaseReserveAndFail);
    try {
        // Unsynced, a read error on standard input reaches the stream's state rather than reading as its end.
        std::ios::sync_with_stdio(false);
        const std::vector<std::string> args(argv + 1, argv + argc);
        return tesselby::runContactsCommand(args, TESSELBY_VERSION, {std::cin, std::cout, std::cerr});
    } catch (const std::bad_alloc&) {
        // Only what the command could not start without; it reports its own shortfalls itself.
        return noMemoryToStart();
    }
}
