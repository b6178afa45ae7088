// tesselby-contacts-sync: what `tesselby-contacts sync` runs. A program of its own so that libcurl, its
// TLS library and their start-up cost are loaded only by a sync, never by the other commands.
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <sys/stat.h>

#include "ContactCommands.h"
#include "SyncCommand.h"
#include "history/ListHistory.h"

int main(int argc, char** argv)
{
    // A server that closes the connection must not end the sync halfway through its writes.
    std::signal(SIGPIPE, SIG_IGN);
    // What the sync makes of its own (its state, its settings, their folders) is the user's alone; the
    // list's own save keeps the list's permissions as they were.
    ::umask(077);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::cerr << tesselby::kCommandName << ": cannot start the network library; nothing was changed\n";
        return tesselby::kExitProblem;
    }
    tesselby::setHistoryProgram(std::string(tesselby::kCommandName) + " sync");
    int status = tesselby::kExitProblem;
    try {
        std::ios::sync_with_stdio(false);
        const std::vector<std::string> args(argv + 1, argv + argc);
        status = tesselby::runSync(args, {std::cin, std::cout, std::cerr});
        for (const std::string& notice : tesselby::takeHistoryNotices())
            std::cerr << tesselby::kCommandName << ": warning: " << notice << '\n';
    } catch (const std::bad_alloc&) {
        std::cerr << tesselby::kCommandName << ": " << tesselby::kOutOfMemory << '\n';
    }
    curl_global_cleanup();
    return status;
}
