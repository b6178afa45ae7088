// The POSIX side of the tests' support: the environment and the test's own child processes.
#include "ChildProcess.h"
#include "TestFiles.h"

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

void setEnvironment(const char* name, const std::filesystem::path& value)
{
    ::setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char* name)
{
    ::unsetenv(name);
}

std::optional<std::filesystem::path> environmentPath(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::filesystem::path(value);
}

bool isSystemLeftover(const std::string&)
{
    return false;
}

ChildProcess::ChildProcess(const std::string& body, const std::vector<std::string>& arguments)
{
    std::vector<std::string> words{"/proc/self/exe", kChildBodyFlag, body};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) == 0)
        m_process = pid;
}

int ChildProcess::wait()
{
    if (m_process < 0)
        return -1;
    int status = 0;
    ::waitpid(static_cast<pid_t>(m_process), &status, 0);
    m_process = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::kill()
{
    if (m_process >= 0)
        ::kill(static_cast<pid_t>(m_process), SIGKILL);
}
