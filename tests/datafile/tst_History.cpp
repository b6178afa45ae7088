#include "DoctestPrinters.h"
#include <chrono>
#include <functional>
#include <map>

#include "DataFile.h"
#include "TestDataFolder.h"
#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"
#include "disk/NativeFile.h"
#include "history/HistoryLog.h"
#include "history/ListHistory.h"
#include "records/EditPlan.h"

#ifndef _WIN32
#include "SaveFaultShim.h"
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tesselby;

namespace {

// Runs changes on the list the way the programs make them, keeping for every change the history lists
// the bytes the list held just before it, so that each can be checked against what the history rebuilds.
class HistoryModel {
public:
    explicit HistoryModel(const TestDataFolder& folder) : m_folder(folder) {}

    void add(const Record& record)
    {
        change([&] { REQUIRE(appendRecord(dataFile(), record).ok()); });
    }
    void edit(std::size_t number, const Record& values)
    {
        change([&] {
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            if (grid.value().recordCount() < number)
                return;
            const RecordEdit edit = editTo(grid.value(), number, values);
            REQUIRE(saveRecordEdit(dataFile(), grid.value(), number, edit).ok());
        });
    }
    // A removal or any other whole rewrite, as remove and restore make it.
    void rewrite(const std::function<std::string(const std::string&)>& make, const std::string& words = "rewritten")
    {
        change([&] {
            REQUIRE(rewriteList(dataFile(), [&](const std::string& now) -> Result<std::optional<ListRewrite>> {
                        return std::optional<ListRewrite>(ListRewrite{make(now), words});
                    }).ok());
        });
    }
    // Puts the list as it stood before the change that many back, as restore does.
    void restore(std::size_t back)
    {
        const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(m_target());
        REQUIRE(changes.ok());
        if (changes.value().size() < back + 1)
            return;
        const ListHistory::Change& change = changes.value()[changes.value().size() - back];
        if (change.kind == ListHistory::Change::Kind::Began)
            return;
        const Result<std::string> then = ListHistory::listBefore(m_target(), change.sequence);
        REQUIRE(then.ok());
        rewrite([&](const std::string&) { return then.value(); });
    }
    // Another program writes the list.
    void outside(const std::string& bytes)
    {
        m_folder.write(bytes);
        m_outsideBefore = m_known;
        m_known = bytes;
    }

    // Every change the history lists rebuilds exactly what the list held before it.
    void checkEveryPoint() const
    {
        const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(m_target());
        REQUIRE(changes.ok());
        std::size_t checked = 0;
        for (const ListHistory::Change& change : changes.value()) {
            const auto expected = m_before.find(change.sequence);
            if (expected == m_before.end())
                continue;
            const Result<std::string> rebuilt = ListHistory::listBefore(m_target(), change.sequence);
            REQUIRE(rebuilt.ok());
            CHECK(rebuilt.value() == expected->second);
            ++checked;
        }
        CHECK(checked == m_before.size());
    }
    std::size_t outsideChanges() const
    {
        const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(m_target());
        REQUIRE(changes.ok());
        return static_cast<std::size_t>(
            std::count_if(changes.value().begin(), changes.value().end(),
                          [](const auto& c) { return c.kind == ListHistory::Change::Kind::Outside; }));
    }

private:
    static std::filesystem::path m_target() { return finalTarget(dataFile()).value(); }

    void change(const std::function<void()>& make)
    {
        const std::string before = m_folder.read();
        std::uint64_t seen = 0;
        if (const Result<std::vector<ListHistory::Change>> old = ListHistory::changes(m_target());
            old.ok() && !old.value().empty())
            seen = old.value().back().sequence;
        make();
        const Result<std::vector<ListHistory::Change>> now = ListHistory::changes(m_target());
        REQUIRE(now.ok());
        for (const ListHistory::Change& change : now.value()) {
            if (change.sequence <= seen || change.kind == ListHistory::Change::Kind::Began)
                continue;
            m_before[change.sequence] = change.kind == ListHistory::Change::Kind::Outside ? m_outsideBefore : before;
        }
        m_known = m_outsideBefore = m_folder.read();
    }

    const TestDataFolder& m_folder;
    std::map<std::uint64_t, std::string> m_before;
    std::string m_known, m_outsideBefore;
};

const Record kAnna{"Anna", "Smith", "555-0101", "anna@example.org"};
const Record kBob{"Bob", "Jones, Jr.", "555 \"0102\"", ""};

std::filesystem::path historyFile()
{
    return HistoryLog::pathFor(finalTarget(dataFile()).value());
}

std::size_t setAsideCount(const TestDataFolder& folder)
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.historyFolder()))
        count += entry.path().filename().string().find(".set-aside-") != std::string::npos ? 1 : 0;
    return count;
}

} // namespace

TEST_CASE("everyChangeRestoresTheListExactlyAsItStoodBefore")
{
    const struct {
        const char* name;
        std::string start; // the list before the first change; empty: no file
        std::function<void(HistoryModel&)> run;
        std::size_t outside;
    } rows[] = {
        {"adds and edits", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.add(kBob), m.edit(1, {"Ann", "Smith", "555-0199", ""}), m.add(kAnna), m.edit(2, kAnna);
         },
         0},
        {"a list another program wrote first", "\"x\",\"y\",\"z\",\"w\"\n",
         [](HistoryModel& m) { m.add(kAnna), m.edit(1, kBob); }, 0},
        {"another program's change between adds", "",
         [](HistoryModel& m) { m.add(kAnna), m.outside("\"Carl\"\r\n\"Out\"\r\n\"1\"\r\n\"c@x\"\r\n"), m.add(kBob); },
         1},
        {"another program's change with no final line end", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.outside("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\""), m.add(kBob), m.edit(1, kBob);
         },
         1},
        {"another program's bytes that are no list", "",
         [](HistoryModel& m) { m.add(kAnna), m.outside(std::string("\0\xff\"\r\n,,", 7)), m.add(kBob); }, 1},
        {"the same bytes written again by another program", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.outside("\"Anna\"\r\n\"Smith\"\r\n\"555-0101\"\r\n\"anna@example.org\"\r\n"), m.add(kBob);
         },
         0},
        {"a removal, its undo and the undo's undo", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.add(kBob), m.rewrite([](const std::string& s) { return s.substr(0, s.size() / 2); }),
                 m.restore(1), m.restore(1);
         },
         0},
        {"a restore past another program's change", "",
         [](HistoryModel& m) { m.add(kAnna), m.outside("\"only\"\n"), m.add(kBob), m.restore(3), m.add(kAnna); }, 1},
        {"a removal told in more than a mebibyte of words (a name that long)", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.add(kBob),
                 m.rewrite([](const std::string& s) { return s.substr(s.size() / 2); },
                           "removed " + std::string(3 << 20, 'n')),
                 m.add(kAnna);
         },
         0},
        {"an emptied list", "",
         [](HistoryModel& m) {
             m.add(kAnna), m.rewrite([](const std::string&) { return std::string(); }), m.add(kBob), m.restore(2);
         },
         0},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            if (!row.start.empty())
                folder.write(row.start);
            HistoryModel model(folder);
            row.run(model);
            model.checkEveryPoint();
            CHECK(model.outsideChanges() == row.outside);
            CHECK(takeHistoryNotices().empty());
        }
    }
}

TEST_CASE("changesAreListedInWords")
{
    TestDataFolder folder;
    REQUIRE(appendRecord(dataFile(), kAnna).ok());
    {
        const ImportNote note("phone.vcf");
        REQUIRE(appendRecords(dataFile(), std::vector<Record>{kBob, kAnna}).ok());
    }
    Result<RecordGrid> grid = loadRecordGrid(dataFile());
    REQUIRE(grid.ok());
    Record changed = kAnna;
    changed[2] = "555-0199";
    REQUIRE(saveRecordEdit(dataFile(), grid.value(), 1, editTo(grid.value(), 1, changed)).ok());
    folder.append("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n");
    REQUIRE(appendRecords(dataFile(), std::vector<Record>{kBob, kBob}).ok());

    const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(finalTarget(dataFile()).value());
    REQUIRE(changes.ok());
    std::vector<std::string> words;
    for (const ListHistory::Change& change : changes.value())
        words.push_back(change.description);
    CHECK(words == std::vector<std::string>{
                       "began keeping the list's history", "added Anna Smith", "imported 2 people from phone.vcf",
                       "edited Smith, Anna: phone 555-0101 → 555-0199", "changed outside Tesselby: 1 person added",
                       "added 2 people: Bob Jones, Jr., Bob Jones, Jr."});
}

TEST_CASE("aHistoryThatCannotBeUsedIsSetAsideAndNeverBlocksAChange")
{
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> spoil;
        bool setAside; // a torn last entry is what a kill leaves: cut, not set aside
    } rows[] = {
        {"a folder in its place",
         [](const auto& p) { std::filesystem::remove(p), std::filesystem::create_directory(p); }, true},
        {"truncated in its header", [](const auto& p) { std::filesystem::resize_file(p, 5); }, false},
        {"torn in its last entry",
         [](const auto& p) { std::filesystem::resize_file(p, std::filesystem::file_size(p) - 3); }, false},
        {"torn in its last entry's header",
         [](const auto& p) {
             // The trailer's last 12 digits before its line end say where the last entry starts.
             const std::string bytes = readFile(p).value();
             const std::uint64_t start = std::stoull(bytes.substr(bytes.size() - 13, 12), nullptr, 16);
             std::filesystem::resize_file(p, start + 5);
         },
         false},
        {"a length in an entry's header past the file's end",
         [](const auto& p) {
             // Read as a torn tail, it would cut away every entry after it. The header keeps its size, as
             // after a flipped byte: its time loses three digits, its data length gains them.
             std::string bytes = readFile(p).value();
             const std::size_t at = bytes.find("\n@C ") + 1;
             const std::size_t timeAt = bytes.find(' ', at + 3) + 1;
             bytes.erase(timeAt, 3);
             bytes.insert(bytes.rfind(' ', bytes.find('\n', at)) + 1, "999");
             REQUIRE(writeFile(p, bytes));
         },
         true},
        {"a byte changed inside an entry",
         [](const auto& p) {
             std::string bytes = readFile(p).value();
             bytes[bytes.size() / 2] ^= 1;
             REQUIRE(writeFile(p, bytes));
         },
         true},
        {"another list's history",
         [](const auto& p) { REQUIRE(writeFile(p, "tesselby history 1\t/elsewhere/list.txt\n")); }, true},
        {"no history at all", [](const auto& p) { std::filesystem::remove(p); }, false},
#ifndef _WIN32
        {"a FIFO in its place",
         [](const auto& p) {
             std::filesystem::remove(p);
             REQUIRE(::mkfifo(p.c_str(), 0600) == 0);
         },
         true},
        {"a link to another file",
         [](const auto& p) {
             const auto elsewhere = p.parent_path() / "elsewhere";
             REQUIRE(writeFile(elsewhere, "not ours"));
             std::filesystem::remove(p);
             std::filesystem::create_symlink(elsewhere, p);
         },
         true},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            HistoryModel model(folder);
            model.add(kAnna);
            model.add(kBob);
            row.spoil(historyFile());
            (void)takeHistoryNotices();
            model.add(kAnna);
            CHECK(loadRecordGrid(dataFile()).value().recordCount() == 3);
            const std::vector<std::string> notices = takeHistoryNotices();
            CHECK(notices.size() == (row.setAside ? 1u : 0u));
            CHECK(setAsideCount(folder) == (row.setAside ? 1u : 0u));
            // Said once: the next change finds a history it can use.
            model.edit(1, kBob);
            CHECK(takeHistoryNotices().empty());
            const Result<std::vector<ListHistory::Change>> changes =
                ListHistory::changes(finalTarget(dataFile()).value());
            REQUIRE(changes.ok());
            const Result<std::string> beforeEdit =
                ListHistory::listBefore(finalTarget(dataFile()).value(), changes.value().back().sequence);
            REQUIRE(beforeEdit.ok());
            CHECK(loadRecordGrid(dataFile()).value().record(1) == kBob);
            CHECK(RecordGrid::fromText(beforeEdit.value()).record(1) == kAnna);
        }
    }
#ifndef _WIN32
    if (::geteuid() == 0) {
        SUBCASE("another user's file in its place")
        {
            TestDataFolder folder;
            REQUIRE(appendRecord(dataFile(), kAnna).ok());
            REQUIRE(::chown(historyFile().c_str(), 12345, 12345) == 0);
            (void)takeHistoryNotices();
            REQUIRE(appendRecord(dataFile(), kBob).ok());
            CHECK(takeHistoryNotices().size() == 1);
            CHECK(setAsideCount(folder) == 1);
        }
    }
#endif
}

TEST_CASE("historyFoldersAndFilesAreOwnerOnly")
{
    TestDataFolder folder;
    REQUIRE(appendRecord(dataFile(), kAnna).ok());
    // Where the environment says, also on Windows (where the folder's access list is the user's own).
    REQUIRE(historyFile().parent_path() == folder.historyFolder());
    CHECK(std::filesystem::is_regular_file(historyFile()));
#ifndef _WIN32
    using std::filesystem::perms;
    const perms others = perms::group_all | perms::others_all;
    CHECK((std::filesystem::status(folder.historyFolder()).permissions() & others) == perms::none);
    CHECK((std::filesystem::status(historyFile()).permissions() & others) == perms::none);
    // One history for a list however it is reached.
    const std::filesystem::path link = folder.top() / "link.txt";
    std::filesystem::create_symlink(dataFile(), link);
    REQUIRE(appendRecord(link, kBob).ok());
    std::size_t histories = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.historyFolder()))
        histories += entry.path().extension() == ".history" ? 1 : 0;
    CHECK(histories == 1);
#endif
}

#ifndef _WIN32
TEST_CASE("aHistoryThatCannotBeWrittenRefusesTheChange")
{
    const struct {
        const char* name;
        std::function<Status()> change;
    } rows[] = {
        {"an add", [] { return appendRecord(dataFile(), kBob); }},
        {"an edit",
         [] {
             Result<RecordGrid> grid = loadRecordGrid(dataFile());
             const Result<EditPlan> saved = saveRecordEdit(dataFile(), grid.value(), 1, editTo(grid.value(), 1, kBob));
             return saved ? Status() : Status(saved.error());
         }},
        {"a rewrite",
         [] {
             return rewriteList(dataFile(), [](const std::string&) -> Result<std::optional<ListRewrite>> {
                 return std::optional<ListRewrite>(ListRewrite{"", "emptied"});
             });
         }},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            REQUIRE(appendRecord(dataFile(), kAnna).ok());
            const std::string before = folder.read();
            Status status;
            {
                // The write-ahead entry cannot reach the disk, as on a full one.
                const SaveFaultArmed armed(SaveFault{"fsync", ".history", 0, true, {}});
                status = row.change();
                CHECK(armed.acted());
            }
            REQUIRE_FALSE(status.ok());
            CHECK(status.error().reason().find("history") != std::string::npos);
            CHECK(folder.read() == before);
            // The history is whole: the next change goes ahead and the list before it restores.
            REQUIRE(appendRecord(dataFile(), kBob).ok());
            const Result<std::vector<ListHistory::Change>> changes =
                ListHistory::changes(finalTarget(dataFile()).value());
            REQUIRE(changes.ok());
            CHECK(ListHistory::listBefore(finalTarget(dataFile()).value(), changes.value().back().sequence).value() ==
                  before);
        }
    }
}
#endif

TEST_CASE("changesOlderThanThirtyDaysArePrunedKeepingAtLeastTwoHundred")
{
    const struct {
        const char* name;
        int oldChanges;    // made 60 days ago, one a minute
        int recentChanges; // made within the last day
        std::size_t kept;  // changes listed after the prune, the beginning not counted
    } rows[] = {
        {"old changes beyond two hundred go", 700, 50, 200},
        {"recent changes all stay", 300, 250, 250},
        {"too few changes to prune", 150, 10, 160},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::filesystem::path target = finalTarget(dataFile()).value();
            std::string notice;
            Result<HistoryLog> log = HistoryLog::open(target, notice);
            REQUIRE(log.ok());
            const std::int64_t now =
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count();
            std::int64_t time = now - 60 * 86400;
            REQUIRE(log.value().append(HistoryEntry::Kind::Snapshot, time, "t\tbegan\tbegan", "", false).ok());
            // Each change adds one line to the list, written as the history keeps it.
            std::string list;
            std::vector<std::string> befores;
            for (int i = 0; i < row.oldChanges + row.recentChanges; ++i) {
                time = i < row.oldChanges ? time + 60 : now - 86400 + i;
                const std::string line = "\"" + std::to_string(i) + "\"\r\n";
                befores.push_back(list);
                REQUIRE(log.value()
                            .append(HistoryEntry::Kind::Change, time,
                                    "t\tadded " + std::to_string(i) + "\t" + std::to_string(list.size()) + "\t0", line,
                                    false)
                            .ok());
                list += line;
                REQUIRE(log.value().append(HistoryEntry::Kind::Landed, time, "-", "", false).ok());
            }
            folder.write(list);
            REQUIRE(appendRecord(dataFile(), kAnna).ok());
            befores.push_back(list);

            const Result<std::vector<ListHistory::Change>> changes = ListHistory::changes(target);
            REQUIRE(changes.ok());
            REQUIRE(changes.value().size() == row.kept + 2); // the beginning and the add
            const bool pruned = row.kept < static_cast<std::size_t>(row.oldChanges + row.recentChanges);
            CHECK((changes.value().front().description.find("no longer kept") != std::string::npos) == pruned);
            // Every change kept still rebuilds the list before it.
            for (std::size_t i = 1; i < changes.value().size(); ++i) {
                const Result<std::string> before = ListHistory::listBefore(target, changes.value()[i].sequence);
                REQUIRE(before.ok());
                CHECK(before.value() == befores[befores.size() - changes.value().size() + i]);
            }
        }
    }
}
