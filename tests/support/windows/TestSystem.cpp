// The Windows side of the tests' support: the environment and the test's own child processes.
#include "ChildProcess.h"
#include "TestFiles.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

} // namespace

void setEnvironment(const char* name, const std::filesystem::path& value)
{
    ::SetEnvironmentVariableW(wide(name).c_str(), value.c_str());
}

void unsetEnvironment(const char* name)
{
    ::SetEnvironmentVariableW(wide(name).c_str(), nullptr);
}

std::optional<std::filesystem::path> environmentPath(const char* name)
{
    const std::wstring key = wide(name);
    const DWORD length = ::GetEnvironmentVariableW(key.c_str(), nullptr, 0);
    if (length == 0)
        return std::nullopt;
    std::wstring value(length, L'\0');
    value.resize(::GetEnvironmentVariableW(key.c_str(), value.data(), length));
    return std::filesystem::path(value);
}

bool isSystemLeftover(const std::string& name)
{
    // Wine's ReplaceFileW first moves the replaced file to rfXXXX.tmp beside it, which stays while any
    // handle (the program's lock among them) holds the old content, and for good, empty, when the
    // replace fails. Windows' own leaves nothing.
    static const bool underWine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    // GetTempFileNameW names it "rf", up to four hex digits and ".tmp".
    return underWine && name.size() <= 10 && name.starts_with("rf") && name.ends_with(".tmp");
}

ChildProcess::ChildProcess(const std::string& body, const std::vector<std::string>& arguments)
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    // The words are the tests' own plain ones, so quoting each is all the command line needs.
    std::wstring line = L"\"" + self + L"\" " + wide(kChildBodyFlag) + L" " + wide(body);
    for (const std::string& argument : arguments)
        line += L" \"" + wide(argument) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ::CloseHandle(process.hThread);
        m_process = reinterpret_cast<std::intptr_t>(process.hProcess);
    }
}

int ChildProcess::wait()
{
    if (m_process < 0)
        return -1;
    const HANDLE process = reinterpret_cast<HANDLE>(m_process);
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    m_process = -1;
    return static_cast<int>(code);
}

void ChildProcess::kill()
{
    if (m_process >= 0)
        ::TerminateProcess(reinterpret_cast<HANDLE>(m_process), 137);
}
