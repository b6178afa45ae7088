#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>
#include <optional>
#include <ostream>
#include <tuple>
#include <utility>

#include "ContactCommands.h"
#include "DataFile.h"
#include "disk/DataFilePath.h"
#include "disk/FileSystem.h"
#include "history/HistoryLog.h"
#include "history/ListHistory.h"

namespace tesselby {

namespace {

constexpr char kNoHistory[] = "there is no history of the list yet: it begins with the first change";
constexpr char kBeganHere[] = "is where the history began: the list before it is not known";
constexpr char kTimeFormat[] = "the time is \"YYYY-MM-DD HH:MM\" (or \"YYYY-MM-DD\"), not ";

using Change = ListHistory::Change;

// Local "YYYY-MM-DD[ HH:MM]" as seconds since 1970.
std::optional<std::int64_t> parseLocalTime(std::string_view text)
{
    int numbers[5] = {0, 0, 0, 0, 0};
    const char separators[5] = {'\0', '-', '-', ' ', ':'};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    int given = 0;
    for (int n = 0; n < 5 && at != end; ++n, ++given) {
        if (n > 0 && *at++ != separators[n])
            return std::nullopt;
        // Digits only: from_chars would take "-1" as an hour, which mktime then moves to the day before.
        if (at == end || *at < '0' || *at > '9')
            return std::nullopt;
        const auto [next, failed] = std::from_chars(at, end, numbers[n]);
        if (failed != std::errc())
            return std::nullopt;
        at = next;
    }
    if (at != end || (given != 3 && given != 5))
        return std::nullopt;
    std::tm local{};
    local.tm_year = numbers[0] - 1900;
    local.tm_mon = numbers[1] - 1;
    local.tm_mday = numbers[2];
    local.tm_hour = numbers[3];
    local.tm_min = numbers[4];
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour > 23 ||
        local.tm_min > 59)
        return std::nullopt;
    const std::time_t seconds = std::mktime(&local);
    // A day the month does not have ("2026-02-31") is moved into the next month by mktime: refused.
    if (seconds == static_cast<std::time_t>(-1) || local.tm_mday != numbers[2] || local.tm_mon != numbers[1] - 1)
        return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

std::filesystem::path listTarget()
{
    const std::filesystem::path list = dataFilePath(kDataFileWritePath);
    const Result<std::filesystem::path> target = finalTarget(list);
    return target ? target.value() : list;
}

// The history's changes, newest first; false, said on err, when there are none to read.
bool readChanges(std::vector<Change>& changes, std::ostream& err)
{
    Result<std::vector<Change>> read = ListHistory::changes(listTarget());
    if (!read) {
        if (read.error().cause == FileError::Cause::Missing)
            err << kCommandName << ": " << kNoHistory << '\n';
        else
            reportFailure(err, read.error(), "the history could not be read");
        return false;
    }
    changes.assign(read.value().rbegin(), read.value().rend());
    return true;
}

std::string kindName(Change::Kind kind)
{
    switch (kind) {
    case Change::Kind::Began:
        return "began";
    case Change::Kind::Outside:
        return "outside";
    case Change::Kind::Change:
        break;
    }
    return "change";
}

// Who stands in one list and not in the other, person by person.
void printDifference(const std::string& now, const std::string& then, std::ostream& out)
{
    std::map<Record, long> count;
    const RecordGrid current = RecordGrid::fromText(now);
    const RecordGrid restored = RecordGrid::fromText(then);
    for (std::size_t r = 1; r <= current.recordCount(); ++r)
        --count[current.record(r)];
    for (std::size_t r = 1; r <= restored.recordCount(); ++r)
        ++count[restored.record(r)];
    std::size_t back = 0, gone = 0;
    for (const auto& [record, n] : count)
        for (long i = 0; i < n; ++i, ++back)
            out << "would come back:\t" << recordLine(record) << '\n';
    for (const auto& [record, n] : count)
        for (long i = 0; i < -n; ++i, ++gone)
            out << "would go:\t" << recordLine(record) << '\n';
    if (back == 0 && gone == 0)
        out << (now == then ? "the list would not change\n"
                            : "the same people would stay; only how the list is written would change\n");
}

// The newest change that reached the list, and its number as history shows it; none when there is none
// but the beginning. A change cut off before it reached the list is passed over: undone, it would leave
// the list as it is, and every undo after it would meet it again.
std::optional<std::pair<Change, std::size_t>> newestMade(const std::vector<Change>& changes)
{
    const auto last = std::find_if(changes.begin(), changes.end(), [](const Change& c) { return c.madeIt; });
    if (last == changes.end() || last->kind == Change::Kind::Began)
        return std::nullopt;
    return std::pair(*last, static_cast<std::size_t>(last - changes.begin()) + 1);
}

// Puts back the list as it stood before change, or prints what that would do. For an undo the change is
// chosen again under the list's lock, once a change a kill cut off is told as such and another program's
// change since is in the history: the undo takes back the newest change as it then stands.
int restoreBefore(Change change, std::size_t number, bool dryRun, bool undo, CommandStreams streams)
{
    if (change.kind == Change::Kind::Began) {
        streams.err << kCommandName << ": change " << number << ' ' << kBeganHere << '\n';
        return kExitProblem;
    }
    const std::filesystem::path target = listTarget();
    Result<std::string> then = ListHistory::listBefore(target, change.sequence);
    if (!then) {
        reportFailure(streams.err, then.error(), "the list could not be rebuilt");
        return kExitProblem;
    }
    if (dryRun) {
        const Result<std::string> now = readDataFile(target);
        if (!now) {
            reportFailure(streams.err, now.error(), "could not be read");
            return kExitProblem;
        }
        printDifference(now.value(), then.value(), streams.out);
        return finishOutput(streams.out, streams.err, kExitSuccess);
    }
    std::string when = localTimeText(change.time);
    const Status restored = rewriteList(target, [&](const std::string& now) -> Result<std::optional<ListRewrite>> {
        if (undo) {
            const Result<std::vector<Change>> read = ListHistory::changes(target);
            if (!read)
                return read.error();
            const std::optional<std::pair<Change, std::size_t>> newest =
                newestMade(std::vector<Change>(read.value().rbegin(), read.value().rend()));
            if (!newest)
                return FileError{target, "there is no change to undo"};
            if (newest->first.sequence != change.sequence) {
                std::tie(change, number) = *newest;
                when = localTimeText(change.time);
                then = ListHistory::listBefore(target, change.sequence);
                if (!then)
                    return then.error();
            }
        }
        if (now == then.value())
            return std::optional<ListRewrite>();
        return std::optional<ListRewrite>(ListRewrite{then.value(), "restored the list of " + when});
    });
    if (!restored) {
        reportFailure(streams.err, restored.error(), "the list was not restored");
        return kExitProblem;
    }
    streams.out << "restored the list as it stood before change " << number << " (" << when << ")\n";
    return finishOutput(streams.out, streams.err, kExitSuccess);
}

} // namespace

int runHistory(std::span<const std::string> args, CommandStreams streams)
{
    std::optional<std::string> since, limit, format;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const Result<bool, std::string> taken =
            takeOption(args, at, {{"--since", &since}, {"--limit", &limit}, {"--format", &format}});
        if (!taken)
            return usageError(streams.err, taken.error());
        if (!taken.value()) {
            return usageError(streams.err, "history has no argument " + args[at]);
        }
    }
    std::optional<std::int64_t> from;
    if (since && !(from = parseLocalTime(*since)))
        return usageError(streams.err, kTimeFormat + *since);
    std::size_t most = SIZE_MAX;
    if (limit) {
        const auto [end, failed] = std::from_chars(limit->data(), limit->data() + limit->size(), most);
        if (failed != std::errc() || end != limit->data() + limit->size())
            return usageError(streams.err, "the limit is a number, not " + *limit);
    }
    const bool tsv = format && *format == "tsv";
    if (format && !tsv && *format != "text")
        return usageError(streams.err, "the format is text or tsv, not " + *format);
    std::vector<Change> changes;
    if (!readChanges(changes, streams.err))
        return kExitProblem;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < changes.size() && shown < most; ++i) {
        const Change& change = changes[i];
        if (from && change.time < *from)
            break;
        ++shown;
        const std::string cut = change.madeIt ? "" : " (cut off: it never reached the list)";
        if (tsv)
            streams.out << i + 1 << '\t' << change.time << '\t' << localTimeText(change.time) << '\t'
                        << oneLine(change.program) << '\t' << kindName(change.kind) << '\t'
                        << oneLine(change.description) << cut << '\n';
        else
            streams.out << i + 1 << "  " << localTimeText(change.time) << "  " << change.program << "  "
                        << change.description << cut << '\n';
    }
    // What the history had to set aside is said here too, for as long as it is kept.
    const std::filesystem::path kept = HistoryLog::pathFor(listTarget());
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(kept.parent_path(), failed)) {
        const std::string name = pathText(entry.path().filename());
        if (name.starts_with(pathText(kept.filename()) + ".set-aside-"))
            streams.err << kCommandName << ": an earlier history that could not be used is kept as "
                        << pathText(entry.path()) << '\n';
    }
    return finishOutput(streams.out, streams.err, kExitSuccess);
}

int runUndo(std::span<const std::string> args, CommandStreams streams)
{
    bool dryRun = false;
    for (const std::string& arg : args) {
        if (arg == "--dry-run")
            dryRun = true;
        else
            return usageError(streams.err, "undo has no argument " + arg);
    }
    std::vector<Change> changes;
    if (!readChanges(changes, streams.err))
        return kExitProblem;
    const std::optional<std::pair<Change, std::size_t>> last = newestMade(changes);
    if (!last) {
        streams.err << kCommandName << ": there is no change to undo\n";
        return kExitProblem;
    }
    return restoreBefore(last->first, last->second, dryRun, true, streams);
}

int runRestore(std::span<const std::string> args, CommandStreams streams)
{
    bool dryRun = false;
    std::optional<std::string> at, numberText;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Result<bool, std::string> taken = takeOption(args, i, {{"--at", &at}});
        if (!taken)
            return usageError(streams.err, taken.error());
        if (taken.value())
            continue;
        if (args[i] == "--dry-run") {
            dryRun = true;
        } else if (!numberText && !args[i].starts_with("-")) {
            numberText = args[i];
        } else {
            return usageError(streams.err, "restore has no argument " + args[i]);
        }
    }
    if (at.has_value() == numberText.has_value())
        return usageError(streams.err, "restore takes a change's number or --at \"YYYY-MM-DD HH:MM\"");
    std::size_t number = 0;
    std::optional<std::int64_t> time;
    if (numberText) {
        const auto [end, failed] = std::from_chars(numberText->data(), numberText->data() + numberText->size(), number);
        if (failed != std::errc() || end != numberText->data() + numberText->size() || number == 0)
            return usageError(streams.err, "the change's number is one that history shows, not " + *numberText);
    } else if (!(time = parseLocalTime(*at))) {
        return usageError(streams.err, kTimeFormat + *at);
    }
    std::vector<Change> changes;
    if (!readChanges(changes, streams.err))
        return kExitProblem;
    if (numberText) {
        if (number > changes.size()) {
            streams.err << kCommandName << ": the history holds " << changes.size() << " changes, not " << number
                        << '\n';
            return kExitProblem;
        }
    } else {
        // The list as it stood then is the list before the first change made after that minute.
        const std::int64_t after = *time + 59;
        for (std::size_t i = 0; i < changes.size() && changes[i].time > after; ++i)
            number = i + 1;
        if (number == 0) {
            streams.out << "the list has not changed since then\n";
            return finishOutput(streams.out, streams.err, kExitSuccess);
        }
    }
    return restoreBefore(changes[number - 1], number, dryRun, false, streams);
}

} // namespace tesselby
