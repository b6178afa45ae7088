// A random sequence of adds, edits, rewrites (a removal, a restore), other programs' writes of any bytes
// and restores, some of them cut off as a kill would leave them (the history's last writes torn at any
// byte, the list's change made or not); then every change the history lists must rebuild exactly what
// the list held before it, and an outside change a state the list held.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

#include "DataFile.h"
#include "history/HistoryLog.h"
#include "history/ListHistory.h"
#include "records/EditPlan.h"

using namespace tesselby;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string bytes(std::size_t most)
    {
        const std::size_t n = std::min<std::size_t>(byte() % (most + 1), m_size - std::min(m_at, m_size));
        std::string text(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return text;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::filesystem::path folder()
{
    static const std::filesystem::path made = [] {
        const std::filesystem::path top =
            std::filesystem::temp_directory_path() / ("tesselby-history-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(top);
        ::setenv("XDG_STATE_HOME", (top / "state").c_str(), 1);
        return top;
    }();
    return made;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::filesystem::path list = folder() / "list.txt";
    std::filesystem::remove_all(HistoryLog::folder());
    std::filesystem::remove(list);
    Input in(data, size);
    if (in.byte() % 2 == 1)
        writeAll(list, in.bytes(64));

    std::map<std::uint64_t, std::string> before; // per change, the list just before it
    std::set<std::string> held{readAll(list)};
    std::uint64_t seen = 0;
    for (int step = 0; step < 24 && !in.empty(); ++step) {
        const std::string was = readAll(list);
        std::uint64_t historyWas = std::filesystem::exists(HistoryLog::pathFor(list))
                                       ? std::filesystem::file_size(HistoryLog::pathFor(list))
                                       : 0;
        // A landing at the end is written over by the step's first entry, so a kill may leave the
        // history shorter than it was: from the landing's start on.
        if (historyWas > 13) {
            const std::string bytes = readAll(HistoryLog::pathFor(list));
            const std::uint64_t start = std::strtoull(bytes.substr(bytes.size() - 13, 12).c_str(), nullptr, 16);
            if (start + 1 < bytes.size() && bytes.compare(start, 2, "@L") == 0)
                historyWas = start;
        }
        const std::uint8_t op = in.byte();
        switch (op % 5) {
        case 0:
            (void)appendRecord(list, Record{in.bytes(8), in.bytes(8), in.bytes(4), ""});
            break;
        case 1: {
            Result<RecordGrid> grid = loadRecordGrid(list);
            if (grid && grid.value().recordCount() > 0) {
                const std::size_t number = 1 + in.byte() % grid.value().recordCount();
                const Record values{in.bytes(8), "", in.bytes(4), in.bytes(4)};
                (void)saveRecordEdit(list, grid.value(), number, editTo(grid.value(), number, values));
            }
            break;
        }
        case 2: {
            const std::size_t cut = in.byte();
            (void)rewriteList(list, [cut](const std::string& now) -> Result<std::optional<ListRewrite>> {
                std::string shorter = now;
                shorter.erase(std::min(cut, shorter.size()), 7);
                return std::optional<ListRewrite>(ListRewrite{shorter, "cut"});
            });
            break;
        }
        case 3:
            writeAll(list, in.bytes(48));
            held.insert(readAll(list));
            continue;
        case 4: {
            const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(list);
            if (!changes || changes.value().empty())
                break;
            const ListHistory::Change& change = changes.value()[in.byte() % changes.value().size()];
            const Result<std::string> then = ListHistory::listBefore(list, change.sequence);
            if (change.kind != ListHistory::Change::Kind::Began) {
                if (!then)
                    std::abort();
                (void)rewriteList(list, [&](const std::string&) -> Result<std::optional<ListRewrite>> {
                    return std::optional<ListRewrite>(ListRewrite{then.value(), "restored"});
                });
            }
            break;
        }
        }
        // What this step recorded is known before any kill is simulated.
        const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(list);
        if (changes) {
            for (const ListHistory::Change& change : changes.value())
                if (change.sequence > seen && change.kind == ListHistory::Change::Kind::Change)
                    before[change.sequence] = was;
            if (!changes.value().empty())
                seen = std::max(seen, changes.value().back().sequence);
        }
        held.insert(readAll(list));
        if (op >= 0xC0) {
            // A kill during this step: the history's writes torn at some byte, and the list's change made
            // or not (not, only while the history's entry for it may be cut too).
            const std::filesystem::path history = HistoryLog::pathFor(list);
            const std::uint64_t now = std::filesystem::exists(history) ? std::filesystem::file_size(history) : 0;
            if (now > historyWas) {
                const std::uint64_t keep = historyWas + in.byte() * (now - historyWas) / 255;
                std::filesystem::resize_file(history, keep);
                if (op & 1)
                    writeAll(list, was);
            }
            // Sequences of torn entries are given again: forget what this step recorded of them.
            const Result<std::vector<ListHistory::Change>> left = ListHistory::changes(list);
            std::uint64_t last = 0;
            if (left && !left.value().empty())
                last = left.value().back().sequence;
            for (auto it = before.begin(); it != before.end();)
                it = it->first > last ? before.erase(it) : std::next(it);
            seen = last;
        }
    }
    // A history left torn is put right by the next change, as the program does.
    (void)appendRecord(list, Record{"last", "", "", ""});

    // Only torn writes spoil this history, and a torn tail is cut, never taken as damage.
    for (const auto& entry : std::filesystem::directory_iterator(HistoryLog::folder()))
        if (entry.path().filename().string().find(".set-aside-") != std::string::npos)
            std::abort();
    const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(list);
    if (!changes)
        std::abort();
    for (const ListHistory::Change& change : changes.value()) {
        if (change.kind == ListHistory::Change::Kind::Began)
            continue;
        const Result<std::string> rebuilt = ListHistory::listBefore(list, change.sequence);
        if (!rebuilt)
            std::abort();
        const auto expected = before.find(change.sequence);
        if (expected != before.end() && rebuilt.value() != expected->second)
            std::abort();
        if (change.kind == ListHistory::Change::Kind::Outside && held.count(rebuilt.value()) == 0)
            std::abort();
    }
    return 0;
}
