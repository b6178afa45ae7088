#include "TestFiles.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

TemporaryFolder::TemporaryFolder(const std::filesystem::path& top)
{
    static std::atomic<unsigned> made{0};
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "tesselby-test-" + std::to_string(seed()) + "-" + std::to_string(made++);
        std::error_code failed;
        if (std::filesystem::create_directory(top / name, failed)) {
            m_path = top / name;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made in the temporary folder");
}

namespace {

// Removes what is in folder, and folder, in one pass over each folder. Not std::filesystem::remove_all:
// on Windows a deleted file another handle still holds stays listed until that handle closes, and
// remove_all then reads it again and again without end (under Wine, at least).
void removeTree(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::directory_entry> entries;
    std::error_code failed;
    for (auto entry = std::filesystem::directory_iterator(folder, failed);
         !failed && entry != std::filesystem::directory_iterator(); entry.increment(failed))
        entries.push_back(*entry);
    for (const std::filesystem::directory_entry& entry : entries) {
        std::error_code ignored;
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
            removeTree(entry.path());
        else
            std::filesystem::remove(entry.path(), ignored);
    }
    std::filesystem::remove(folder, failed);
}

} // namespace

TemporaryFolder::~TemporaryFolder()
{
    // What is still held open (a lock's handle closing on a thread of its own) goes a moment later.
    for (int attempt = 0; attempt < 100 && std::filesystem::exists(m_path); ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        removeTree(m_path);
    }
}

std::optional<std::string> readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad())
        return std::nullopt;
    return std::move(bytes).str();
}

bool writeFile(const std::filesystem::path& path, std::string_view bytes, bool append)
{
    std::ofstream file(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

std::vector<std::string> fileNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code failed;
    for (auto entry = std::filesystem::directory_iterator(folder, failed);
         !failed && entry != std::filesystem::directory_iterator(); entry.increment(failed)) {
        std::error_code ignored;
        const std::u8string name = entry->path().filename().u8string();
        if (entry->is_regular_file(ignored) && !isSystemLeftover(std::string(name.begin(), name.end())))
            names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> leftovers(const std::filesystem::path& folder)
{
    std::vector<std::string> found;
    for (const std::string& name : fileNames(folder)) {
        if (name.find(".saving-") != std::string::npos || name.ends_with(".before-save"))
            found.push_back(name);
    }
    return found;
}

bool waitForPath(const std::filesystem::path& path, std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::error_code ignored;
    while (!std::filesystem::exists(path, ignored)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string itemLines(const std::vector<std::string>& values)
{
    std::string bytes;
    for (const std::string& value : values) {
        bytes += '"';
        for (const char c : value)
            bytes += c == '"' ? std::string("\"\"") : std::string(1, c);
        bytes += "\"\r\n";
    }
    return bytes;
}
