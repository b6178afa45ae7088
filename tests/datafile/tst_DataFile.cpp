#include "DoctestPrinters.h"
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "ChildProcess.h"
#include "DataFile.h"
#include "SavedValues.h"
#include "TestDataFolder.h"
#include "disk/DataFilePath.h"
#include "disk/FileLock.h"
#include "disk/FileSystem.h"
#include "disk/SafeReplace.h"

#ifndef _WIN32
#include "SaveFaultShim.h"
#include <sys/stat.h>
#endif

using namespace tesselby;
using namespace std::chrono_literals;

namespace {

#ifndef _WIN32
unsigned permissionsOf(const std::filesystem::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : ~0u;
}
#endif

// Another running copy that wants the lock: exit code 0 when it got it within the milliseconds given.
TESSELBY_CHILD_BODY(takeLock)
{
    return FileLock::acquire(dataFile(), std::chrono::milliseconds(std::stoi(arguments.at(0)))).ok() ? 0 : 1;
}

// Takes the lock, says so with the file named, and dies holding it.
TESSELBY_CHILD_BODY(dieHoldingLock)
{
    Result<FileLock> lock = FileLock::acquire(dataFile());
    if (!lock || !writeFile(arguments.at(0), "held"))
        return 1;
    std::_Exit(0);
}

// Takes the lock and holds it until the file named second stands; the first says it is held.
TESSELBY_CHILD_BODY(holdLockUntil)
{
    Result<FileLock> lock = FileLock::acquire(dataFile());
    if (!lock || !writeFile(arguments.at(0), "held"))
        return 1;
    return waitForPath(arguments.at(1)) ? 0 : 2;
}

} // namespace

TEST_CASE("bothNamesReachOneFileInTheUsersDataFolder")
{
    TestDataFolder folder;
#ifdef _WIN32
    // The program's own file, at the root of drive C:, in the test's private Wine prefix (or machine).
    const std::filesystem::path fixed = dataFilePath(kDataFileWritePath);
    CHECK(fixed == std::filesystem::path("c:/tesselby.txt"));
    REQUIRE_FALSE_MESSAGE(std::filesystem::exists(fixed), "a list of someone's own is there, and left alone");
    const Status added = appendRecord(dataFilePath(kDataFileWritePath), {"Ann", "Lee", "555", "ann@x"});
    const Result<std::string> read = readDataFile(dataFilePath(kDataFileReadPath));
    std::filesystem::remove(fixed);
    std::filesystem::remove(lockFilePath(fixed));
    REQUIRE(added.ok());
    REQUIRE(read.ok());
    CHECK(read.value() == itemLines({"Ann", "Lee", "555", "ann@x"}));
#else
    CHECK(dataFilePath(kDataFileWritePath) == dataFilePath(kDataFileReadPath));
    CHECK(dataFilePath(kDataFileReadPath) == folder.filePath());
#endif
}

#ifndef _WIN32
TEST_CASE("relativeDataHomeFallsBackToHome")
{
    const std::optional<std::filesystem::path> oldHome = environmentPath("HOME");
    setEnvironment("XDG_DATA_HOME", "relative/path");
    setEnvironment("HOME", "/home/someone");
    CHECK(dataFilePath(kDataFileReadPath) == std::filesystem::path("/home/someone/.local/share/tesselby/tesselby.txt"));
    unsetEnvironment("XDG_DATA_HOME");
    CHECK(dataFilePath(kDataFileReadPath) == std::filesystem::path("/home/someone/.local/share/tesselby/tesselby.txt"));
    setEnvironment("HOME", oldHome.value_or(""));
}
#endif

TEST_CASE("missingFileReadsAsEmptyList")
{
    TestDataFolder folder;
    const Result<std::string> text = readDataFile(dataFile());
    REQUIRE(text.ok());
    CHECK(text.value().empty());
    CHECK(!folder.exists());
}

TEST_CASE("folderInPlaceOfFileIsReported")
{
    TestDataFolder folder;
    folder.putFolderInPlace();
    const Result<std::string> text = readDataFile(dataFile());
    REQUIRE(!text.ok());
    CHECK(text.error().path == pathText(folder.filePath()));
    CHECK(text.error().cause == FileError::Cause::FolderInPlace);
    const Status added = appendRecord(dataFile(), {"a", "b", "c", "d"});
    REQUIRE(!added.ok());
    CHECK(added.error().cause == FileError::Cause::FolderInPlace);
    RecordGrid nothing;
    CHECK(!saveValues(nothing, 1, {}).ok());
    CHECK(std::filesystem::is_directory(folder.filePath()));
}

TEST_CASE("appendsCreateAnOwnerOnlyFileOfItemLines")
{
    TestDataFolder folder;
    REQUIRE(appendRecord(dataFile(), {"Ann", "Lee, Jr.", "555", "ann@x"}).ok());
    CHECK(folder.read() == itemLines({"Ann", "Lee, Jr.", "555", "ann@x"}));
    REQUIRE(appendRecord(dataFile(), {"", "", "", ""}).ok());
    CHECK(folder.read() == itemLines({"Ann", "Lee, Jr.", "555", "ann@x", "", "", "", ""}));
#ifndef _WIN32
    CHECK(permissionsOf(folder.filePath()) == 0600);
    CHECK(permissionsOf(folder.folderPath()) == 0700);
#endif
}

TEST_CASE("addStandsAsAWholeRecordOfItsOwn")
{
    // Another program adding to the list in the moment before the add's new content takes its place.
    enum class Meanwhile { Nothing, Adds, AddsToTwoNames };
    const struct {
        const char* name;
        std::string before;
        Meanwhile meanwhile = Meanwhile::Nothing;
    } rows[] = {
        {"no final line end", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\""},
        {"an incomplete last record", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"e\"\r\n\"f\"\r\n\"g\"\r\n"},
        {"a torn add: half an item", "\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"Ann\"\r\n\"Le"},
        {"an open quote over lines", "\"a\"\r\n\"b \"\"x\"\"\r\n more\r\n"},
        {"a trailing comma", "a,b,c,"},
        {"only a byte-order mark", "\xEF\xBB\xBF"},
        {"blank lines after the last item", "\"a\"\r\n\r\n  \n\t"},
        {"an empty file", ""},
#ifndef _WIN32
        {"an empty file another program adds to while the new list is synced beside it", "", Meanwhile::Adds},
        {"an empty file of two names another program adds to while its guard copy is synced", "",
         Meanwhile::AddsToTwoNames},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            folder.write(row.before);
            const Result<RecordGrid> earlier = loadRecordGrid(dataFile());
            REQUIRE(earlier.ok());
            const Record added{"New", "Person, Jr.", "555 \"0100\"", "new@example.org"};
            const Record other{"Other", "Program", "999", "other@example.org"};
            if (row.meanwhile == Meanwhile::Nothing) {
                REQUIRE(appendRecord(dataFile(), added).ok());
            }
#ifndef _WIN32
            else {
                if (row.meanwhile == Meanwhile::AddsToTwoNames)
                    std::filesystem::create_hard_link(folder.filePath(), folder.top() / "second-name.txt");
                const auto adds = [&] {
                    std::ofstream list(folder.filePath(), std::ios::binary | std::ios::app);
                    list << itemLines({other[0], other[1], other[2], other[3]});
                };
                const SaveFaultArmed armed(SaveFault{"fsync", kTemporaryMarker, 0, false, adds});
                REQUIRE(appendRecord(dataFile(), added).ok());
                CHECK(armed.acted());
            }
#endif
            CHECK(folder.read().starts_with(row.before));

            const Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            const std::size_t others = row.meanwhile == Meanwhile::Nothing ? 0 : 1;
            REQUIRE(grid.value().recordCount() == earlier.value().recordCount() + others + 1);
            for (std::size_t r = 1; r <= earlier.value().recordCount(); ++r)
                CHECK(grid.value().record(r) == earlier.value().record(r));
            if (others != 0)
                CHECK(grid.value().record(grid.value().recordCount() - 1) == other);
            CHECK(grid.value().record(grid.value().recordCount()) == added);
        }
    }
}

TEST_CASE("saveReplacesOnlyTheEditedRecord")
{
    TestDataFolder folder;
    const std::string before = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
    folder.write(before);
    Result<RecordGrid> grid = loadRecordGrid(dataFile());
    REQUIRE(grid.ok());
    REQUIRE(saveValues(grid.value(), 1, grid.value().record(1)).ok());
    CHECK(folder.read() == before);

    REQUIRE(saveValues(grid.value(), 2, {"Bee", "", "two \"2\"", "b@"}).ok());
    CHECK(folder.read() == itemLines({"A", "a", "1", "a@", "Bee", "", "two \"2\"", "b@", "C", "c", "3", "c@"}));
    CHECK(grid.value().text() == folder.read());
    CHECK(grid.value().record(2) == Record{"Bee", "", "two \"2\"", "b@"});
    CHECK(grid.value().record(3) == Record{"C", "c", "3", "c@"});
}

TEST_CASE("saveKeepsPermissionsAndLeavesNoTemporaryFiles")
{
    TestDataFolder folder;
    folder.write(itemLines({"A", "a", "1", "a@"}));
#ifndef _WIN32
    std::filesystem::permissions(folder.filePath(), std::filesystem::perms(0640));
#endif
    // What a save killed midway leaves behind goes with the next save; the user's own files stay.
    for (const char* name :
         {"tesselby.txt.saving-a1B2c3", "tesselby.txt.saving-17-99-0", "tesselby.txt.bak", "notes.txt.saving-a1B2c3"})
        REQUIRE(writeFile(folder.folderPath() / name, ""));
    Result<RecordGrid> grid = loadRecordGrid(dataFile());
    REQUIRE(grid.ok());
    REQUIRE(saveValues(grid.value(), 1, {"Z", "z", "9", "z@"}).ok());
#ifndef _WIN32
    CHECK(permissionsOf(folder.filePath()) == 0640);
#endif
    CHECK(fileNames(folder.folderPath()) ==
          std::vector<std::string>{"notes.txt.saving-a1B2c3", "tesselby.txt", "tesselby.txt.bak", "tesselby.txt.lock"});
}

TEST_CASE("saveKeepsRecordsAppendedSinceLoad")
{
    // Each delivery, as a sync tool makes it: a new version, one more person, renamed into place.
    enum class Delivery { None, WhileTheSaveRereads, AtEveryRead, WhileTheGuardIsWritten };
    const struct {
        const char* name;
        Delivery delivery;
    } rows[] = {
        {"appended since the load", Delivery::None},
#ifndef _WIN32
        {"and a newer list delivered while the save reads the changed file", Delivery::WhileTheSaveRereads},
        {"and another program that keeps changing it", Delivery::AtEveryRead},
        // A second name makes the save rewrite the file in place, behind a guard copy.
        {"of two names, and a newer list delivered while the save writes its guard copy",
         Delivery::WhileTheGuardIsWritten},
#endif
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            folder.write(itemLines({"A", "a", "1", "a@"}));
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            REQUIRE(appendRecord(dataFile(), {"B", "b", "2", "b@"}).ok());
            int deliveries = 0;
#ifndef _WIN32
            const auto deliver = [&] {
                const std::filesystem::path delivered = folder.folderPath() / ".delivered.tmp";
                REQUIRE(writeFile(delivered,
                                  folder.read() + itemLines({"C" + std::to_string(++deliveries), "c", "3", "c@"})));
                std::filesystem::rename(delivered, folder.filePath());
            };
#endif
            if (row.delivery == Delivery::WhileTheGuardIsWritten)
                std::filesystem::create_hard_link(folder.filePath(), folder.top() / "second-name.txt");
            Result<EditPlan> saved = EditPlan{};
            if (row.delivery == Delivery::None) {
                saved = saveRecordEdit(dataFile(), grid.value(), 1, {FieldEdit{"A2", std::nullopt}});
            }
#ifndef _WIN32
            else {
                // The save's first try finds the add and reads the file again (its second read of the
                // file on this thread); the delivery comes as that read ends.
                const bool always = row.delivery == Delivery::AtEveryRead;
                const SaveFaultArmed armed(
                    row.delivery == Delivery::WhileTheGuardIsWritten
                        ? SaveFault{"fsync", kTemporaryMarker, 0, false, deliver}
                        : SaveFault{"closeRead", "/tesselby.txt", always ? 0 : 1, false, deliver, always ? 1000 : 1});
                saved = saveRecordEdit(dataFile(), grid.value(), 1, {FieldEdit{"A2", std::nullopt}});
                CHECK(armed.acted());
            }
#endif
            std::vector<std::string> expected{"A2", "a", "1", "a@", "B", "b", "2", "b@"};
            for (int n = 1; n <= deliveries; ++n)
                expected.insert(expected.end(), {"C" + std::to_string(n), "c", "3", "c@"});
            if (row.delivery == Delivery::AtEveryRead) {
                // It gives up, having written nothing over what the other program wrote.
                REQUIRE(!saved.ok());
                CHECK(saved.error().cause == FileError::Cause::KeptChanging);
                expected[0] = "A";
                CHECK(grid.value().record(1) == Record{"A", "a", "1", "a@"});
            } else {
                REQUIRE(saved.ok());
                CHECK(grid.value().recordCount() == 2 + std::size_t(deliveries));
            }
            CHECK(folder.read() == itemLines(expected));
            // The save first made for the file as loaded is thrown away once the change is seen.
            CHECK(fileNames(folder.folderPath()) == std::vector<std::string>{"tesselby.txt", "tesselby.txt.lock"});
        }
    }
}

TEST_CASE("saveOfAPersonTheFileLostWritesNothing")
{
    TestDataFolder folder;
    folder.write(itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"}));
    Result<RecordGrid> grid = loadRecordGrid(dataFile());
    REQUIRE(grid.ok());
    REQUIRE(std::filesystem::remove(folder.filePath()));
    const Result<EditPlan> saved = saveRecordEdit(dataFile(), grid.value(), 2, {FieldEdit{"B2", std::nullopt}});
    REQUIRE(saved.ok());
    CHECK(saved.value().kind == EditPlan::Kind::PersonNotFound);
    CHECK(!folder.exists());
    CHECK(grid.value().record(2) == Record{"B", "b", "2", "b@"}); // still what the person saw
}

TEST_CASE("heldLockMakesWritersWaitThenFail")
{
    const struct {
        const char* name;
        bool remove, replace;
    } rows[] = {
        {"lock file left alone", false, false},
        {"lock file deleted by a cleanup tool", true, false},
        {"lock file replaced", true, true},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            REQUIRE(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
            Result<FileLock> held = FileLock::acquire(dataFile());
            REQUIRE(held.ok());
            const std::filesystem::path lockFile = lockFilePath(folder.filePath());
            if (row.remove) {
                std::error_code failed;
                const bool removed = std::filesystem::remove(lockFile, failed);
#ifdef _WIN32
                // Held without delete sharing, the lock file cannot go while it guards a save.
                CHECK_FALSE(removed);
#else
                REQUIRE(removed);
#endif
            }
            if (row.replace)
                (void)writeFile(lockFile, "");
            // A second holder, as another running copy would be, is refused while the first holds it.
            CHECK(runChild("takeLock", {"100"}) == 1);
        }
    }
}

TEST_CASE("lockOfADeadProcessIsTakenOver")
{
    TestDataFolder folder;
    // Nor does a child started just after an add hold the lock the add gave up.
    REQUIRE(appendRecord(dataFile(), {"A", "a", "1", "a@"}).ok());
    REQUIRE(appendRecord(dataFile(), {"B", "b", "2", "b@"}).ok());
    CHECK(runChild("takeLock", {"100"}) == 0);
    CHECK(runChild("dieHoldingLock", {pathText(folder.top() / "held")}) == 0);
    CHECK(std::filesystem::exists(lockFilePath(folder.filePath())));
    CHECK(FileLock::acquire(dataFile(), 0ms).ok());

    SUBCASE("killed while holding it")
    {
        const std::filesystem::path held = folder.top() / "held-until-killed";
        ChildProcess holder("holdLockUntil", {pathText(held), pathText(folder.top() / "never")});
        REQUIRE(waitForPath(held));
        CHECK(!FileLock::acquire(dataFile(), 0ms).ok());
        holder.kill();
        (void)holder.wait();
        // Windows drops a dead process's locks soon after it ends, not necessarily at once.
        CHECK(FileLock::acquire(dataFile(), 2000ms).ok());
    }
}

TEST_CASE("namesOutsideAsciiReachTheirFile")
{
    // Windows passes such names only through its UTF-16 calls; messages carry them in UTF-8.
    TestDataFolder folder(u8"Zoë Ångström 李小龍");
    const std::filesystem::path file = folder.folderPath() / u8"Müller 名簿.txt";
    REQUIRE(appendRecord(file, {"Zoë", "李", "", ""}).ok());
    Result<RecordGrid> grid = loadRecordGrid(file);
    REQUIRE(grid.ok());
    const Result<EditPlan> saved = saveRecordEdit(file, grid.value(), 1, {FieldEdit{"Zoë 2", std::nullopt}});
    REQUIRE(saved.ok());
    CHECK(saved.value().saved());
    CHECK(readFile(file) == itemLines({"Zoë 2", "李", "", ""}));
    CHECK(fileNames(folder.folderPath()) == std::vector<std::string>{"Müller 名簿.txt", "Müller 名簿.txt.lock"});

    std::filesystem::path inPlace = folder.folderPath() / u8"Ελένη.txt";
    std::filesystem::create_directories(inPlace);
    const Status refused = appendRecord(inPlace, {"a", "", "", ""});
    REQUIRE(!refused.ok());
    CHECK(refused.error().path == pathText(inPlace));
    CHECK(refused.error().path.find("Ελένη.txt") != std::string::npos);
}

TEST_CASE("aStampTellsWhenTheFileMayHaveChanged")
{
    const auto longAgo = std::filesystem::file_time_type::clock::now() - 1h;
    const std::string three = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
    const struct {
        const char* name;
        bool writtenLongAgo; // else just before the stamp, within a coarse clock's step
        const char* change;
        bool unchanged;
    } rows[] = {
        {"nothing changed", true, "", true},
        {"nothing changed, written as it was stamped", false, "", false},
        {"a person added", true, "append", false},
        {"the same size written over, its time set back", true, "rewrite", false},
        {"another file put in its place", true, "replace", false},
        {"removed", true, "remove", false},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            folder.write(three);
            if (row.writtenLongAgo)
                std::filesystem::last_write_time(folder.filePath(), longAgo);
            const Result<FileStamp> before = stampAt(folder.filePath());
            REQUIRE(before.ok());
            const std::string change = row.change;
            if (change == "append") {
                REQUIRE(appendRecord(dataFile(), {"D", "d", "4", "d@"}).ok());
            } else if (change == "rewrite") {
                std::string edited = three;
                edited[1] = 'Z';
                REQUIRE(writeFile(folder.filePath(), edited));
                std::filesystem::last_write_time(folder.filePath(), longAgo);
            } else if (change == "replace") {
                const std::filesystem::path other = folder.filePath().string() + ".new";
                REQUIRE(writeFile(other, three));
                std::filesystem::last_write_time(other, longAgo);
                std::filesystem::rename(other, folder.filePath());
            } else if (change == "remove") {
                std::filesystem::remove(folder.filePath());
            }
            const Result<FileStamp> after = stampAt(folder.filePath());
            if (change == "remove") {
                REQUIRE(!after.ok());
                CHECK(after.error().cause == FileError::Cause::Missing);
                continue;
            }
            REQUIRE(after.ok());
            CHECK(unchangedSince(before.value(), after.value()) == row.unchanged);
        }
    }
}
