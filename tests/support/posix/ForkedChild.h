#pragma once

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// POSIX only: forks, so a test body can hand the child its own locals.

// Runs body in a child process and returns its exit code (or 128 + signal), so a test can try what
// would hang, crash, or change the whole process (a user, a limit, a mount).
template <typename Body> int inChild(Body body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A disk that is full a few bytes past the current file, as a file-size limit, which holds for root too.
inline void fillDiskAfter(long long bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

// The unprivileged user a test run as root becomes to try what a person's own account meets.
inline constexpr uid_t kOtherUser = 65534;

// In a child: becomes kOtherUser for good. False where that is impossible (not run as root).
inline bool becomeOtherUser()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(kOtherUser) == 0 && ::setuid(kOtherUser) == 0;
}
