#pragma once

#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Result.h"
#include "disk/FileError.h"
#include "records/Record.h"

namespace tesselby {

// What the command's exit status says.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitProblem = 1;
inline constexpr int kExitUsage = 2;

inline constexpr char kCommandName[] = "tesselby-contacts";
inline constexpr char kOutOfMemory[] = "stopped: it needs more memory than the program may take";

// The standard streams a run writes to and reads from; the tests give their own.
struct CommandStreams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

// Runs the command line after the program's name; version is what --version prints.
int runContactsCommand(std::span<const std::string> args, std::string_view version, CommandStreams streams);

// The subcommands, given what follows their name.
int runImport(std::span<const std::string> args, CommandStreams streams);
int runExport(std::span<const std::string> args, CommandStreams streams);
int runCheck(std::span<const std::string> args, CommandStreams streams);
int runList(std::span<const std::string> args, CommandStreams streams);
int runRemove(std::span<const std::string> args, CommandStreams streams);
int runHistory(std::span<const std::string> args, CommandStreams streams);
int runUndo(std::span<const std::string> args, CommandStreams streams);
int runRestore(std::span<const std::string> args, CommandStreams streams);

// Shared by the subcommands.

// Says what was wrong with the command line, and where help is; returns kExitUsage.
int usageError(std::ostream& err, std::string_view message);
// An option that takes a value, and where its value goes.
struct ValuedOption {
    std::string_view name;
    std::optional<std::string>* value;
};
// Whether args[at] is one of options, given as "name value" or "name=value": its value is then set and
// at moved past it. A value missing is a usage error, in words.
Result<bool, std::string> takeOption(std::span<const std::string> args, std::size_t& at,
                                     std::initializer_list<ValuedOption> options);
bool isHelp(std::string_view arg);
void printHelp(std::ostream& out);
// "FILE: reason" for a failure of the data layer.
void reportFailure(std::ostream& err, const FileError& error, std::string_view doing = {});
// A record on one line, its fields tab-separated, each tab and line break in a value a space.
std::string recordLine(const Record& record);
std::string oneLine(std::string_view value);
// Ends a run that wrote to out: kExitProblem, said on err, when out could not take it all.
int finishOutput(std::ostream& out, std::ostream& err, int status);
std::string peopleCount(std::size_t count);

} // namespace tesselby
