#include "SaveFaultShim.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::optional<SaveFault> g_fault;
std::thread::id g_thread;
std::atomic<bool> g_armed{false};
std::atomic<bool> g_acted{false};

template <typename Function> Function realCall(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

std::string pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::string target(4096, '\0');
    const ssize_t got = ::readlink(link, target.data(), target.size());
    target.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return target;
}

bool endsWith(const std::string& text, const std::string& end)
{
    if (!end.empty() && end.back() == '-') // a temporary's marker, followed by its unique part
        return text.find(end) != std::string::npos;
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether this call is the one armed; counts it off when it matches.
bool strikes(const char* call, const std::string& path)
{
    if (!g_armed || std::this_thread::get_id() != g_thread || g_fault->call != call ||
        !endsWith(path, g_fault->pathEnd))
        return false;
    if (g_fault->skip-- > 0)
        return false;
    g_armed = false; // also while before runs, whose own calls pass
    g_acted = true;
    if (g_fault->before)
        g_fault->before();
    g_armed = --g_fault->times > 0;
    return g_fault->fail;
}

} // namespace

SaveFaultArmed::SaveFaultArmed(SaveFault fault)
{
    g_fault = std::move(fault);
    g_thread = std::this_thread::get_id();
    g_acted = false;
    g_armed = true;
}

SaveFaultArmed::~SaveFaultArmed()
{
    g_armed = false;
}

bool SaveFaultArmed::acted() const
{
    return g_acted;
}

extern "C" int fsync(int fd)
{
    static const auto real = realCall<int (*)(int)>("fsync");
    if (g_armed && strikes("fsync", pathOf(fd))) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" int close(int fd)
{
    static const auto real = realCall<int (*)(int)>("close");
    if (!g_armed)
        return real(fd);
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return real(fd);
    const char* call = (flags & O_ACCMODE) == O_RDONLY ? "closeRead" : "close";
    if (!strikes(call, pathOf(fd)))
        return real(fd);
    (void)real(fd);
    errno = EIO;
    return -1;
}

extern "C" int unlink(const char* path)
{
    static const auto real = realCall<int (*)(const char*)>("unlink");
    if (g_armed && strikes("unlink", path)) {
        errno = EIO;
        return -1;
    }
    return real(path);
}
