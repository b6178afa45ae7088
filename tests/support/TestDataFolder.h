#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "TestFiles.h"
#include "disk/DataFilePath.h"

// The data file of the test's folder. Away from Windows the program finds it as it finds the user's,
// through XDG_DATA_HOME. On Windows the program's file has the fixed name C:/tesselby.txt; there the
// tests keep it in a folder of their own the same way, and one case checks the fixed names themselves.
inline std::filesystem::path dataFile()
{
#ifdef _WIN32
    return environmentPath("XDG_DATA_HOME").value_or(".") / "tesselby" / "tesselby.txt";
#else
    return tesselby::dataFilePath(tesselby::kDataFileWritePath);
#endif
}

// A data folder of the test's own, made the program's per-user data folder, so no test touches a real
// address list. Child processes inherit it. A home of the given name inside it tries names a folder
// may have (spaces, letters outside ASCII); under puts it on another disk.
class TestDataFolder {
public:
    explicit TestDataFolder(const std::filesystem::path& homeName = "share",
                            const std::filesystem::path& under = std::filesystem::temp_directory_path())
        : m_top(under), m_home(m_top.path() / homeName)
    {
        setEnvironment("XDG_DATA_HOME", m_home);
        // The list's history, kept apart from the user's own.
        setEnvironment("XDG_STATE_HOME", m_top.path() / "state");
    }

    // The temporary folder the data home is in, for what a test puts beside it.
    const std::filesystem::path& top() const { return m_top.path(); }
    std::filesystem::path folderPath() const { return m_home / "tesselby"; }
    std::filesystem::path filePath() const { return folderPath() / "tesselby.txt"; }
    std::filesystem::path historyFolder() const { return m_top.path() / "state" / "tesselby" / "history"; }

    void write(std::string_view bytes) const
    {
        std::filesystem::create_directories(folderPath());
        (void)writeFile(filePath(), bytes);
    }
    void append(std::string_view bytes) const { (void)writeFile(filePath(), bytes, true); }
    std::string read() const { return readFile(filePath()).value_or(std::string()); }
    bool exists() const { return std::filesystem::exists(filePath()); }

    // Puts a folder where the data file belongs, a fault that stops reads and writes even for root.
    void putFolderInPlace() const { std::filesystem::create_directories(filePath()); }

private:
    TemporaryFolder m_top;
    std::filesystem::path m_home;
};
