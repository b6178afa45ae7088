#include "DoctestPrinters.h"
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "DataFile.h"
#include "SavedValues.h"
#include "TestDataFolder.h"
#include "disk/AddJournal.h"
#include "disk/DataFilePath.h"
#include "disk/NativeFile.h"
#include "format/ListEnd.h"

#ifdef _WIN32
#include "SystemError.h"
#else
#include "ForkedChild.h"
#include "SaveFaultShim.h"
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace tesselby;

namespace {

std::string peopleFile(int people, const std::string& tag)
{
    std::vector<std::string> items;
    for (int i = 0; i < people; ++i) {
        const std::string n = std::to_string(i);
        items.insert(items.end(), {tag + n, "Lee, Jr.", "555-" + n, "p" + n + "@example.org"});
    }
    return itemLines(items);
}

// Where the disk is full, the data folder's own, so that the next write there fails: as a file-size
// limit a few bytes past the file in a child process on POSIX systems (which holds for root too); on
// Windows as a small drive, which scripts/test-windows maps under Wine (TESSELBY_TEST_SMALL_DISK), filled
// to its last byte. Gives what run returned; -1 where no full disk can be made.
template <typename Run> int withFullDisk(TestDataFolder& folder, long long bytesAllowed, Run run)
{
#ifdef _WIN32
    (void)folder;
    (void)bytesAllowed;
    const std::filesystem::path filler = folder.top() / "filler";
    for (const std::size_t block : {std::size_t(1) << 16, std::size_t(4096), std::size_t(256), std::size_t(1)}) {
        while (writeFile(filler, std::string(block, 'x'), true)) {
        }
    }
    const int result = run();
    std::filesystem::remove(filler);
    return result;
#else
    (void)folder;
    return inChild([&] {
        fillDiskAfter(bytesAllowed);
        return run();
    });
#endif
}

// Where those tests keep their data folder: on Windows on the small drive, where there is one.
std::filesystem::path fullDiskPlace()
{
#ifdef _WIN32
    return environmentPath("TESSELBY_TEST_SMALL_DISK").value_or(std::filesystem::path());
#else
    return std::filesystem::temp_directory_path();
#endif
}

#ifndef _WIN32
// The same list with record 1's first name changed: what each save of keepSwitchingFirstName makes of
// the other.
std::string withSecondName(const std::string& first)
{
    std::string second = first;
    second.replace(0, first.find('\n') + 1, itemLines({"Second, a longer first name"}));
    return second;
}

// In a child: saves record 1's first name as the other version, again and again, writing a byte to
// report after each save when report is a descriptor.
[[noreturn]] void keepSwitchingFirstName(int report)
{
    for (;;) {
        Result<RecordGrid> grid = loadRecordGrid(dataFile());
        if (!grid)
            ::_exit(2);
        Record record = grid.value().record(1);
        record[0] = record[0] == "First0" ? "Second, a longer first name" : "First0";
        if (!saveValues(grid.value(), 1, record).ok())
            ::_exit(3);
        if (report >= 0 && ::write(report, "s", 1) != 1)
            ::_exit(4);
    }
}

#endif

// Another running copy: adds the records numbered in its arguments' range, one add each. An add that
// says it failed is noted in the file named by the third argument, when there is one, and the next one
// goes ahead.
TESSELBY_CHILD_BODY(addRecords)
{
    const std::string writer = arguments.at(0);
    for (int n = 0; n < std::stoi(arguments.at(1)); ++n) {
        const std::string id = writer + "-" + std::to_string(n);
        if (!appendRecord(dataFile(), {"first " + id, "last " + id, "phone " + id, "mail " + id}).ok()) {
            if (arguments.size() < 3 || !writeFile(arguments.at(2), id + "\n", true))
                return 1;
        }
    }
    return 0;
}

#ifndef _WIN32
// A sync tool delivering new versions of the list by rename, every 2 ms or so, far more often than real
// ones: each a copy of the list as it is (now and then with a person of its own added), put in place
// only if the list's inode, size and change time are as they were when it was copied.
[[noreturn]] void keepDeliveringByRename(const std::filesystem::path& list)
{
    std::filesystem::path copy = list;
    copy += ".sync-copy";
    std::mt19937 random(5);
    for (int delivery = 0;; ++delivery) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        struct stat before {};
        struct stat after {};
        if (::stat(list.c_str(), &before) != 0)
            continue;
        std::string text = readFile(list).value_or(std::string());
        if (delivery % 5 == 0)
            text += itemLines({"sync " + std::to_string(delivery), "", "", ""});
        if (!writeFile(copy, text))
            ::_exit(2);
        if (::stat(list.c_str(), &after) == 0 && after.st_ino == before.st_ino && after.st_size == before.st_size &&
            after.st_mtim.tv_nsec == before.st_mtim.tv_nsec && after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
            after.st_ctim.tv_nsec == before.st_ctim.tv_nsec && after.st_ctim.tv_sec == before.st_ctim.tv_sec)
            (void)::rename(copy.c_str(), list.c_str());
    }
}
#endif

} // namespace

TEST_CASE("fullDiskFailsAnAddAndLeavesTheFile")
{
#ifdef _WIN32
    if (fullDiskPlace().empty()) {
        MESSAGE("not run: no small drive to fill (scripts/test-windows maps one)");
        return;
    }
#endif
    const struct {
        const char* name;
        std::string before;
    } rows[] = {
        {"an existing list", peopleFile(3, "P")},
        {"a list without a final line end", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\""},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder("share", fullDiskPlace());
            folder.write(row.before);
            const int code = withFullDisk(folder, static_cast<long long>(row.before.size()) + 10, [] {
                // Longer than a page of the small drive, which the file's last page could hold.
                const Status failed =
                    appendRecord(dataFile(), {"A long first name" + std::string(8192, 'x'), "Last", "555", "a@b"});
                // The history, on the same disk, may be the write the disk refuses first.
#ifdef _WIN32
                const std::string full = systemError(dataFile(), ERROR_DISK_FULL).reason();
#else
                const std::string full = std::strerror(EFBIG);
#endif
                return !failed.ok() && failed.error().reason().find(full) != std::string::npos ? 0 : 1;
            });
            CHECK(code == 0);
            CHECK(folder.read() == row.before);
        }
    }
}

// A fault before a save's point of no return (the rename, or the rewrite in place synced) leaves the file
// as it was and fails; one after it is a success that says what could not be confirmed, and what it
// leaves behind (a guard copy) changes nothing later.
TEST_CASE("diskFaultsInASaveLeaveTheOldFileOrSayWhatLanded")
{
    enum class Ends { Failed, Landed, LandedUnconfirmed };
    const struct {
        const char* name;
        bool hardLinked;
        const char* call; // failed once (see SaveFaultShim.h); none: a full disk
        const char* pathEnd;
        int skip;
        Ends ends;
    } rows[] = {
        {"a full disk", false, nullptr, nullptr, 0, Ends::Failed},
        {"a full disk, rewritten in place", true, nullptr, nullptr, 0, Ends::Failed},
#ifndef _WIN32
        {"the new file's sync fails", false, "fsync", ".saving-", 0, Ends::Failed},
        {"the folder's sync fails after the rename", false, "fsync", "/tesselby", 0, Ends::LandedUnconfirmed},
        {"the close fails after the rename", false, "close", "/tesselby.txt", 0, Ends::LandedUnconfirmed},
        {"the guard's folder sync fails before the rewrite", true, "fsync", "/tesselby", 0, Ends::Failed},
        {"the rewrite's sync fails", true, "fsync", "/tesselby.txt", 0, Ends::Failed},
        {"the close fails after the rewrite was synced", true, "close", "/tesselby.txt", 0, Ends::LandedUnconfirmed},
        {"the guard cannot be removed after the rewrite", true, "unlink", ".before-save", 0, Ends::LandedUnconfirmed},
        {"the folder's sync fails after the guard's removal", true, "fsync", "/tesselby", 1, Ends::LandedUnconfirmed},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            const bool fullDisk = row.call == nullptr;
#ifdef _WIN32
            if (fullDiskPlace().empty()) {
                MESSAGE("not run: no small drive to fill (scripts/test-windows maps one)");
                return;
            }
#endif
            TestDataFolder folder("share", fullDisk ? fullDiskPlace() : std::filesystem::temp_directory_path());
            const std::string before = peopleFile(50, "P");
            folder.write(before);
            const std::filesystem::path secondName = folder.top() / "second-name.txt";
            if (row.hardLinked)
                std::filesystem::create_hard_link(folder.filePath(), secondName);
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            if (fullDisk) {
                const int code = withFullDisk(folder, static_cast<long long>(before.size() / 2), [&] {
                    return saveValues(grid.value(), 25, {"Edited", "", "", ""}).ok() ? 1 : 0;
                });
                CHECK(code == 0);
            }
#ifndef _WIN32
            else {
                // The history's folders made before, so that the faults meet only the list's own.
                std::filesystem::create_directories(folder.historyFolder());
                const SaveFaultArmed armed(SaveFault{row.call, row.pathEnd, row.skip, true, {}});
                const Result<EditPlan> saved =
                    saveRecordEdit(dataFile(), grid.value(), 25, {FieldEdit{"Edited", std::nullopt}});
                CHECK(armed.acted());
                CHECK(saved.ok() == (row.ends != Ends::Failed));
                if (saved.ok())
                    CHECK(saved.unconfirmed().has_value() == (row.ends == Ends::LandedUnconfirmed));
            }
#endif
            const std::string expected = row.ends == Ends::Failed ? before : grid.value().text();
            if (row.ends != Ends::Failed)
                CHECK(expected.find("Edited") != std::string::npos);
            CHECK(folder.read() == expected);
            // A guard left after the rewrite landed is only removed by the next read.
            const Result<std::string> next = readDataFile(dataFile());
            REQUIRE(next.ok());
            CHECK(next.value() == expected);
            if (row.hardLinked)
                CHECK(readFile(secondName) == expected);
            CHECK(fileNames(folder.folderPath()) == std::vector<std::string>{"tesselby.txt", "tesselby.txt.lock"});
        }
    }
}

#if !defined(_WIN32)
TEST_CASE("listLargerThanMemoryIsRefusedWithAMessage")
{
#if defined(__SANITIZE_ADDRESS__)
    MESSAGE("not run: the address sanitizer reserves more memory than the limit this test sets");
#else
    TestDataFolder folder;
    folder.write(peopleFile(2, "P"));
    // Far larger than the memory the child may take; sparse, so it costs no disk.
    std::filesystem::resize_file(folder.filePath(), std::uintmax_t(2) << 30);
    const int code = inChild([] {
        rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &limit);
        const Result<std::string> text = readDataFile(dataFile());
        const Result<RecordGrid> grid = loadRecordGrid(dataFile());
        RecordGrid edited = RecordGrid::fromText(peopleFile(2, "P"));
        const Status saved = saveValues(edited, 1, {"E", "", "", ""});
        for (const FileError* error : {text.ok() ? nullptr : &text.error(), grid.ok() ? nullptr : &grid.error(),
                                       saved.ok() ? nullptr : &saved.error()}) {
            if (error == nullptr || error->cause != FileError::Cause::TooLargeToOpen)
                return 1;
        }
        return 0;
    });
    CHECK(code == 0);
    CHECK(std::filesystem::file_size(folder.filePath()) == std::uintmax_t(2) << 30);
    const std::string start = folder.read().substr(0, peopleFile(2, "P").size());
    CHECK(start == peopleFile(2, "P")); // untouched
#endif
}

TEST_CASE("askingAResultForWhatItLacksStopsWithAMessage")
{
    const Result<int> failed = FileError{"list.txt", FileError::Cause::Missing, "gone"};
    const Result<int> succeeded = 1;
    const Status fine;
    const struct {
        const char* name;
        std::function<void()> misuse;
    } rows[] = {
        {"the value of a failure", [&] { (void)failed.value(); }},
        {"the failure of a success", [&] { (void)succeeded.error(); }},
        {"the failure of a status that succeeded", [&] { (void)fine.error(); }},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            const int code = inChild([&] {
                // The test runner's own handler would report the child's abort as a crash of the test.
                std::signal(SIGABRT, SIG_DFL);
                (void)std::freopen("/dev/null", "w", stderr);
                row.misuse();
                return 0;
            });
            CHECK(code == 128 + SIGABRT);
        }
    }
}

TEST_CASE("killedSaveLeavesExactlyTheOldOrTheNewFile")
{
    const struct {
        const char* name;
        bool inPlace;
        // After each kill, a sync tool delivers a newer list by rename, which the next read must keep.
        bool newerDelivered;
    } rows[] = {{"replaced by a new file", false, false},
                {"rewritten in place, beside a second hard link", true, false},
                {"rewritten in place, then a newer list delivered", true, true}};
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string first = peopleFile(40000, "First"); // a few megabytes, so a save takes a while
            const std::string second = withSecondName(first);
            folder.write(first);
            const std::filesystem::path secondName = folder.folderPath() / "second-name.txt";
            if (row.inPlace)
                std::filesystem::create_hard_link(folder.filePath(), secondName);

            // The moment of each kill is random, but within one save's duration of a finished save, so
            // the kills land all over the save however fast or slow this machine (or this build) is.
            std::mt19937 random(7);
            std::chrono::steady_clock::duration saveTime{};
            int killsDuringAWrite = 0;
            int guardsSetAside = 0;
            const int rounds = row.newerDelivered ? 60 : 40;
            for (int round = 0; round < rounds; ++round) {
                CAPTURE(round);
                const std::string before = readDataFile(dataFile()).value();
                int progress[2];
                REQUIRE(::pipe(progress) == 0);
                const pid_t child = ::fork();
                if (child == 0) {
                    ::close(progress[0]);
                    keepSwitchingFirstName(progress[1]);
                }
                ::close(progress[1]);
                char done = 0;
                int saves = 0;
                REQUIRE(::read(progress[0], &done, 1) == 1);
                ++saves;
                if (round == 0) {
                    const auto start = std::chrono::steady_clock::now();
                    for (; saves < 4; ++saves)
                        REQUIRE(::read(progress[0], &done, 1) == 1);
                    saveTime = (std::chrono::steady_clock::now() - start) / 3;
                }
                std::this_thread::sleep_for(saveTime * (random() % 1000) / 1000);
                ::kill(child, SIGKILL);
                int status = 0;
                ::waitpid(child, &status, 0);
                REQUIRE_MESSAGE(WIFSIGNALED(status), "the saving process stopped by itself");
                for (ssize_t got; (got = ::read(progress[0], &done, 1)) > 0;)
                    saves += int(got);
                ::close(progress[0]);

                // A save killed between its rename and its report has landed without being counted.
                const std::string& other = before == first ? second : first;
                const std::string& afterCounted = saves % 2 ? other : before;
                const std::string& afterOneMore = saves % 2 ? before : other;
                // What the kill left is put right by the next read, before anyone sees the file.
                if (!leftovers(folder.folderPath()).empty())
                    ++killsDuringAWrite;
                if (row.newerDelivered) {
                    const std::string newer = before + itemLines({"Newer " + std::to_string(round), "n", "n", "n"});
                    const std::filesystem::path delivered = folder.folderPath() / ".delivered.tmp";
                    REQUIRE(writeFile(delivered, newer));
                    std::filesystem::rename(delivered, folder.filePath());
                    Result<std::string> read = readDataFile(dataFile());
                    if (!read.ok()) { // a guard that was left is set aside, and said so once
                        CHECK(read.error().reason().find("set aside as") != std::string::npos);
                        ++guardsSetAside;
                        read = readDataFile(dataFile());
                    }
                    REQUIRE(read.ok());
                    CHECK(read.value() == newer);
                    CHECK(folder.read() == newer);
                    // The next round starts again from the old list, in place beside its second name.
                    for (const std::string& name : fileNames(folder.folderPath()))
                        if (name.find(".before-save-") != std::string::npos)
                            std::filesystem::remove(folder.folderPath() / name);
                    std::filesystem::remove(secondName);
                    folder.write(before);
                    std::filesystem::create_hard_link(folder.filePath(), secondName);
                    continue;
                }
                const Result<std::string> read = readDataFile(dataFile());
                REQUIRE(read.ok());
                const std::string& now = read.value();
                CHECK(folder.read() == now);
                if (row.inPlace)
                    CHECK(readFile(secondName) == now);
                CAPTURE(saves);
                CHECK((now == afterCounted || now == afterOneMore));
            }
            MESSAGE(killsDuringAWrite << " of " << rounds << " kills landed while the new content was being written; "
                                      << guardsSetAside << " guards set aside");
        }
    }
}
#endif

// What a rewrite in place of the data file from old to next leaves beside it: its guard copy, which
// names the file it guards and holds both contents.
std::string guardOf(const std::string& old, const std::string& next)
{
    Result<NativeFile> file = NativeFile::open(dataFile(), NativeFile::Access::Read);
    REQUIRE(file.ok());
    const FileIdentity identity = file.value().identity().value();
    return "TESSELBY-BEFORE-SAVE 1 " + std::to_string(identity.device) + " " + std::to_string(identity.file) + " " +
           std::to_string(old.size()) + " " + std::to_string(next.size()) + "\n" + old + next;
}

TEST_CASE("cutOffRewriteIsPutBackBeforeAnythingElse")
{
    enum class Guard { OfThisRewrite, Folder, OlderVersion, Link, TwoNames, OtherUsers };
    enum class Since { Nothing, Landed, ReplacedByRename, ChangedInPlace, Removed };
    const struct {
        const char* name;
        std::string next;
        Guard guard;
        Since since;
    } rows[] = {
        {"a search", "read", Guard::OfThisRewrite, Since::Nothing},
        {"start-up", "start", Guard::OfThisRewrite, Since::Nothing},
        {"an add", "add", Guard::OfThisRewrite, Since::Nothing},
        {"an edit", "save", Guard::OfThisRewrite, Since::Nothing},
        {"a folder of the guard's name is not the program's", "read", Guard::Folder, Since::Nothing},
        // Never applied, only set aside: the list stays as it is.
        {"the save had landed: the guard is only removed", "read", Guard::OfThisRewrite, Since::Landed},
        {"a newer list delivered by rename since", "read", Guard::OfThisRewrite, Since::ReplacedByRename},
        {"a newer list delivered by rename, then an add", "add", Guard::OfThisRewrite, Since::ReplacedByRename},
        {"a list changed in place since", "read", Guard::OfThisRewrite, Since::ChangedInPlace},
        {"a list removed since", "add", Guard::OfThisRewrite, Since::Removed},
        {"a guard without the form this version writes", "read", Guard::OlderVersion, Since::Nothing},
        {"a guard with a second name", "read", Guard::TwoNames, Since::Nothing},
        {"a guard with a second name, at start-up", "start", Guard::TwoNames, Since::Nothing},
#ifndef _WIN32 // where Wine cannot make links, and owners are access lists
        {"a link at the guard's name", "read", Guard::Link, Since::Nothing},
        {"a link at the guard's name, the list removed", "add", Guard::Link, Since::Removed},
        {"another user's guard", "read", Guard::OtherUsers, Since::Nothing},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string old = peopleFile(3, "Old");
            const std::string next = itemLines({"New, and longer than the old first name"}) + old.substr(15);
            // What a rewrite in place killed halfway leaves: its guard copy, and the new text over part
            // of the old.
            folder.write(old);
            std::filesystem::path guard = folder.filePath();
            guard += ".before-save";
            const std::filesystem::path secret = folder.top() / "secret.txt";
            REQUIRE(writeFile(secret, itemLines({"Secret", "s", "s", "s"})));
            if (row.guard == Guard::Folder) {
                std::filesystem::create_directories(guard);
                const Result<std::string> text = readDataFile(dataFile());
                REQUIRE(text.ok());
                CHECK(text.value() == old);
                CHECK(std::filesystem::is_directory(guard));
                continue;
            }
            if (row.guard == Guard::Link) {
                std::filesystem::create_symlink(secret, guard);
            } else {
                REQUIRE(writeFile(guard, row.guard == Guard::OlderVersion ? old : guardOf(old, next)));
                if (row.guard == Guard::TwoNames)
                    std::filesystem::create_hard_link(guard, folder.top() / "second-name");
#ifndef _WIN32
                if (row.guard == Guard::OtherUsers)
                    REQUIRE(::chown(guard.c_str(), kOtherUser, kOtherUser) == 0);
#endif
            }
            const bool applies = row.guard == Guard::OfThisRewrite && row.since == Since::Nothing;
            std::string cut = next.substr(0, next.size() / 2) + old.substr(next.size() / 2);
            std::string now = cut;
            const std::string newer = peopleFile(4, "Newer");
            if (row.since == Since::Landed)
                now = next;
            if (row.since == Since::ChangedInPlace)
                now = cut.substr(0, 40) + "Changed" + cut.substr(47);
            if (row.since == Since::ReplacedByRename) {
                const std::filesystem::path delivered = folder.folderPath() / "delivered.tmp";
                REQUIRE(writeFile(delivered, newer));
                std::filesystem::rename(delivered, folder.filePath());
                now = newer;
            } else if (row.since == Since::Removed) {
                std::filesystem::remove(folder.filePath());
                now.clear();
            } else {
                folder.write(now);
            }
            CAPTURE(std::string(row.name));

            std::string expected = applies ? old : now;
            // A guard not applied is set aside and said so, once; the next try goes ahead. Start-up, with
            // nothing shown yet to say so, leaves it for the first read.
            const bool setAside = !applies && row.since != Since::Landed && row.next != "start";
            if (setAside) {
                const Status first = row.next == "start"  ? repairListAtStartUp(dataFile())
                                     : row.next == "read" ? Status(readDataFile(dataFile()).error())
                                                          : appendRecord(dataFile(), {"Added", "", "", ""});
                REQUIRE(!first.ok());
                CHECK(first.error().reason().find("set aside as") != std::string::npos);
                CHECK(!std::filesystem::exists(std::filesystem::symlink_status(guard)));
            }
            if (row.next == "read") {
                const Result<std::string> text = readDataFile(dataFile());
                REQUIRE(text.ok());
                CHECK(text.value() == expected);
            } else if (row.next == "start") {
                CHECK(repairListAtStartUp(dataFile()).ok());
                if (!applies) {
                    CHECK(std::filesystem::exists(guard));
                    const Result<std::string> read = readDataFile(dataFile());
                    REQUIRE(!read.ok());
                    CHECK(read.error().reason().find("set aside as") != std::string::npos);
                }
            } else if (row.next == "add") {
                CHECK(appendRecord(dataFile(), {"Added", "", "", ""}).ok());
                expected += itemLines({"Added", "", "", ""});
            } else {
                RecordGrid grid = RecordGrid::fromText(old);
                CHECK(saveValues(grid, 2, {"Edited", "", "", ""}).ok());
                expected = grid.text();
                CHECK((expected.find("Edited") != std::string::npos && expected.find("Old0") != std::string::npos &&
                       expected.find("Old2") != std::string::npos));
            }
            CHECK(folder.read() == expected);
            CHECK(!std::filesystem::exists(std::filesystem::symlink_status(guard)));
            CHECK(readFile(secret) == itemLines({"Secret", "s", "s", "s"}));
            std::size_t keptAside = 0;
            for (const std::string& name : fileNames(folder.folderPath()))
                keptAside += name.rfind("tesselby.txt.before-save-", 0) == 0 ? 1 : 0;
            CHECK(keptAside == (applies || row.since == Since::Landed ? 0u : 1u));
        }
    }
}

TEST_CASE("aCutAddIsTakenBackOnlyWhenItsJournalProvesIt")
{
    enum class Journal { Whole, Unfinished, OtherBytes, OtherFile, Link, None };
    const struct {
        const char* name;
        Journal journal;
        int landedEighths; // how much of the add reached the list
        bool next;         // an add follows, rather than a read
        bool takenBack;
    } rows[] = {
        {"an add killed halfway, then a read", Journal::Whole, 4, false, true},
        {"an add killed halfway, then another add", Journal::Whole, 4, true, true},
        {"an add killed whole, before it removed its journal", Journal::Whole, 8, false, true},
        {"an add killed before it wrote", Journal::Whole, 0, true, true},
        {"a journal cut off while it was written", Journal::Unfinished, 0, false, true},
        {"a tail that is not what the journal's add wrote", Journal::OtherBytes, 4, true, false},
        {"a journal of another file, the list replaced since", Journal::OtherFile, 4, false, false},
#ifndef _WIN32
        {"a journal that is a symbolic link", Journal::Link, 4, true, false},
#endif
        {"a cut tail without a journal, text of the user's own", Journal::None, 4, true, false},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string old = peopleFile(3, "Old");
            const std::string add = itemLines({"Cut", "off", "555", "cut@example.org"});
            const std::string tail = add.substr(0, add.size() * row.landedEighths / 8);
            folder.write(old + tail);
            const std::filesystem::path target = folder.filePath();
            Result<NativeFile> list = NativeFile::open(target, NativeFile::Access::Read);
            REQUIRE(list.ok());
            FileIdentity identity = list.value().identity().value();
            (void)list.value().close();
            const std::filesystem::path elsewhere = folder.top() / "elsewhere.txt";
            switch (row.journal) {
            case Journal::Whole:
                REQUIRE(writeAddJournal(target, identity, old.size(), add).ok());
                break;
            case Journal::Unfinished: {
                REQUIRE(writeAddJournal(target, identity, old.size(), add).ok());
                const std::string whole = readFile(addJournalPath(target)).value();
                REQUIRE(writeFile(addJournalPath(target), whole.substr(0, whole.size() - 5)));
                break;
            }
            case Journal::OtherBytes:
                REQUIRE(
                    writeAddJournal(target, identity, old.size(), itemLines({"Cub", "off", "555", "cut@example.org"}))
                        .ok());
                break;
            case Journal::OtherFile:
                ++identity.file;
                REQUIRE(writeAddJournal(target, identity, old.size(), add).ok());
                break;
            case Journal::Link:
                REQUIRE(writeFile(elsewhere, old + tail));
                REQUIRE(writeAddJournal(elsewhere, identity, old.size(), add).ok());
                std::filesystem::create_symlink(addJournalPath(elsewhere), addJournalPath(target));
                break;
            case Journal::None:
                break;
            }
            const std::string journalText = readFile(addJournalPath(elsewhere)).value_or("");

            const std::string added = itemLines({"Next", "", "", ""});
            if (row.next) {
                REQUIRE(appendRecord(dataFile(), {"Next", "", "", ""}).ok());
            } else {
                const Result<std::string> text = readDataFile(dataFile());
                REQUIRE(text.ok());
                CHECK(text.value() == folder.read());
            }
            const std::string kept = row.takenBack ? old : old + tail + listEndOf(old + tail).completion();
            CHECK(folder.read() == (row.next ? kept + added : row.takenBack ? old : old + tail));
            CHECK(!addWasInterrupted(target));
            const bool setAside = !row.takenBack && row.journal != Journal::None;
            CHECK(setAsideAddJournals(target).size() == (setAside ? 1u : 0u));
            if (row.journal == Journal::Link) {
                CHECK(readFile(elsewhere).value() == old + tail);
                CHECK(readFile(addJournalPath(elsewhere)).value() == journalText);
            }
        }
    }
}

#ifndef _WIN32
TEST_CASE("killedAddsLeaveEveryConfirmedRecordWhole")
{
    TestDataFolder folder;
    const auto person = [](int id) {
        const std::string tag = std::to_string(id) + " ";
        return Record{tag + std::string(20000, 'f'), tag + std::string(20000, 'l'), tag, tag + std::string(20000, 'm')};
    };
    // Each round's child adds people until it is killed at a random moment within one add's time after
    // an add it reported, so the kills land anywhere in an add on any machine.
    std::mt19937 random(11);
    std::vector<int> confirmed;
    int tornTails = 0;
    for (int round = 0; round < 200; ++round) {
        int progress[2];
        REQUIRE(::pipe(progress) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(progress[0]);
            for (int id = round * 1000;; ++id) {
                if (!appendRecord(dataFile(), person(id)).ok())
                    ::_exit(2);
                if (::write(progress[1], &id, sizeof id) != sizeof id)
                    ::_exit(3);
            }
        }
        ::close(progress[1]);
        int id = 0;
        REQUIRE(::read(progress[0], &id, sizeof id) == ssize_t(sizeof id));
        confirmed.push_back(id);
        const auto start = std::chrono::steady_clock::now();
        REQUIRE(::read(progress[0], &id, sizeof id) == ssize_t(sizeof id));
        confirmed.push_back(id);
        std::this_thread::sleep_for((std::chrono::steady_clock::now() - start) * (random() % 1000) / 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        REQUIRE_MESSAGE(WIFSIGNALED(status), "the adding process stopped by itself");
        while (::read(progress[0], &id, sizeof id) == ssize_t(sizeof id))
            confirmed.push_back(id);
        ::close(progress[0]);
        // What the kill cut off is taken back before anyone reads it.
        const Result<RecordGrid> grid = loadRecordGrid(dataFile());
        if (grid.ok() && grid.value().itemCount() % 4 != 0)
            ++tornTails;
    }
    CHECK(tornTails == 0);
    const Record last{"Last", "person", "", ""};
    REQUIRE(appendRecord(dataFile(), last).ok());

    const Result<RecordGrid> grid = loadRecordGrid(dataFile());
    REQUIRE(grid.ok());
    CHECK(grid.value().record(grid.value().recordCount()) == last);
    // In order, each confirmed person stands whole in a record of its own.
    std::size_t r = 1;
    for (const int id : confirmed) {
        const Record expected = person(id);
        while (r < grid.value().recordCount() && grid.value().record(r) != expected)
            ++r;
        CAPTURE(id);
        REQUIRE_MESSAGE(r < grid.value().recordCount(), "a confirmed person is missing");
        ++r;
    }
    // Nobody was completed with empty values: the people there are whole, each once.
    std::set<std::string> seen;
    for (std::size_t n = 1; n < grid.value().recordCount(); ++n) {
        const Record record = grid.value().record(n);
        CAPTURE(n);
        CHECK(record == person(std::stoi(record[2])));
        CHECK(seen.insert(record[2]).second);
    }
    MESSAGE(confirmed.size() << " adds confirmed, " << grid.value().recordCount() - 1 << " people in the list");
}

TEST_CASE("readsDuringRewritesInPlaceSeeWholeContent")
{
    const struct {
        const char* name;
        bool otherFolder;
    } rows[] = {{"read through the same name", false}, {"read through a hard link in another folder", true}};
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string first = peopleFile(2000, "First");
            const std::string second = withSecondName(first);
            folder.write(first);
            // A second name makes every save rewrite the file in place.
            const std::filesystem::path other = (row.otherFolder ? folder.top() : folder.folderPath()) / "other.txt";
            std::filesystem::create_hard_link(folder.filePath(), other);
            const pid_t child = ::fork();
            if (child == 0)
                keepSwitchingFirstName(-1);
            int mixed = 0;
            for (int read = 0; read < 1000; ++read) {
                const Result<std::string> text = readDataFile(other);
                REQUIRE(text.ok());
                if (text.value() != first && text.value() != second)
                    ++mixed;
            }
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            CHECK(mixed == 0);
        }
    }
}
#endif

TEST_CASE("concurrentAddsKeepEveryRecordWholeAndOnce")
{
    const struct {
        const char* name;
        bool syncTool;
    } rows[] = {
        {"beside each other", false},
#ifndef _WIN32
        // Every add that says it was made is in the list once; every other one says it was not.
        {"beside a sync tool that replaces the list by rename", true},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            folder.write("");
            constexpr int writers = 4;
            constexpr int recordsEach = 40;
            const std::filesystem::path failedList = folder.top() / "failed.txt";
#ifndef _WIN32
            const pid_t syncTool = row.syncTool ? ::fork() : -1;
            if (syncTool == 0)
                keepDeliveringByRename(folder.filePath());
#endif
            std::vector<std::unique_ptr<ChildProcess>> children;
            for (int w = 0; w < writers; ++w)
                children.push_back(std::make_unique<ChildProcess>(
                    "addRecords",
                    std::vector<std::string>{std::to_string(w), std::to_string(recordsEach), failedList.string()}));
            for (const auto& child : children)
                CHECK(child->wait() == 0);
#ifndef _WIN32
            if (syncTool > 0) {
                ::kill(syncTool, SIGKILL);
                ::waitpid(syncTool, nullptr, 0);
            }
#endif
            std::set<std::string> failed;
            std::istringstream failedIds(readFile(failedList).value_or(std::string()));
            for (std::string id; std::getline(failedIds, id);)
                failed.insert(id);
            const Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            CHECK(grid.value().itemCount() % 4 == 0);
            std::set<std::string> seen;
            for (std::size_t r = 1; r <= grid.value().recordCount(); ++r) {
                const Record record = grid.value().record(r);
                if (record[0].rfind("sync ", 0) == 0)
                    continue;
                const std::string id = record[0].substr(6);
                CHECK(record == Record{"first " + id, "last " + id, "phone " + id, "mail " + id});
                CHECK(seen.insert(id).second);
                CHECK(!failed.contains(id));
            }
            // A sync tool stopped between its last check and its rename for as long as an add takes
            // (the system gives its time to others) puts back a copy without that add, after the add has
            // made sure the list was the file it wrote: no add can see that, so it is counted, not failed.
            const std::size_t lost = std::size_t(writers * recordsEach) - seen.size() - failed.size();
            CHECK((row.syncTool ? lost <= 2 : lost == 0));
            MESSAGE(seen.size() << " adds made, " << failed.size() << " said they were not, " << lost
                                << " said they were but a late rename put back an older copy");
        }
    }
}
