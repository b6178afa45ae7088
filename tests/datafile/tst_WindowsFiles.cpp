// What only Windows has: file attributes and access lists, which a save must carry over, symbolic links
// as reparse points, and files other programs hold open with their own sharing rules.
#include "DoctestPrinters.h"

#include "ChildProcess.h"
#include "DataFile.h"
#include "SavedValues.h"
#include "TestDataFolder.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

using namespace tesselby;

namespace {

// The file's access list in the system's text form; empty when it cannot be read.
std::wstring accessListOf(const std::filesystem::path& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    wchar_t* text = nullptr;
    std::wstring list;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                               &text, nullptr))
        list = text;
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return list;
}

bool setAccessList(const std::filesystem::path& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    const DWORD failed = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, list, nullptr);
    ::LocalFree(descriptor);
    return failed == ERROR_SUCCESS;
}

std::uint64_t fileIndexOf(const std::filesystem::path& path)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return known ? (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow : 0;
}

bool isLink(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Another program holding the data file open with the sharing given (in its first argument, as
// FILE_SHARE_ bits) until the file named third stands; the second says it is open.
TESSELBY_CHILD_BODY(holdFileOpen)
{
    const HANDLE handle = ::CreateFileW(dataFile().c_str(), GENERIC_READ, DWORD(std::stoul(arguments.at(0))), nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || !writeFile(arguments.at(1), "open"))
        return 1;
    const bool released = waitForPath(arguments.at(2));
    ::CloseHandle(handle);
    return released ? 0 : 2;
}

} // namespace

TEST_CASE("writesKeepTheFilesAttributesAccessListAndLinks")
{
    enum class Arrangement { Attributes, AccessList, HardLink, RelativeLink, ChainOfLinks };
    const struct {
        const char* name;
        Arrangement arrangement;
        bool keepsIndex;
    } rows[] = {
        {"hidden and not indexed", Arrangement::Attributes, false},
        // Wine keeps an access list only as far as Unix permission bits can hold it, so under Wine this
        // row shows that the list reaches the new file in that form; Windows keeps it whole.
        {"an access list of its own", Arrangement::AccessList, false},
        {"a second hard link", Arrangement::HardLink, true},
        {"a relative symbolic link", Arrangement::RelativeLink, false},
        {"a chain of links", Arrangement::ChainOfLinks, false},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::filesystem::path top = folder.top();
            std::filesystem::create_directories(folder.folderPath());
            std::filesystem::create_directories(top / "elsewhere");
            std::filesystem::path target = folder.filePath();
            std::vector<std::filesystem::path> names{folder.filePath()}; // every name that must see the new content
            if (row.arrangement == Arrangement::RelativeLink || row.arrangement == Arrangement::ChainOfLinks)
                target = top / "elsewhere" / "list.txt";
            REQUIRE(writeFile(target, itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"})));
            switch (row.arrangement) {
            case Arrangement::Attributes:
                REQUIRE(
                    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
                break;
            case Arrangement::AccessList:
                // Anyone may change it, nothing inherited: a list no new file gets by itself (and under
                // Wine, whose lists are Unix permission bits, the entry for everyone is what shows).
                REQUIRE(setAccessList(target, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)"));
                break;
            case Arrangement::HardLink:
                names.push_back(top / "elsewhere" / "second-name.txt");
                REQUIRE(::CreateHardLinkW(names.back().c_str(), target.c_str(), nullptr));
                break;
            case Arrangement::RelativeLink:
                ::CreateSymbolicLinkW(folder.filePath().c_str(), L"..\\..\\elsewhere\\list.txt", 0);
                break;
            case Arrangement::ChainOfLinks:
                ::CreateSymbolicLinkW(folder.filePath().c_str(), (top / "hop").c_str(), 0);
                ::CreateSymbolicLinkW((top / "hop").c_str(), L"elsewhere\\list.txt", 0);
                names.push_back(top / "hop");
                break;
            }
            if (target != folder.filePath() && !isLink(folder.filePath())) {
                // Wine answers CreateSymbolicLinkW with success and makes nothing, so the links
                // (read back through GetFinalPathNameByHandleW) are tried on Windows itself only.
                MESSAGE("not run: this system made no symbolic link (Wine does not)");
                continue;
            }
            const DWORD attributesBefore = ::GetFileAttributesW(target.c_str());
            const std::wstring listBefore = accessListOf(target);
            const std::uint64_t indexBefore = fileIndexOf(target);

            REQUIRE(appendRecord(dataFile(), {"C", "c", "3", "c@"}).ok());
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            REQUIRE(saveValues(grid.value(), 1, {"Edited", "a", "1", "a@"}).ok());

            const std::string expected =
                itemLines({"Edited", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
            for (const std::filesystem::path& name : names) {
                CAPTURE(name.string());
                CHECK(readFile(name) == expected);
                if (name != target && row.arrangement != Arrangement::HardLink)
                    CHECK(isLink(name));
            }
            CHECK(::GetFileAttributesW(target.c_str()) == attributesBefore);
            CHECK((accessListOf(target) == listBefore));
            if (row.keepsIndex)
                CHECK(fileIndexOf(target) == indexBefore);
            for (const std::string& name : fileNames(target.parent_path()))
                CHECK(name.find(".saving-") == std::string::npos);
        }
    }
}

TEST_CASE("aFileAnotherProgramHoldsOpenIsWrittenOrRefusedWhole")
{
    const struct {
        const char* name;
        DWORD sharing;
        bool writable;
    } rows[] = {
        {"shared for everything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        // It cannot be replaced then; it is rewritten where it is.
        {"shared for reading and writing, not deleting", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"shared for reading only", FILE_SHARE_READ, false},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            TestDataFolder folder;
            const std::string before = itemLines({"A", "a", "1", "a@", "B", "b", "2", "b@"});
            folder.write(before);
            const std::filesystem::path open = folder.top() / "open", release = folder.top() / "release";
            ChildProcess holder("holdFileOpen", {std::to_string(row.sharing), pathText(open), pathText(release)});
            REQUIRE(waitForPath(open));

            const Status added = appendRecord(dataFile(), {"C", "c", "3", "c@"});
            Result<RecordGrid> grid = loadRecordGrid(dataFile());
            REQUIRE(grid.ok());
            const Status saved = saveValues(grid.value(), 1, {"Edited", "a", "1", "a@"});
            std::string expected = before;
            if (row.writable) {
                CHECK(added.ok());
                CHECK(saved.ok());
                expected = itemLines({"Edited", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
            } else {
                REQUIRE(!added.ok());
                REQUIRE(!saved.ok());
                CHECK(added.error().path == pathText(folder.filePath()));
                CHECK(!added.error().reason().empty());
            }
            CHECK(folder.read() == expected);
            REQUIRE(writeFile(release, ""));
            CHECK(holder.wait() == 0);
            CHECK(fileNames(folder.folderPath()) == std::vector<std::string>{"tesselby.txt", "tesselby.txt.lock"});
        }
    }
}
