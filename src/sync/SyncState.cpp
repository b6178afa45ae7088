#include "SyncState.h"

#include <cstdlib>
#include <system_error>

#include "DataFile.h"
#include "disk/NativeFile.h"

namespace tesselby {

namespace {

constexpr std::string_view kFirstLine = "tesselby-sync 1";

void appendField(std::string& out, std::string_view value)
{
    out += '\t';
    for (const char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

std::optional<std::vector<std::string>> splitFields(std::string_view line)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\') {
            if (++i == line.size())
                return std::nullopt;
            switch (line[i]) {
            case '\\':
                fields.back() += '\\';
                break;
            case 't':
                fields.back() += '\t';
                break;
            case 'n':
                fields.back() += '\n';
                break;
            case 'r':
                fields.back() += '\r';
                break;
            default:
                return std::nullopt;
            }
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::filesystem::path xdgFolder(const char* variable, const char* fallback)
{
    const char* set = std::getenv(variable);
    // The base directory rules ignore a relative path.
    if (set != nullptr && set[0] == '/')
        return std::filesystem::path(set) / "tesselby";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "") / fallback / "tesselby";
}

// The state's lines before its links.
std::string stateHead(const SyncState& state)
{
    std::string out(kFirstLine);
    out += "\nbook";
    appendField(out, state.addressBook);
    if (!state.list.empty()) {
        out += "\nlist";
        appendField(out, state.list);
    }
    out += "\ntoken";
    appendField(out, state.syncToken);
    out += '\n';
    if (!state.cardVersion.empty()) {
        out += "vcard";
        appendField(out, state.cardVersion);
        out += '\n';
    }
    return out;
}

} // namespace

void appendStateLine(std::string& out, std::string_view kind, std::string_view href, std::string_view etag,
                     std::string_view uid, const Record& values)
{
    out += kind;
    appendField(out, href);
    appendField(out, etag);
    appendField(out, uid);
    for (const std::string& value : values)
        appendField(out, value);
    out += '\n';
}

std::string stateText(const SyncState& state)
{
    std::string out = stateHead(state);
    for (const auto& [kind, links] : {std::pair{"link", &state.links}, {"sent", &state.sent}, {"taken", &state.taken}})
        for (const CardLink& link : *links)
            appendStateLine(out, kind, link.href, link.etag, link.uid, link.values);
    return out;
}

std::optional<SyncState> parseState(std::string_view text)
{
    SyncState state;
    if (!text.starts_with(kFirstLine) || text.size() == kFirstLine.size() || text[kFirstLine.size()] != '\n')
        return std::nullopt;
    text.remove_prefix(kFirstLine.size() + 1);
    bool sawBook = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        // A last line without its line break was cut off.
        if (end == std::string_view::npos)
            return std::nullopt;
        std::optional<std::vector<std::string>> fields = splitFields(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (!fields)
            return std::nullopt;
        const std::string& kind = fields->front();
        if (kind == "book" && fields->size() == 2) {
            state.addressBook = (*fields)[1];
            sawBook = true;
        } else if (kind == "list" && fields->size() == 2) {
            state.list = (*fields)[1];
        } else if (kind == "token" && fields->size() == 2) {
            state.syncToken = (*fields)[1];
        } else if (kind == "vcard" && fields->size() == 2 && ((*fields)[1] == "3.0" || (*fields)[1] == "4.0")) {
            state.cardVersion = (*fields)[1];
        } else if ((kind == "link" || kind == "sent" || kind == "taken") && fields->size() == 8 &&
                   !(*fields)[1].empty()) {
            CardLink link{(*fields)[1], (*fields)[2], (*fields)[3], {}};
            for (int field = 0; field < kFieldCount; ++field)
                link.values[field] = (*fields)[4 + field];
            (kind == "link" ? state.links : kind == "sent" ? state.sent : state.taken).push_back(std::move(link));
        } else {
            return std::nullopt;
        }
    }
    if (!sawBook)
        return std::nullopt;
    return state;
}

std::filesystem::path stateFolder()
{
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

std::filesystem::path configFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

Result<SyncState> readStateFile(const std::filesystem::path& path, bool& damaged)
{
    damaged = false;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return SyncState();
    Result<NativeFile> file = NativeFile::open(path, NativeFile::Access::Read);
    if (!file)
        return file.error();
    Result<std::string> text = file.value().readAll();
    if (!text)
        return text.error();
    std::optional<SyncState> state = parseState(text.value());
    if (!state) {
        damaged = true;
        return SyncState();
    }
    return std::move(*state);
}

namespace {

// Written a piece at a time: a large book's state is never held whole.
constexpr std::size_t kStatePiece = std::size_t{1} << 16;

Status writePrivateFileInPieces(const std::filesystem::path& path, const MoreLines& more)
{
    std::error_code error;
    if (std::filesystem::create_directories(path.parent_path(), error))
        std::filesystem::permissions(path.parent_path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
    if (error)
        return FileError{path.parent_path(), error.message()};
    Result<WholeFileWrite> file = WholeFileWrite::begin(path);
    if (!file)
        return file.error();
    std::string piece;
    for (bool going = true; going;) {
        piece.clear();
        going = more(piece);
        if (Status written = file.value().content().write(piece); !written)
            return written;
    }
    if (Status committed = file.value().commit(); !committed)
        return committed;
    // The program's umask already made it so; a file an older run left open to others is closed now.
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, error);
    return {};
}

} // namespace

Status writePrivateFile(const std::filesystem::path& path, std::string_view text)
{
    return writePrivateFileInPieces(path, [text](std::string& piece) {
        piece = text;
        return false;
    });
}

Status writeStateFile(const std::filesystem::path& path, const SyncState& state, const MoreLines& more)
{
    const std::pair<const char*, const std::vector<CardLink>*> kinds[] = {
        {"link", &state.links}, {"sent", &state.sent}, {"taken", &state.taken}};
    std::size_t kind = 0;
    std::size_t at = 0;
    bool headWritten = false;
    bool moreToCome = static_cast<bool>(more);
    return writePrivateFileInPieces(path, [&](std::string& piece) {
        if (!headWritten) {
            piece = stateHead(state);
            headWritten = true;
        }
        while (kind < std::size(kinds) && piece.size() < kStatePiece) {
            const std::vector<CardLink>& links = *kinds[kind].second;
            if (at == links.size()) {
                ++kind;
                at = 0;
                continue;
            }
            const CardLink& link = links[at++];
            appendStateLine(piece, kinds[kind].first, link.href, link.etag, link.uid, link.values);
        }
        while (kind == std::size(kinds) && moreToCome && piece.size() < kStatePiece)
            moreToCome = more(piece);
        return kind < std::size(kinds) || moreToCome;
    });
}

} // namespace tesselby
