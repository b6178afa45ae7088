#include "ChildProcess.h"

#include <map>
#include <string_view>

namespace {

std::map<std::string, ChildBody>& bodies()
{
    static std::map<std::string, ChildBody> registered;
    return registered;
}

} // namespace

ChildBodyRegistration::ChildBodyRegistration(const char* name, ChildBody body)
{
    bodies()[name] = body;
}

bool runChildBodyIfAsked(int argc, char** argv, int& exitCode)
{
    if (argc < 3 || std::string_view(argv[1]) != kChildBodyFlag)
        return false;
    const auto body = bodies().find(argv[2]);
    exitCode = body == bodies().end() ? 100 : body->second(std::vector<std::string>(argv + 3, argv + argc));
    return true;
}
