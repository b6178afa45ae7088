#include "SyncCommand.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "CardDavServer.h"
#include "DataFile.h"
#include "ProgressLine.h"
#include "Sync.h"
#include "SyncState.h"
#include "disk/DataFilePath.h"
#include "disk/NativeFile.h"

namespace tesselby {

namespace {

constexpr char kDefaultPasswordVariable[] = "TESSELBY_SYNC_PASSWORD";
constexpr char kSettingsName[] = "sync.conf";

// The settings kept between runs; never a password, only where to get it.
using Settings = std::map<std::string, std::string>;
Result<Settings> readSettings(const std::filesystem::path& path)
{
    Settings settings;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return settings;
    // A file that is there but cannot be read is said so, not taken for a first sync's missing one.
    Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::Read);
    if (!file)
        return file.error();
    Result<std::string> content = file.value().readAll();
    if (!content)
        return content.error();
    std::istringstream in(content.value());
    std::string line;
    // A hand-edited file may put spaces around the '=' or end its lines with CR LF.
    const auto trimmed = [](std::string_view text) {
        constexpr std::string_view blank = " \t\r";
        const std::size_t from = text.find_first_not_of(blank);
        return from == std::string_view::npos ? std::string()
                                              : std::string(text.substr(from, text.find_last_not_of(blank) + 1 - from));
    };
    while (std::getline(in, line)) {
        const std::size_t equals = line.find('=');
        const std::string name = trimmed(std::string_view(line).substr(0, equals));
        if (name.empty() || name.front() == '#' || equals == std::string::npos)
            continue;
        settings[name] = trimmed(std::string_view(line).substr(equals + 1));
    }
    return settings;
}

Status writeSettings(const std::filesystem::path& path, const Settings& settings)
{
    std::string text = "# tesselby-contacts sync: written by the program; the password is never kept here\n";
    for (const auto& [name, value] : settings)
        if (!value.empty() && value.find('\n') == std::string::npos)
            text += name + '=' + value + '\n';
    return writePrivateFile(path, text);
}

std::optional<std::string> commandOutput(const std::string& command, std::string& why)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        why = "the password command could not be started";
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0 && out.size() < 65536)
        out.append(buffer, got);
    const int status = ::pclose(pipe);
    if (status != 0) {
        why = "the password command failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        return std::nullopt;
    }
    if (out.empty() || out.front() == '\n' || out.front() == '\r') {
        why = "the password command printed no password";
        return std::nullopt;
    }
    return out;
}

std::string firstLine(std::string text)
{
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

std::optional<std::string> password(const Settings& settings, std::string& why)
{
    if (const auto command = settings.find("password-command"); command != settings.end()) {
        std::optional<std::string> out = commandOutput(command->second, why);
        return out ? std::optional(firstLine(*out)) : std::nullopt;
    }
    if (const auto file = settings.find("password-file"); file != settings.end()) {
        struct stat info {};
        if (::stat(file->second.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            why = file->second + ": the password file cannot be read";
            return std::nullopt;
        }
        if (info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
            why = file->second + ": the password file may be read by others; make it yours alone (chmod 600)";
            return std::nullopt;
        }
        std::ifstream in(file->second, std::ios::binary);
        std::string line;
        if (!std::getline(in, line) || firstLine(line).empty()) {
            why = file->second + ": the password file holds no password";
            return std::nullopt;
        }
        return firstLine(line);
    }
    const auto name = settings.find("password-env");
    const std::string variable = name != settings.end() ? name->second : kDefaultPasswordVariable;
    if (const char* value = std::getenv(variable.c_str()))
        return std::string(value);
    if (name != settings.end()) {
        why = "the variable " + variable + " that should hold the password is not set";
        return std::nullopt;
    }
    return std::string();
}

constexpr char kUsage[] =
    "sync [--url URL] [--user NAME] [--password-command CMD | --password-file FILE | --password-env NAME] "
    "[--addressbook NAME] [--ca-file FILE] [--conflict keep|local|remote|ask] [--dry-run] [--verbose] "
    "[--allow-mass-removal]";

} // namespace

int runSync(std::span<const std::string> args, CommandStreams streams)
{
    const std::filesystem::path settingsPath = configFolder() / kSettingsName;
    Result<Settings> read = readSettings(settingsPath);
    if (!read) {
        reportFailure(streams.err, read.error(), "cannot read the sync's settings; nothing was changed");
        return kExitProblem;
    }
    Settings settings = std::move(read.value());
    Settings given;
    SyncOptions options;
    bool verbose = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (isHelp(arg)) {
            streams.out << "usage: " << kCommandName << ' ' << kUsage << '\n';
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
        if (arg == "--dry-run") {
            options.dryRun = true;
            continue;
        }
        if (arg == "--verbose") {
            verbose = true;
            continue;
        }
        if (arg == "--allow-mass-removal") {
            options.allowMassRemoval = true;
            continue;
        }
        if (arg == "--password") // never on the command line, where other users see it
            return usageError(streams.err, "a password is never given on the command line: use --password-command, "
                                           "--password-file or --password-env");
        std::optional<std::string> url, user, command, file, variable, book, caFile, conflict;
        const Result<bool, std::string> taken = takeOption(args, at,
                                                           {{"--url", &url},
                                                            {"--user", &user},
                                                            {"--password-command", &command},
                                                            {"--password-file", &file},
                                                            {"--password-env", &variable},
                                                            {"--addressbook", &book},
                                                            {"--ca-file", &caFile},
                                                            {"--conflict", &conflict}});
        if (!taken)
            return usageError(streams.err, taken.error());
        if (!taken.value())
            return usageError(streams.err, "sync does not take '" + arg + "'; it takes " + kUsage);
        for (const auto& [name, value] : {std::pair{"url", &url},
                                          {"user", &user},
                                          {"password-command", &command},
                                          {"password-file", &file},
                                          {"password-env", &variable},
                                          {"addressbook", &book},
                                          {"ca-file", &caFile},
                                          {"conflict", &conflict}})
            if (*value)
                given[name] = **value;
    }
    if (const auto conflict = given.find("conflict"); conflict != given.end()) {
        if (conflict->second == "local")
            options.conflict = ConflictChoice::Local;
        else if (conflict->second == "remote")
            options.conflict = ConflictChoice::Remote;
        else if (conflict->second == "ask")
            options.conflict = ConflictChoice::Ask;
        else if (conflict->second != "keep")
            return usageError(streams.err, "--conflict takes keep, local, remote or ask");
        // A way of settling this run's conflicts, never kept: a timer's sync must not wait for an answer.
        given.erase(conflict);
    }
    // A new server, or another address book, is found again; the way to the password replaces the old.
    const bool newPlace = given.contains("url") || given.contains("addressbook");
    if (newPlace)
        settings.erase("addressbook-url");
    if (given.contains("password-command") || given.contains("password-file") || given.contains("password-env")) {
        settings.erase("password-command");
        settings.erase("password-file");
        settings.erase("password-env");
    }
    for (auto& [name, value] : given)
        settings[name] = value;
    // user:password@ in the URL would be kept in the settings and shown by --verbose.
    if (const auto url = settings.find("url"); url != settings.end() && url->second.find("://") != std::string::npos) {
        std::string_view authority = std::string_view(url->second).substr(url->second.find("://") + 3);
        authority = authority.substr(0, authority.find('/'));
        if (const std::size_t at = authority.rfind('@');
            at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos)
            return usageError(streams.err, "a password is never given in the URL: use --password-command, "
                                           "--password-file or --password-env");
    }
    if (options.conflict == ConflictChoice::Ask) {
        if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0)
            return usageError(streams.err, "--conflict ask asks on a terminal, and this is none: use --conflict keep, "
                                           "local or remote");
        options.answers = &streams.in;
    }
    if (!settings.contains("url")) {
        streams.err << kCommandName << ": no server yet: the first sync needs --url URL and --user NAME\n";
        return kExitUsage;
    }

    std::string why;
    const std::optional<std::string> secret = password(settings, why);
    if (!secret) {
        streams.err << kCommandName << ": " << why << "; nothing was changed\n";
        return kExitProblem;
    }
    // On a terminal, a line counts the cards; every other line written clears it first.
    std::optional<ProgressLine> progress;
    if (::isatty(STDERR_FILENO) != 0) {
        progress.emplace(streams.err, streams.out, streams.err);
        options.progress = &*progress;
    }
    std::ostream& out = progress ? progress->out() : streams.out;
    std::ostream& err = progress ? progress->err() : streams.err;
    HttpSettings http;
    http.user = settings["user"];
    http.password = *secret;
    http.caFile = settings["ca-file"];
    // How long a silent server is waited for; short in the tests.
    if (const char* seconds = std::getenv("TESSELBY_SYNC_TIMEOUT"); seconds != nullptr && std::atoi(seconds) > 0)
        http.timeout = std::chrono::seconds(std::atoi(seconds));
    if (verbose)
        http.log = &err;
    HttpClient client(http);

    std::string book = settings["addressbook-url"];
    if (book.empty()) {
        CardDavServer server(client);
        const std::optional<std::vector<AddressBookFound>> found = server.discover(settings["url"], why);
        if (!found) {
            streams.err << kCommandName << ": " << why << "; nothing was changed\n";
            return kExitProblem;
        }
        const std::string& wanted = settings["addressbook"];
        std::vector<AddressBookFound> chosen;
        for (const AddressBookFound& candidate : *found) {
            std::string last = urlPathKey(candidate.url);
            while (!last.empty() && last.back() == '/')
                last.pop_back();
            last = last.substr(last.rfind('/') + 1);
            if (wanted.empty() || candidate.name == wanted || last == wanted)
                chosen.push_back(candidate);
        }
        if (chosen.size() != 1) {
            streams.err << kCommandName << ": "
                        << (found->empty()   ? "the server holds no address book for the user"
                            : chosen.empty() ? "no address book is named '" + wanted + "'"
                                             : std::string("the server holds several address books"))
                        << "; choose one with --addressbook NAME:\n";
            for (const AddressBookFound& candidate : *found)
                streams.err << "  " << (candidate.name.empty() ? "(no name)" : candidate.name) << "\t" << candidate.url
                            << '\n';
            return kExitUsage;
        }
        book = chosen.front().url;
        options.cardVersion = chosen.front().cardVersion;
        if (!book.ends_with('/'))
            book += '/';
        settings["addressbook-url"] = book;
    }
    if (!options.dryRun)
        if (Status saved = writeSettings(settingsPath, settings); !saved)
            reportFailure(streams.err, saved.error(), "cannot keep the sync's settings");

    options.addressBook = book;
    options.list = dataFilePath(kDataFileWritePath);
    options.state = stateFolder() / "sync-state";
    const SyncOutcome outcome = syncAddressBook(client, options, out, err);
    if (progress)
        progress->clear();
    if (verbose)
        streams.err << client.requestCount() << " requests\n";
    const int status = outcome == SyncOutcome::Done        ? kExitSuccess
                       : outcome == SyncOutcome::Conflicts ? kExitConflicts
                                                           : kExitProblem;
    return finishOutput(streams.out, streams.err, status);
}

} // namespace tesselby
