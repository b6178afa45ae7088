#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The test executable started again to run one body registered with TESSELBY_CHILD_BODY, as a second
// running copy of the program would be: a process of its own, with this one's environment.
class ChildProcess {
public:
    ChildProcess(const std::string& body, const std::vector<std::string>& arguments = {});
    // A child still running when the test ends is killed, so that no test leaves one behind.
    ~ChildProcess()
    {
        kill();
        (void)wait();
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Its exit code, once it has ended (128 + the signal for a POSIX child killed by one); -1 when it
    // could not be started.
    int wait();
    // Ends it at once, as a crash or the task manager would.
    void kill();

private:
    std::intptr_t m_process = -1;
};

// Runs body in a child process to its end and gives its exit code.
inline int runChild(const std::string& body, const std::vector<std::string>& arguments = {})
{
    return ChildProcess(body, arguments).wait();
}

using ChildBody = int (*)(const std::vector<std::string>& arguments);

struct ChildBodyRegistration {
    ChildBodyRegistration(const char* name, ChildBody body);
};

// The first argument that makes the test executable run a child body instead of its tests.
inline constexpr char kChildBodyFlag[] = "--tesselby-child";

// Runs the body argv names when argv asks for one; false when it does not.
bool runChildBodyIfAsked(int argc, char** argv, int& exitCode);

// Defines a body a ChildProcess can run by name; it returns the child's exit code.
#define TESSELBY_CHILD_BODY(name)                                                                                      \
    static int name(const std::vector<std::string>& arguments);                                                        \
    static const ChildBodyRegistration name##Registration(#name, name);                                                \
    static int name([[maybe_unused]] const std::vector<std::string>& arguments)
