#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Files and folders for the data layer's tests, in plain C++ so that the same cases run on every
// system. What differs between systems is in posix/ and windows/.

// A new, empty folder of the test's own (in the system's temporary folder unless told where), removed
// with everything in it when the test is done.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::filesystem::path& under = std::filesystem::temp_directory_path());
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole file, byte for byte; nothing when it cannot be read.
std::optional<std::string> readFile(const std::filesystem::path& path);
// Writes bytes as the whole file (or, with append, after what it holds); false when that failed.
bool writeFile(const std::filesystem::path& path, std::string_view bytes, bool append = false);
// The names of the ordinary files in folder, sorted, but for what the system itself leaves there.
std::vector<std::string> fileNames(const std::filesystem::path& folder);
// What a cut-off or failed save may leave beside the data file, by name, sorted.
std::vector<std::string> leftovers(const std::filesystem::path& folder);
// Whether a file of this name was left by the system rather than by the program.
bool isSystemLeftover(const std::string& name);
// Waits until something stands at path; false when nothing came within patience.
bool waitForPath(const std::filesystem::path& path,
                 std::chrono::milliseconds patience = std::chrono::milliseconds(20000));

// The exact bytes the program writes for these values: one quoted item per line, CR LF line ends.
std::string itemLines(const std::vector<std::string>& values);

// The test process's environment, which child processes inherit; paths in the system's own form, so
// that names outside ASCII survive on Windows too.
void setEnvironment(const char* name, const std::filesystem::path& value);
void unsetEnvironment(const char* name);
std::optional<std::filesystem::path> environmentPath(const char* name);
