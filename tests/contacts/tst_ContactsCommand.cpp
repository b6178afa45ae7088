// The command as a user runs it: the built executable in a child process, its data folder a
// temporary one given through XDG_DATA_HOME.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ContactSamples.h"
#include "records/RecordGrid.h"

using namespace tesselby;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// A folder of the test's own: the data folder (its list in tesselby/tesselby.txt) and where the
// command runs, so that a test's files are named as a user would name them.
class Scratch {
public:
    Scratch()
    {
        char name[] = "/tmp/tesselby-contacts-XXXXXX";
        REQUIRE(::mkdtemp(name) != nullptr);
        m_dir = name;
    }
    ~Scratch() { fs::remove_all(m_dir); }

    const fs::path& dir() const { return m_dir; }
    fs::path list() const { return m_dir / "tesselby" / "tesselby.txt"; }

    // Runs the command; sizeLimit, when set, is a full disk that many bytes into any file, which the
    // command is told of by SIGXFSZ as well with fileSizeSignal. Standard input and output are input and
    // .out unless paths are given for them, an empty one a closed stream. faults, NAME=value each, are
    // given to the fault shim (tests/faults), which is then preloaded. memoryLimit, when set, is the most
    // address space the command may take, in bytes.
    Outcome run(const std::vector<std::string>& args, const std::string& input = {}, const char* stdoutPath = nullptr,
                long long sizeLimit = 0, const char* stdinPath = nullptr, const std::vector<std::string>& faults = {},
                bool fileSizeSignal = false, long long memoryLimit = 0) const
    {
        writeFile(m_dir / ".in", input);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
            ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
            if (::chdir(m_dir.c_str()) != 0)
                ::_exit(126);
            const char* paths[] = {stdinPath ? stdinPath : ".in", stdoutPath ? stdoutPath : ".out", ".err"};
            for (int fd = 0; fd < 3; ++fd)
                if (*paths[fd] != '\0')
                    ::dup2(::open(paths[fd], fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600), fd);
            // Closed last, so that no file opened here takes a closed stream's number.
            for (int fd = 0; fd < 3; ++fd)
                if (*paths[fd] == '\0')
                    ::close(fd);
            if (!faults.empty()) {
#ifdef TESSELBY_FAULT_SHIM
                for (const std::string& fault : faults)
                    ::putenv(const_cast<char*>(fault.c_str()));
                ::setenv("LD_PRELOAD", TESSELBY_FAULT_SHIM, 1);
                // The sanitizers' runtime would refuse to come after the shim.
                const char* sanitizer = ::getenv("ASAN_OPTIONS");
                ::setenv(
                    "ASAN_OPTIONS",
                    ((sanitizer ? std::string(sanitizer) + ":" : std::string()) + "verify_asan_link_order=0").c_str(),
                    1);
#else
                ::_exit(125);
#endif
            }
            if (sizeLimit > 0) {
                ::signal(SIGXFSZ, fileSizeSignal ? SIG_DFL : SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(sizeLimit), static_cast<rlim_t>(sizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (memoryLimit > 0) {
                const rlimit limit{static_cast<rlim_t>(memoryLimit), static_cast<rlim_t>(memoryLimit)};
                ::setrlimit(RLIMIT_AS, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(TESSELBY_CONTACTS)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(TESSELBY_CONTACTS, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(m_dir / ".out"),
                        readFile(m_dir / ".err")};
        fs::remove(m_dir / ".out");
        return outcome;
    }

    // Starts the command without waiting for it, its output thrown away: the child's process number.
    pid_t start(const std::vector<std::string>& args) const
    {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
            ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
            const int none = ::open("/dev/null", O_RDWR);
            if (::chdir(m_dir.c_str()) != 0 || none < 0)
                ::_exit(126);
            for (int fd = 0; fd < 3; ++fd)
                ::dup2(none, fd);
            std::vector<char*> argv{const_cast<char*>(TESSELBY_CONTACTS)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(TESSELBY_CONTACTS, argv.data());
            ::_exit(127);
        }
        return child;
    }

private:
    fs::path m_dir;
};

const Record kAnna{"Anna", "Smith", "555", "anna@example.org"};
const Record kBob{"Bob", "Smithers, \"Jr.\"", "", ""};
const std::string kCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Kim;;;\r\nEMAIL:kim@example.com\r\nEND:VCARD\r\n";
const std::string kBrokenCards = "BEGIN:VCARD\r\nN:Gone;Half\r\n" + kCard;
const std::string kCsv = "First Name,Last Name,Phone,E-Mail\r\nZoë,Ng,0170,\r\n";

} // namespace

TEST_CASE("the command's exit status, output and messages")
{
    // Longer than the messages of a run, which a file-size limit just past it lets through.
    const std::string kLongList = itemLines(kAnna) + itemLines(kBob) + itemLines(kAnna) + itemLines(kBob) +
                                  itemLines(kAnna) + itemLines(kBob) + itemLines(kAnna) + itemLines(kBob);
    const struct {
        std::vector<std::string> args;
        std::string list; // the list before, when there is one
        std::string out;  // what standard output holds, or begins with when it ends in "..."
        std::string err;  // a part of standard error
        int status;
        std::optional<std::string> listAfter = {}; // when given, the list must then hold exactly this
        std::string input = {};
        const char* stdoutPath = nullptr; // see Scratch::run
        const char* stdinPath = nullptr;
        void (*prepare)(const fs::path& dir) = nullptr; // more files in the folder, made before the run
        // When given, the file of that name in the folder must then hold exactly this, or be missing.
        std::optional<std::pair<const char*, std::optional<std::string>>> fileAfter = {};
        std::vector<std::string> faults = {};
        long long sizeLimit = 0; // with the file-size signal, which the command is sent as a user's would be
    } cases[] = {
        {{}, "", "", "a command is needed", 2},
        {{"--help"}, "", "Usage: tesselby-contacts...", "", 0},
        {{"list", "--help"}, "", "Usage: tesselby-contacts...", "", 0},
        {{"--version"}, "", std::string("tesselby-contacts ") + TESSELBY_VERSION + "\n", "", 0},
        {{"frobnicate"}, "", "", "no command 'frobnicate'", 2},
        {{"import"}, "", "", "at least one file", 2},
        {{"import", "--bogus", "a.vcf"}, "", "", "no option --bogus", 2},
        {{"export", "--format", "xml"}, "", "", "vcard or csv, not xml", 2},
        {{"export", "--vcard-version=2.1"}, "", "", "3.0 or 4.0, not 2.1", 2},
        {{"export", "-o"}, "", "", "needs a value", 2},
        {{"list", "--field", "age"}, "", "", "not age", 2},
        {{"list", "a", "b"}, "", "", "given two", 2},
        {{"check", "x"}, "", "", "tesselby-contacts: check takes no arguments, and was given x\n", 2},
        {{"import", "missing.vcf"}, "", "", "tesselby-contacts: missing.vcf: could not be read", 1},
        {{"import", "broken.vcf", "people.csv"},
         itemLines(kAnna),
         "",
         "tesselby-contacts: broken.vcf:1: ",
         1,
         itemLines(kAnna) + itemLines({"Kim", "Lee", "", "kim@example.com"}) + itemLines({"Zoë", "Ng", "0170", ""})},
        // One broken UTF-16 character skips its row, named by file and line; the others come in.
        {{"import", "u16.csv"},
         itemLines(kAnna),
         "",
         "u16.csv:3: a broken UTF-16 character; the row that starts on line 3 was skipped",
         1,
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "", ""}) + itemLines({"Kim", "Lee", "", ""}),
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             writeFile(dir / "u16.csv", utf16le(u"First Name,Last Name\r\nZoë,Ng\r\nB\xD800ob,X\r\nKim,Lee\r\n"));
         }},
        {{"import", "-"},
         "\"A\"\r\n\"B",
         "",
         "tesselby-contacts: -: 1 person added, 0 already there\n",
         0,
         "\"A\"\r\n\"B\"\r\n\"\"\r\n\"\"\r\n" + itemLines({"Kim", "Lee", "", "kim@example.com"}),
         kCard},
        // Never twice: not what the list holds (an older file's Windows-1252 as the UTF-8 it stands for), nor
        // what came earlier in the same import or an earlier file of the same run.
        {{"import", "broken.vcf", "-", "people.csv"},
         itemLines(kAnna) + "\"Zo\xEB\"\r\n\"Ng\"\r\n\"0170\"\r\n\"\"\r\n",
         "",
         "broken.vcf: 1 person added, 0 already there\ntesselby-contacts: -: 0 people added, 2 already there\n"
         "tesselby-contacts: people.csv: 0 people added, 1 already there\n",
         1,
         itemLines(kAnna) + "\"Zo\xEB\"\r\n\"Ng\"\r\n\"0170\"\r\n\"\"\r\n" +
             itemLines({"Kim", "Lee", "", "kim@example.com"}),
         kCard + kCard},
        {{"import", "--allow-duplicates", "-"},
         itemLines({"Kim", "Lee", "", "kim@example.com"}),
         "",
         "tesselby-contacts: -: 2 people added\n",
         0,
         itemLines({"Kim", "Lee", "", "kim@example.com"}) + itemLines({"Kim", "Lee", "", "kim@example.com"}) +
             itemLines({"Kim", "Lee", "", "kim@example.com"}),
         kCard + kCard},
        {{"import", "--dry-run", "-"},
         itemLines({"Kim", "Lee", "", "kim@example.com"}),
         "Ann\tLee\t\t\n",
         "-: 1 person would be added, 1 already there; dropped: 1 address, 1 photo\n",
         0,
         itemLines({"Kim", "Lee", "", "kim@example.com"}),
         kCard + "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann\r\nADR:;;x;;;;\r\nPHOTO:x\r\nEND:VCARD\r\n"},
        // A closed standard output: the search's matches must not take its place.
        {{"list"}, itemLines(kAnna), "", "could not write to standard output", 1, {}, {}, ""},
        {{"import", "-"}, "", "", "-: could not be read: standard input", 1, {}, {}, nullptr, "."},
        {{"import", "-"}, "", "", "-: could not be read: standard input", 1, {}, {}, nullptr, ""},
        {{"import", "--dry-run", "people.csv"},
         itemLines(kAnna),
         "Zoë\tNg\t0170\t\n",
         "1 person would be added",
         0,
         itemLines(kAnna)},
        {{"check"}, itemLines(kAnna) + itemLines(kBob), "/tesselby/tesselby.txt: 2 records\n", "", 0},
        {{"check"}, "Anna\r\n\"Smith\"\r\n", "...", "", 1},
        // In file order, whatever the kind.
        {{"check"},
         "a\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"e\"\r\n\"f\",\"g\"\r\n",
         "{list}: 2 records\n{list}:1: items not in quotes\n{list}:5: the last record is incomplete: 3 of its 4 "
         "values\n{list}:6: lines holding more than one item\n",
         "",
         1},
        {{"list", "--field", "last", "Smith"},
         itemLines(kAnna) + itemLines(kBob) + "\"Carl\"",
         "Anna\tSmith\t555\tanna@example.org\nBob\tSmithers, \"Jr.\"\t\t\n",
         "",
         0},
        {{"list"},
         itemLines({"Line\r\nbreak", "", "", ""}) + itemLines({"", "x", "", ""}),
         "Line break\t\t\t\n",
         "",
         0},
        // Without case, by Unicode's full folding; an older file's Windows-1252 item as the screens read it.
        {{"list", "-i", "zoë"},
         itemLines({"Zoë", "Ng", "", ""}) + itemLines({"ZOË", "", "", ""}) + itemLines(kBob) +
             "\"Zo\xEB\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n" + itemLines({"Zoe", "", "", ""}),
         "Zoë\tNg\t\t\nZOË\t\t\t\nZoë\t\t\t\n",
         "",
         0},
        {{"list", "--ignore-case", "--field", "last", "STRASSE"},
         itemLines({"Jörg", "Straße", "", ""}) + itemLines({"Ίων", "ΣΟΦΊΑΣ", "", ""}),
         "Jörg\tStraße\t\t\n",
         "",
         0},
        {{"list", "-i", "--field=last", "σοφίας"},
         itemLines({"Jörg", "Straße", "", ""}) + itemLines({"Ίων", "ΣΟΦΊΑΣ", "", ""}),
         "Ίων\tΣΟΦΊΑΣ\t\t\n",
         "",
         0},
        {{"list", "--any", "555"}, itemLines(kAnna) + itemLines(kBob), "Anna\tSmith\t555\tanna@example.org\n", "", 0},
        {{"list", "--any", "-i", "SMITHERS"},
         itemLines(kAnna) + itemLines(kBob),
         "Bob\tSmithers, \"Jr.\"\t\t\n",
         "",
         0},
        {{"list", "--any"},
         itemLines(kAnna) + itemLines({"", "", "", ""}),
         "Anna\tSmith\t555\tanna@example.org\n",
         "",
         0},
        {{"list", "--any", "--field", "last", "x"}, "", "", "not both", 2},
        // Nothing found is a status of 1, as grep's.
        {{"list", "Zoë"}, itemLines(kAnna), "", "", 1},
        {{"list", "-i", "zoë"}, itemLines(kAnna), "", "", 1},
        {{"list", "--format", "mutt", "anna smith"},
         itemLines(kAnna) + itemLines(kBob) + itemLines({"Smith", "", "", ""}),
         "Tesselby: 1 person found\nanna@example.org\tAnna Smith\t555\n",
         "",
         0},
        {{"list", "--format", "mutt", "EXAMPLE.ORG"},
         itemLines(kAnna),
         "Tesselby: 1 person found\nanna@example.org\tAnna Smith\t555\n",
         "",
         0},
        {{"list", "--format", "mutt", "555"}, itemLines(kAnna), "Tesselby: 0 people found\n", "", 1},
        {{"list", "--format", "aerc", "ANN"},
         itemLines(kAnna) + itemLines({"Ann", "", "", ""}),
         "anna@example.org\tAnna Smith\t555\n",
         "",
         0},
        {{"list", "--format=mutt", "--field", "email", ""},
         itemLines(kAnna) + itemLines(kBob),
         "Tesselby: 1 person found\nanna@example.org\tAnna Smith\t555\n",
         "",
         0},
        {{"export", "--format", "csv"},
         itemLines(kBob) + "\"Carl\"\r\n\"Doe\"",
         "First Name,Last Name,Phone,E-Mail\r\nBob,\"Smithers, \"\"Jr.\"\"\",,\r\nCarl,Doe,,\r\n",
         "",
         0},
        // Values a spreadsheet would run as formulas: as they are unless asked, so that the import gives them back.
        {{"export", "--format", "csv"},
         itemLines({"=1+1", "@SUM(A1)", "+49 170", "-x"}),
         "First Name,Last Name,Phone,E-Mail\r\n=1+1,@SUM(A1),+49 170,-x\r\n",
         "",
         0},
        {{"export", "--format=csv", "--spreadsheet-safe"},
         itemLines({"=1+1", "@SUM(A1)", "+49 170", "-x"}) + itemLines({"\tTab", "\r\nbreak", "=\"q\",1", "'t Hooft"}) +
             itemLines({"a=b", "", " =x", "Anna"}),
         "First Name,Last Name,Phone,E-Mail\r\n\"'=1+1\",\"'@SUM(A1)\",\"'+49 170\",\"'-x\"\r\n"
         "\"'\tTab\",\"'\r\nbreak\",\"'=\"\"q\"\",1\",'t Hooft\r\na=b,, =x,Anna\r\n",
         "",
         0},
        {{"export", "--spreadsheet-safe"}, itemLines(kAnna), "", "--spreadsheet-safe is for CSV", 2},
        {{"export", "--vcard-version", "4.0"},
         itemLines(kAnna),
         "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Smith;Anna;;;\r\nFN:Anna Smith\r\nTEL;VALUE=text:555\r\n"
         "EMAIL:anna@example.org\r\nEND:VCARD\r\n",
         "",
         0},
        {{"export", "-o", "tesselby/tesselby.txt"},
         itemLines(kAnna),
         "",
         "the address list itself",
         1,
         itemLines(kAnna)},
        {{"export", "-o", "no/such/folder/out.vcf"},
         itemLines(kAnna),
         "",
         "folder/out.vcf: not written: No such file or directory",
         1},
        {{"export", "-o", "people.csv/out.vcf"},
         itemLines(kAnna),
         "",
         "people.csv/out.vcf: not written: a file stands in place",
         1},
        {{"export", "-o", "tesselby/../tesselby/tesselby.txt.before-save"},
         itemLines(kAnna),
         "",
         "the program keeps its own files beside the address list under that name",
         1,
         itemLines(kAnna)},
        // Written over, the lock would no longer keep two writers apart, and a journal would be taken back.
        {{"export", "-o", "tesselby/tesselby.txt.lock"},
         itemLines(kAnna),
         "",
         "the program keeps its own files beside the address list under that name",
         1,
         itemLines(kAnna)},
        {{"export", "-o", "tesselby/tesselby.txt.adding"},
         itemLines(kAnna),
         "",
         "the program keeps its own files beside the address list under that name",
         1,
         itemLines(kAnna)},
        // Another user's file in a folder anyone may write, as /tmp: the save would keep its owner and
        // permissions, and hand them what was written.
        {{"export", "-o", "shared/theirs.vcf"},
         itemLines(kAnna),
         "",
         "shared/theirs.vcf: not written: it is another user's file in a folder others may write",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "shared");
             fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
             writeFile(dir / "shared/theirs.vcf", "theirs\n");
             fs::permissions(dir / "shared/theirs.vcf", fs::perms::all & ~fs::perms::owner_exec &
                                                            ~fs::perms::group_exec & ~fs::perms::others_exec);
             REQUIRE(::chown((dir / "shared/theirs.vcf").c_str(), 4242, 4242) == 0);
         },
         std::pair{"shared/theirs.vcf", "theirs\n"}},
        {{"export", "-o", "read-only.vcf"}, itemLines(kAnna), "", "read-only.vcf: not written: Permission denied", 1},
        // Links another user could have planted, as in /tmp: the file they lead to is left alone.
        {{"export", "-o", "shared/people.vcf"},
         itemLines(kAnna),
         "",
         "shared/people.vcf: not written: it is a symbolic link of another user's",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "shared");
             fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
             fs::create_symlink("../people.csv", dir / "shared/people.vcf");
             REQUIRE(::lchown((dir / "shared/people.vcf").c_str(), 4242, 4242) == 0);
         },
         std::pair{"people.csv", kCsv}},
        {{"export", "-o", "team/people.vcf"},
         itemLines(kAnna),
         "",
         "team/people.vcf: not written: it is a symbolic link in a folder other users may change",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "team");
             fs::permissions(dir / "team", fs::perms::owner_all | fs::perms::group_all);
             fs::create_symlink("../people.csv", dir / "team/people.vcf");
         },
         std::pair{"people.csv", kCsv}},
        // A folder of another user's on the way to a link of one's own: they could swap it for theirs.
        {{"export", "-o", "theirs/mine/people.vcf"},
         itemLines(kAnna),
         "",
         "theirs/mine/people.vcf: not written: it is a symbolic link in another user's folder",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directories(dir / "theirs/mine");
             fs::create_symlink("../../people.csv", dir / "theirs/mine/people.vcf");
             REQUIRE(::lchown((dir / "theirs").c_str(), 4242, 4242) == 0);
         },
         std::pair{"people.csv", kCsv}},
        // A link in a folder's place, planted by another user in a sticky folder.
        {{"export", "-o", "shared/away/made.vcf"},
         itemLines(kAnna),
         "",
         "shared/away/made.vcf: not written: it is a symbolic link of another user's",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "shared");
             fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
             fs::create_symlink("..", dir / "shared/away");
             REQUIRE(::lchown((dir / "shared/away").c_str(), 4242, 4242) == 0);
         },
         std::pair{"made.vcf", std::nullopt}},
        {{"export", "-o", "dangling.vcf"},
         itemLines(kAnna),
         "",
         "dangling.vcf: not written: it is a symbolic link to a missing file",
         1,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) { fs::create_symlink("made.vcf", dir / "dangling.vcf"); },
         std::pair{"made.vcf", std::nullopt}},
        // The user's own link in a sticky folder, as in /tmp: nobody else may replace it there.
        {{"export", "--format", "csv", "-o", "shared/own.csv"},
         itemLines(kAnna),
         "",
         "",
         0,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "shared");
             fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
             fs::create_symlink("../people.csv", dir / "shared/own.csv");
         },
         std::pair{"people.csv", "First Name,Last Name,Phone,E-Mail\r\nAnna,Smith,555,anna@example.org\r\n"}},
        // A new file in a folder reached through the user's own link is no file made through a link.
        {{"export", "--format", "csv", "-o", "linked/new.csv"},
         itemLines(kAnna),
         "",
         "",
         0,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) {
             fs::create_directory(dir / "folder");
             fs::create_directory_symlink("folder", dir / "linked");
         },
         std::pair{"folder/new.csv", "First Name,Last Name,Phone,E-Mail\r\nAnna,Smith,555,anna@example.org\r\n"}},
        // The user's own link, in the user's own folder, is followed and kept.
        {{"export", "--format", "csv", "-o", "own.csv"},
         itemLines(kAnna),
         "",
         "",
         0,
         {},
         {},
         nullptr,
         nullptr,
         [](const fs::path& dir) { fs::create_symlink("people.csv", dir / "own.csv"); },
         std::pair{"people.csv", "First Name,Last Name,Phone,E-Mail\r\nAnna,Smith,555,anna@example.org\r\n"}},
        // A failing disk, a network share and a sync tool, at each step of an add.
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "tesselby.txt: the people from people.csv were not added: "
         "Input/output error",
         1,
         itemLines(kAnna),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby.txt", "TESSELBY_FAULT_ERROR=EIO"}},
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "were not added: No space left on device",
         1,
         itemLines(kAnna),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=write", "TESSELBY_FAULT_FILE=/tesselby.txt.adding", "TESSELBY_FAULT_ERROR=ENOSPC"}},
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "were not added: Input/output error",
         1,
         itemLines(kAnna),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=unlink", "TESSELBY_FAULT_FILE=/tesselby.txt.adding", "TESSELBY_FAULT_ERROR=EIO"}},
        // A close that reports a write error after the people are in the list, as NFS can: importing
        // again would double them. (The first three closes of the list are those of its reading for
        // people already there and of the history's two looks at it, its stamp and its copy.)
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "were added, but this could not be confirmed: Input/output error",
         0,
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""}),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=close", "TESSELBY_FAULT_FILE=/tesselby.txt", "TESSELBY_FAULT_NTH=4",
          "TESSELBY_FAULT_ERROR=EIO", "TESSELBY_FAULT_AFTER=1"}},
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "were added, but this could not be confirmed: Input/output error",
         0,
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""}),
         {},
         nullptr,
         nullptr,
         // The history's folders made before, so that only the list's folder is synced.
         [](const fs::path& dir) { fs::create_directories(dir / "state" / "tesselby" / "history"); },
         {},
         {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby", "TESSELBY_FAULT_NTH=2",
          "TESSELBY_FAULT_ERROR=EIO"}},
        // A sync tool renames its new version into place while the add writes: the add goes into that.
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "people.csv: 1 person added",
         0,
         itemLines(kBob) + itemLines({"Zoë", "Ng", "0170", ""}),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby.txt",
          "TESSELBY_FAULT_RENAME=bob.txt:tesselby/tesselby.txt"}},
        // ... having copied the add into it already: the add is not made twice.
        {{"import", "people.csv"},
         itemLines(kAnna),
         "",
         "people.csv: 1 person added",
         0,
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""}),
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby.txt",
          "TESSELBY_FAULT_RENAME=copied.txt:tesselby/tesselby.txt"}},
        // A file-size limit (ulimit -f) stops the write part-way: the part is taken back. (The history's
        // copy of the list is larger still, and stops it first.)
        {{"import", "people.csv"},
         kLongList,
         "",
         "File too large",
         1,
         kLongList,
         {},
         nullptr,
         nullptr,
         nullptr,
         {},
         {},
         static_cast<long long>(kLongList.size()) + 4},
        // ... and an export's: the file is left as it was, and no temporary stays beside it.
        {{"export", "-o", "out.vcf"},
         kLongList,
         "",
         "out.vcf: not written: File too large",
         1,
         kLongList,
         {},
         nullptr,
         nullptr,
         nullptr,
         std::pair{"out.vcf", std::nullopt},
         {},
         300},
        // remove: list's match rule or the browse screen's numbering; asks unless --yes; nobody is 1.
        {{"remove", "--yes", "--field", "last", "Smithers"},
         itemLines(kAnna) + itemLines(kBob),
         "",
         "",
         0,
         itemLines(kAnna)},
        {{"remove", "--yes", "--record", "1"}, itemLines(kAnna) + itemLines(kBob), "", "", 0, itemLines(kBob)},
        {{"remove", "--yes", "-i", "--any", "ANNA@"}, itemLines(kAnna) + itemLines(kBob), "", "", 0, itemLines(kBob)},
        {{"remove", "--dry-run", "Anna"},
         itemLines(kAnna) + itemLines(kBob),
         "would go:\tAnna\tSmith\t555\tanna@example.org\n",
         "",
         0,
         itemLines(kAnna) + itemLines(kBob)},
        {{"remove", "--yes", "Nobody"},
         itemLines(kAnna),
         "",
         "nobody matched: nothing was removed",
         1,
         itemLines(kAnna)},
        {{"remove", "--yes", "--record", "3"}, itemLines(kAnna), "", "nobody matched", 1, itemLines(kAnna)},
        {{"remove", "Anna"}, itemLines(kAnna), "", "give --yes where nobody can answer", 2, itemLines(kAnna)},
        {{"remove", "--yes"}, itemLines(kAnna), "", "a text to look for or --record N", 2, itemLines(kAnna)},
        {{"remove", "--yes", "--record", "0"}, itemLines(kAnna), "", "counts from 1", 2, itemLines(kAnna)},
        // The one person of a record that shares its line with another goes alone.
        {{"remove", "--yes", "--record", "1"},
         "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n",
         "",
         "",
         0,
         "\"e\"\r\n\"f\"\r\n\"g\"\r\n\"h\"\r\n"},
        // history, undo, restore without a history yet, and wrong usage.
        {{"history"}, itemLines(kAnna), "", "no history of the list yet", 1},
        {{"undo"}, itemLines(kAnna), "", "no history of the list yet", 1, itemLines(kAnna)},
        {{"history", "--limit", "x"}, "", "", "a number, not x", 2},
        {{"history", "--format", "xml"}, "", "", "text or tsv, not xml", 2},
        {{"history", "--since", "yesterday"}, "", "", "not yesterday", 2},
        {{"restore"}, "", "", "a change's number or --at", 2},
        {{"restore", "--at", "2026-13-01 10:00"}, "", "", "not 2026-13-01", 2},
        {{"restore", "--at", "2026-12-10 -1:30"}, "", "", "not 2026-12-10 -1:30", 2},
        {{"history", "--since", "2026-02-31"}, "", "", "not 2026-02-31", 2},
        {{"restore", "0"}, "", "", "not 0", 2},
    };
    for (const auto& row : cases) {
        std::string shown;
        for (const std::string& arg : row.args)
            shown += arg + ' ';
        INFO(shown);
        Scratch scratch;
        if (!row.list.empty())
            writeFile(scratch.list(), row.list);
        writeFile(scratch.dir() / "broken.vcf", kBrokenCards);
        writeFile(scratch.dir() / "people.csv", kCsv);
        writeFile(scratch.dir() / "read-only.vcf", kCard);
        fs::permissions(scratch.dir() / "read-only.vcf", fs::perms::owner_read);
        if (row.prepare)
            row.prepare(scratch.dir());
        writeFile(scratch.dir() / "bob.txt", itemLines(kBob));
        writeFile(scratch.dir() / "copied.txt", itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""}));
        const Outcome outcome =
            scratch.run(row.args, row.input, row.stdoutPath, row.sizeLimit, row.stdinPath, row.faults, true);
        CHECK(outcome.status == row.status);
        // A leading "/" or any "{list}" stands for the list's path.
        std::string out = row.out.rfind('/', 0) == 0 ? scratch.dir().string() + row.out : row.out;
        for (std::size_t at = out.find("{list}"); at != std::string::npos; at = out.find("{list}", at))
            out.replace(at, 6, scratch.list().string());
        if (out.size() >= 3 && out.compare(out.size() - 3, 3, "...") == 0)
            CHECK(outcome.out.rfind(out.substr(0, out.size() - 3), 0) == 0);
        else
            CHECK(outcome.out == out);
        CAPTURE(outcome.err);
        CHECK(outcome.err.find(row.err) != std::string::npos);
        if (row.listAfter)
            CHECK(readFile(scratch.list()) == *row.listAfter);
        if (row.fileAfter && row.fileAfter->second)
            CHECK(readFile(scratch.dir() / row.fileAfter->first) == *row.fileAfter->second);
        else if (row.fileAfter)
            CHECK(!fs::exists(scratch.dir() / row.fileAfter->first));
    }
}

TEST_CASE("history lists every change, and undo and restore put back the list exactly")
{
    const struct {
        const char* name;
        // each run must succeed; "outside" writes the list, "cut" is an import whose add fails after the
        // history has it, "killed" one killed then
        std::vector<std::vector<std::string>> runs;
        std::vector<std::string> last; // the run checked
        std::string out;               // a part of its output
        std::string listAfter;
    } rows[] = {
        {"undo of an import", {{"import", "people.csv"}}, {"undo"}, "restored the list", itemLines(kAnna)},
        {"undo of an undo",
         {{"import", "people.csv"}, {"undo"}},
         {"undo"},
         "restored",
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""})},
        {"undo of a removal", {{"remove", "--yes", "Anna"}}, {"undo"}, "", itemLines(kAnna)},
        {"undo passes over a change that never reached the list",
         {{"import", "people.csv"}, {"cut"}},
         {"undo"},
         "before change 2",
         itemLines(kAnna)},
        {"undo after a kill cut off the last change, before anything told it was cut",
         {{"import", "people.csv"}, {"killed"}},
         {"undo"},
         "before change 2",
         itemLines(kAnna)},
        {"restore past another program's change",
         {{"import", "people.csv"}, {"outside"}, {"remove", "--yes", "--record", "1"}},
         {"restore", "3"},
         "",
         itemLines(kAnna)},
        {"restore before the other program's change",
         {{"import", "people.csv"}, {"outside"}, {"remove", "--yes", "--record", "1"}},
         {"restore", "2"},
         "",
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""})},
        {"history in words, newest first",
         {{"import", "people.csv"}, {"outside"}, {"remove", "--yes", "Kim"}},
         {"history"},
         "1  ",
         itemLines(kBob)},
        {"history as tab-separated values",
         {{"import", "people.csv"}, {"remove", "--yes", "--any", "0170"}},
         {"history", "--format", "tsv", "--limit", "2"},
         "\ttesselby-contacts\tchange\tremoved Zoë Ng\n2\t",
         itemLines(kAnna)},
        {"a dry run changes nothing",
         {{"import", "people.csv"}},
         {"restore", "--dry-run", "1"},
         "would go:\tZoë\tNg\t0170\t\n",
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""})},
        {"the history's beginning cannot be restored",
         {{"import", "people.csv"}},
         {"history"},
         "2  ",
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""})},
        {"restore at a time before any change",
         {{"import", "people.csv"}},
         {"restore", "--at", "2000-01-01"},
         "",
         itemLines(kAnna) + itemLines({"Zoë", "Ng", "0170", ""})},
    };
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            Scratch scratch;
            writeFile(scratch.list(), itemLines(kAnna));
            writeFile(scratch.dir() / "people.csv", kCsv);
            for (const auto& run : row.runs) {
                if (run.front() == "outside") {
                    writeFile(scratch.list(), itemLines(kBob) + itemLines({"Kim", "Lee", "", ""}));
                    continue;
                }
                if (run.front() == "cut" || run.front() == "killed") {
                    const bool killed = run.front() == "killed";
                    CHECK(scratch
                              .run({"import", "--allow-duplicates", "people.csv"}, {}, nullptr, 0, nullptr,
                                   {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby.txt",
                                    killed ? "TESSELBY_FAULT_ERROR=KILL" : "TESSELBY_FAULT_ERROR=EIO"})
                              .status != 0);
                    continue;
                }
                const Outcome made = scratch.run(run);
                CAPTURE(made.err);
                REQUIRE(made.status == 0);
            }
            const Outcome checked = scratch.run(row.last);
            CAPTURE(checked.err);
            CAPTURE(checked.out);
            if (row.last.back() == "2000-01-01" || row.last == std::vector<std::string>{"history"}) {
                // The history's beginning is listed but is no point to go back to.
                if (row.last.back() == "2000-01-01")
                    CHECK(checked.err.find("is where the history began") != std::string::npos);
            } else {
                CHECK(checked.status == 0);
            }
            CHECK(checked.out.find(row.out) != std::string::npos);
            CHECK(readFile(scratch.list()) == row.listAfter);
        }
    }
}

TEST_CASE("an import that meets a full disk adds nobody, and an export to one says so")
{
    Scratch scratch;
    writeFile(scratch.list(), itemLines(kAnna));
    writeFile(scratch.dir() / "people.vcf", kCard + kCard + kCard);
    const Outcome imported =
        scratch.run({"import", "--allow-duplicates", "people.vcf"}, {}, nullptr, itemLines(kAnna).size() + 40);
    CHECK(imported.status == 1);
    CHECK(imported.err.find(scratch.list().string()) != std::string::npos);
    CHECK(readFile(scratch.list()) == itemLines(kAnna));
    const Outcome exported = scratch.run({"export"}, {}, "/dev/full");
    CHECK(exported.status == 1);
    CHECK(exported.err.find("could not write to standard output") != std::string::npos);
}

TEST_CASE("under a small memory limit each command ends with a message, never an abort, and keeps the list")
{
#if defined(__SANITIZE_ADDRESS__)
    MESSAGE("not run: the address sanitizer reserves more memory than the limits this test sets");
#else
    std::string list, cards;
    for (int i = 0; i < 10000; ++i)
        list += itemLines({"First" + std::to_string(i), "Last", "555 0101", "someone@example.org"});
    for (int i = 0; i < 2000; ++i)
        cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Card;" + std::to_string(i) + ";;;\r\nEND:VCARD\r\n";
    // Long enough to be read in two halves at once, on two threads.
    std::string longCards;
    for (int i = 0; i < 16; ++i)
        longCards += cards;
    const std::vector<std::string> commands[] = {{"--version"},
                                                 {"list", "First1"},
                                                 {"check"},
                                                 {"export"},
                                                 {"export", "-o", "out.csv", "--format", "csv"},
                                                 {"import", "a.vcf"},
                                                 {"import", "long.vcf"}};
    Scratch scratch;
    writeFile(scratch.dir() / "a.vcf", cards);
    writeFile(scratch.dir() / "long.vcf", longCards);
    writeFile(scratch.list(), list);
    int refused = 0, done = 0;
    for (const auto& args : commands) {
        INFO(args.front() << " " << args.back());
        // From below what the system needs to load the program to above what the commands need for this list,
        // so that every place the memory can run out in is met, the program's start among them.
        for (long long limit = 4 << 20; limit <= 14 << 20; limit += 192 << 10) {
            CAPTURE(limit);
            const Outcome outcome = scratch.run(args, {}, nullptr, 0, nullptr, {}, false, limit);
            // 127: the system could not load the program at all, before any of its code ran.
            CHECK((outcome.status == 0 || outcome.status == 1 || outcome.status == 127));
            if (outcome.status == 1) {
                CHECK(outcome.err.find("memory") != std::string::npos);
                ++refused;
            }
            done += outcome.status == 0;
            if (outcome.status != 0 || args.front() != "import")
                CHECK(readFile(scratch.list()) == list);
            else
                writeFile(scratch.list(), list);
        }
    }
    CHECK(refused > 0);
    CHECK(done > 0);
#endif
}

TEST_CASE("an import killed as it writes is taken back at the next use, and check says so")
{
    Scratch scratch;
    writeFile(scratch.list(), itemLines(kAnna));
    writeFile(scratch.dir() / "people.csv", kCsv);
    const std::string zoe = itemLines({"Zoë", "Ng", "0170", ""});
    // Killed once the people are on the disk, before it could say they were added.
    const std::vector<std::string> killedAfterSync = {"TESSELBY_FAULT_CALL=fsync", "TESSELBY_FAULT_FILE=/tesselby.txt",
                                                      "TESSELBY_FAULT_ERROR=KILL", "TESSELBY_FAULT_AFTER=1"};
    CHECK(scratch.run({"import", "people.csv"}, {}, nullptr, 0, nullptr, killedAfterSync).status == 128 + SIGKILL);
    CHECK(readFile(scratch.list()) == itemLines(kAnna) + zoe);
    const Outcome checked = scratch.run({"check"});
    CHECK(checked.status == 0);
    CHECK(checked.out.find("tesselby.txt: an add was stopped before it finished") != std::string::npos);
    CHECK(checked.out.find("tesselby.txt: 1 record\n") != std::string::npos);
    CHECK(readFile(scratch.list()) == itemLines(kAnna));
    CHECK(!fs::exists(scratch.list().string() + ".adding"));

    // The list changed since (text typed at its end): the add's record proves nothing, and is kept and
    // reported, the list left as it is.
    CHECK(scratch.run({"import", "people.csv"}, {}, nullptr, 0, nullptr, killedAfterSync).status == 128 + SIGKILL);
    writeFile(scratch.list(), itemLines(kAnna) + zoe + "\"typed\"\r\n");
    const Outcome setAside = scratch.run({"check"});
    CHECK(setAside.status == 1);
    CHECK(setAside.out.find("an add was stopped") == std::string::npos);
    CHECK(setAside.out.find("tesselby.txt.adding-set-aside-") != std::string::npos);
    CHECK(setAside.out.find("so nothing was taken out") != std::string::npos);
    CHECK(readFile(scratch.list()) == itemLines(kAnna) + zoe + "\"typed\"\r\n");
}

TEST_CASE("exporting and importing into an empty list gives the same list byte for byte")
{
    const std::vector<Record> people = {
        kAnna, kBob, {"Line\r\nbreak", "Semi;colon\\", "  ", "x,y"}, {"", "", "", ""}, {"王", "Zoë", "tel:1", "="}};
    std::string list;
    for (const Record& record : people)
        list += itemLines(record);
    const std::vector<std::vector<std::string>> formats = {
        {"--format", "csv"}, {"--format", "vcard"}, {"--vcard-version", "4.0"}};
    for (const auto& format : formats) {
        INFO(format.back());
        Scratch from, to;
        writeFile(from.list(), list);
        std::vector<std::string> args{"export", "-o", (to.dir() / "export").string()};
        args.insert(args.end(), format.begin(), format.end());
        REQUIRE(from.run(args).status == 0);
        CHECK(to.run({"import", "export"}).status == 0);
        CHECK(readFile(to.list()) == list);
    }
}

TEST_CASE("an import while another process adds keeps every record whole and loses none")
{
    for (const bool allowDuplicates : {true, false}) {
        INFO("allow duplicates: " << allowDuplicates);
        Scratch scratch;
        constexpr int kPeople = 40;
        constexpr int kRounds = 8;
        std::string cards, rows = "First Name,Last Name,Phone,E-Mail\r\n";
        for (int i = 0; i < kPeople; ++i) {
            cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Card;" + std::to_string(i) + ";;;\r\nEND:VCARD\r\n";
            rows += std::to_string(i) + ",Row,,\r\n";
        }
        writeFile(scratch.dir() / "a.vcf", cards);
        writeFile(scratch.dir() / "b.csv", rows);
        std::vector<pid_t> children;
        for (const char* file : {"a.vcf", "b.csv"}) {
            const pid_t child = ::fork();
            if (child == 0) {
                for (int round = 0; round < kRounds; ++round)
                    if (scratch
                            .run(allowDuplicates ? std::vector<std::string>{"import", "--allow-duplicates", file}
                                                 : std::vector<std::string>{"import", file})
                            .status != 0)
                        ::_exit(1);
                ::_exit(0);
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            CHECK((WIFEXITED(status) && WEXITSTATUS(status) == 0));
        }
        const RecordGrid grid = RecordGrid::fromText(readFile(scratch.list()));
        // Without duplicates, each import looks at the list under the lock its append takes.
        REQUIRE(grid.itemCount() == std::size_t(2 * kPeople * (allowDuplicates ? kRounds : 1) * kFieldCount));
        // Each import's people stand together and in their file's order.
        for (std::size_t start = 1; start <= grid.recordCount(); start += kPeople) {
            const std::string source = grid.record(start)[1];
            for (int i = 0; i < kPeople; ++i) {
                const Record record = grid.record(start + i);
                CHECK(record[source == "Row" ? 0 : 1] == (source == "Row" ? std::to_string(i) : "Card"));
                CHECK(record[source == "Row" ? 1 : 0] == (source == "Row" ? "Row" : std::to_string(i)));
            }
        }
    }
}

TEST_CASE("exports to one file, at once or cut off over a file of several names, leave it whole")
{
    const struct {
        const char* name;
        bool killed;
    } rows[] = {{"two at once never fail each other", false}, {"one killed over a file of several names", true}};
    for (const auto& row : rows) {
        SUBCASE(row.name)
        {
            Scratch scratch;
            // Two lists that differ from their first person on, and their exports.
            std::string lists[2], exports[2];
            for (int version = 0; version < 2; ++version) {
                for (int i = 0; i < 40000; ++i)
                    lists[version] +=
                        itemLines({"V" + std::to_string(version) + "-" + std::to_string(i), "Lee", "", ""});
                writeFile(scratch.list(), lists[version]);
                const Outcome exported = scratch.run({"export"});
                REQUIRE(exported.status == 0);
                exports[version] = exported.out;
            }
            const fs::path out = scratch.dir() / "out.vcf";
            if (!row.killed) {
                std::vector<pid_t> children;
                for (int writer = 0; writer < 2; ++writer) {
                    const pid_t child = ::fork();
                    if (child == 0) {
                        for (int round = 0; round < 30; ++round) {
                            const pid_t exporting = scratch.start({"export", "-o", "out.vcf"});
                            int status = 0;
                            ::waitpid(exporting, &status, 0);
                            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                                ::_exit(1);
                        }
                        ::_exit(0);
                    }
                    children.push_back(child);
                }
                for (const pid_t child : children) {
                    int status = 0;
                    ::waitpid(child, &status, 0);
                    CHECK((WIFEXITED(status) && WEXITSTATUS(status) == 0));
                }
                CHECK(readFile(out) == exports[1]);
                continue;
            }
            // A file of two names is rewritten in place; a kill leaves it cut off, and whoever reads it next
            // through Tesselby (an import, or the next export) first puts it back whole.
            REQUIRE(scratch.run({"export", "-o", "out.vcf"}).status == 0);
            fs::create_hard_link(out, scratch.dir() / "second-name.vcf");
            std::mt19937 random(11);
            int cutOff = 0;
            for (int round = 0; round < 30; ++round) {
                CAPTURE(round);
                writeFile(scratch.list(), lists[round % 2]);
                const pid_t exporting = scratch.start({"export", "-o", "out.vcf"});
                // Killed while it rewrites the file: once its guard copy is in place, a moment later.
                const fs::path guard = scratch.dir() / "out.vcf.before-save";
                for (int wait = 0; wait < 100000 && !fs::exists(guard) && ::waitpid(exporting, nullptr, WNOHANG) == 0;
                     ++wait)
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
                ::kill(exporting, SIGKILL);
                ::waitpid(exporting, nullptr, 0);
                const std::string left = readFile(out);
                cutOff += left != exports[0] && left != exports[1] ? 1 : 0;
                Scratch other;
                REQUIRE(other.run({"import", out.string()}).status == 0);
                const std::string imported = readFile(other.list());
                CHECK((imported == lists[0] || imported == lists[1]));
                CHECK((readFile(out) == exports[0] || readFile(out) == exports[1]));
                CHECK(readFile(scratch.dir() / "second-name.vcf") == readFile(out));
            }
            MESSAGE(cutOff << " of 30 kills left the file cut off until the import put it back");
        }
    }
}
