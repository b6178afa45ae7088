#include "ContactCommands.h"

#include <new>
#include <ostream>

#include "history/ListHistory.h"

namespace tesselby {

namespace {

constexpr char kHelp[] = R"(Usage: tesselby-contacts COMMAND [OPTION]... [ARGUMENT]...
Brings people into Tesselby's address list and takes them out, checks the list and searches it.

Commands:
  import [--dry-run] [--allow-duplicates] FILE...
                               add every person in vCard (2.1, 3.0, 4.0) or CSV files, in file order,
                               but those already in the list (all four values equal); - reads
                               standard input; --dry-run prints them and adds nothing;
                               --allow-duplicates adds them all
  export [--format vcard|csv] [--vcard-version 3.0|4.0] [--spreadsheet-safe] [-o FILE]
                               write every person as vCards (3.0 unless told) or as CSV, to FILE
                               or to standard output; --spreadsheet-safe puts ' before CSV values
                               a spreadsheet would run as formulas
  sync [--url URL --user NAME] [--password-command CMD | --password-file FILE | --password-env NAME]
       [--addressbook NAME] [--ca-file FILE] [--conflict keep|local|remote|ask] [--dry-run] [--verbose]
       [--allow-mass-removal]
                               keep the list and an address book on a CardDAV server the same, both
                               ways; the settings are kept for the next bare 'sync' (never the
                               password); exit status 3 when people changed on both sides were
                               left as they were; --conflict ask asks, person by person, on a
                               terminal (--conflict is never kept)
  check                        count the records and report items the program never writes
  list [-i] [--field first|last|phone|email | --any] [--format tab|mutt|aerc] [TEXT]
                               print the people whose field (first name unless told; --any: any
                               of the four) contains TEXT, case-sensitive unless -i
                               (--ignore-case); no TEXT lists everyone with that field filled;
                               mutt and aerc give a mail client's query, names and e-mail
                               searched without case; exit status 1 when nobody is found

  remove [-i] [--field first|last|phone|email | --any] [--yes] [--dry-run] TEXT
  remove [--yes] [--dry-run] --record N
                               take out the people list would find for TEXT, or record N as the
                               browse screen numbers them; asks first on a terminal (--yes for
                               scripts); exit status 1 when nobody matches
  history [--since "YYYY-MM-DD HH:MM"] [--limit N] [--format text|tsv]
                               every change to the list of the last 30 days (at least the last
                               200), newest first and numbered, by any of Tesselby's programs
  undo [--dry-run]             take back the last change
  restore [--dry-run] N | --at "YYYY-MM-DD HH:MM"
                               put back the list as it stood before change N, or at that time;
                               --dry-run prints who would come back and who would go

  -h, --help                   show this help
  --version                    show the version

The list is $XDG_DATA_HOME/tesselby/tesselby.txt (~/.local/share/tesselby/tesselby.txt); writes take
the same lock as the program. Exit status: 0 success, 1 a problem found (or nobody, for list), 2 wrong usage.
See tesselby-contacts(1) for how cards and columns become people.
)";

} // namespace

int usageError(std::ostream& err, std::string_view message)
{
    err << kCommandName << ": " << message << "\nTry '" << kCommandName << " --help'.\n";
    return kExitUsage;
}

Result<bool, std::string> takeOption(std::span<const std::string> args, std::size_t& at,
                                     std::initializer_list<ValuedOption> options)
{
    const std::string_view arg = args[at];
    for (const ValuedOption& option : options) {
        const std::string_view name = option.name;
        if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
            *option.value = std::string(arg.substr(name.size() + 1));
            return true;
        }
        if (arg != name)
            continue;
        if (at + 1 == args.size())
            return "the option " + std::string(name) + " needs a value";
        *option.value = args[++at];
        return true;
    }
    return false;
}

bool isHelp(std::string_view arg)
{
    return arg == "-h" || arg == "--help";
}

void printHelp(std::ostream& out)
{
    out << kHelp;
}

void reportFailure(std::ostream& err, const FileError& error, std::string_view doing)
{
    err << kCommandName << ": " << error.path << ": ";
    if (!doing.empty())
        err << doing << ": ";
    err << error.reason() << '\n';
}

std::string oneLine(std::string_view value)
{
    std::string line;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;
        line += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    }
    return line;
}

std::string recordLine(const Record& record)
{
    std::string line;
    for (int field = 0; field < kFieldCount; ++field) {
        if (field > 0)
            line += '\t';
        line += oneLine(record[field]);
    }
    return line;
}

int finishOutput(std::ostream& out, std::ostream& err, int status)
{
    out.flush();
    if (out)
        return status;
    err << kCommandName << ": could not write to standard output\n";
    return kExitProblem;
}

std::string peopleCount(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " person" : " people");
}

namespace {

int runCommand(std::span<const std::string> args, std::string_view version, CommandStreams streams)
{
    if (args.empty())
        return usageError(streams.err,
                          "a command is needed: import, export, check, list, remove, history, undo or restore");
    const std::string& command = args.front();
    if (isHelp(command)) {
        printHelp(streams.out);
        return finishOutput(streams.out, streams.err, kExitSuccess);
    }
    if (command == "--version") {
        streams.out << kCommandName << ' ' << version << '\n';
        return finishOutput(streams.out, streams.err, kExitSuccess);
    }
    const std::span<const std::string> rest = args.subspan(1);
    for (const std::string& arg : rest) {
        if (arg == "--")
            break;
        if (isHelp(arg)) {
            printHelp(streams.out);
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
    }
    if (command == "import")
        return runImport(rest, streams);
    if (command == "export")
        return runExport(rest, streams);
    if (command == "check")
        return runCheck(rest, streams);
    if (command == "list")
        return runList(rest, streams);
    if (command == "remove")
        return runRemove(rest, streams);
    if (command == "history")
        return runHistory(rest, streams);
    if (command == "undo")
        return runUndo(rest, streams);
    if (command == "restore")
        return runRestore(rest, streams);
    if (command == "sync") // reached only where the program was built without it
        return usageError(streams.err, "this build of tesselby-contacts has no sync (it needs libcurl and expat)");
    return usageError(streams.err, "there is no command '" + command +
                                       "'; the commands are import, export, "
                                       "check, list, remove, history, undo and restore");
}

} // namespace

int runContactsCommand(std::span<const std::string> args, std::string_view version, CommandStreams streams)
{
    // The commands say which file was too large where it can be told; this catches what is left, so that
    // running out of memory is a message and not an abort. Every other exception is a fault, left to end
    // the program loudly.
    setHistoryProgram(kCommandName);
    try {
        const int status = runCommand(args, version, streams);
        // What the history had to set aside is said once, by the run that found it.
        for (const std::string& notice : takeHistoryNotices())
            streams.err << kCommandName << ": warning: " << notice << '\n';
        return status;
    } catch (const std::bad_alloc&) {
        streams.err << kCommandName << ": " << kOutOfMemory << '\n';
        return kExitProblem;
    }
}

} // namespace tesselby
