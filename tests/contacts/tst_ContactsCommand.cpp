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
#include "RecordGrid.h"

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

    // Runs the command; sizeLimit, when set, is a full disk that many bytes into any file. Standard
    // input and output are input and .out unless paths are given for them, an empty one a closed stream.
    Outcome run(const std::vector<std::string>& args, const std::string& input = {}, const char* stdoutPath = nullptr,
                long long sizeLimit = 0, const char* stdinPath = nullptr) const
    {
        writeFile(m_dir / ".in", input);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
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
            if (sizeLimit > 0) {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(sizeLimit), static_cast<rlim_t>(sizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
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
        {{"check", "x"}, "", "", "no argument x", 2},
        {{"import", "missing.vcf"}, "", "", "missing.vcf: could not be read", 1},
        {{"import", "broken.vcf", "people.csv"},
         itemLines(kAnna),
         "",
         "broken.vcf:1: ",
         1,
         itemLines(kAnna) + itemLines({"Kim", "Lee", "", "kim@example.com"}) + itemLines({"Zoë", "Ng", "0170", ""})},
        {{"import", "-"},
         "\"A\"\r\n\"B",
         "",
         "-: 1 person added",
         0,
         "\"A\"\r\n\"B\"\r\n\"\"\r\n\"\"\r\n" + itemLines({"Kim", "Lee", "", "kim@example.com"}),
         kCard},
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
         "the address list's copy",
         1,
         itemLines(kAnna)},
        {{"export", "-o", "read-only.vcf"}, itemLines(kAnna), "", "read-only.vcf: not written: Permission denied", 1},
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
        const Outcome outcome = scratch.run(row.args, row.input, row.stdoutPath, 0, row.stdinPath);
        CHECK(outcome.status == row.status);
        if (row.out.size() >= 3 && row.out.compare(row.out.size() - 3, 3, "...") == 0)
            CHECK(outcome.out.rfind(row.out.substr(0, row.out.size() - 3), 0) == 0);
        else if (row.out.rfind('/', 0) == 0)
            CHECK(outcome.out == scratch.dir().string() + row.out);
        else
            CHECK(outcome.out == row.out);
        CHECK(outcome.err.find(row.err) != std::string::npos);
        if (row.listAfter)
            CHECK(readFile(scratch.list()) == *row.listAfter);
    }
}

TEST_CASE("an import that meets a full disk adds nobody, and an export to one says so")
{
    Scratch scratch;
    writeFile(scratch.list(), itemLines(kAnna));
    writeFile(scratch.dir() / "people.vcf", kCard + kCard + kCard);
    const Outcome imported = scratch.run({"import", "people.vcf"}, {}, nullptr, itemLines(kAnna).size() + 40);
    CHECK(imported.status == 1);
    CHECK(imported.err.find(scratch.list().string()) != std::string::npos);
    CHECK(readFile(scratch.list()) == itemLines(kAnna));
    const Outcome exported = scratch.run({"export"}, {}, "/dev/full");
    CHECK(exported.status == 1);
    CHECK(exported.err.find("could not write to standard output") != std::string::npos);
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
                if (scratch.run({"import", file}).status != 0)
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
    REQUIRE(grid.itemCount() == std::size_t(2 * kPeople * kRounds * kFieldCount));
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
