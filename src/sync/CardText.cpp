#include "CardText.h"

#include <array>
#include <cstdint>
#include <random>
#include <variant>
#include <vector>

#include "ImportMapping.h"
#include "SyncPlan.h"
#include "VCardReader.h"
#include "VCardValue.h"

namespace tesselby {

namespace {

// The text's physical lines, each with what ends it, numbered from 1 as the card reader numbers them.
std::vector<std::string_view> physicalLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = at;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        std::size_t next = end;
        if (next < text.size() && text[next] == '\r')
            ++next;
        if (next < text.size() && text[next] == '\n' && (next == end || text[end] == '\r'))
            ++next;
        lines.push_back(text.substr(at, next - at));
        at = next;
    }
    return lines;
}

std::string decodedText(const VCardProperty& property, std::string_view part)
{
    auto value = decodeValue(property, part);
    if (auto* text = std::get_if<std::string>(&value))
        return std::move(*text);
    return {};
}

bool startsWithIgnoringCase(std::string_view text, std::string_view start)
{
    if (text.size() < start.size())
        return false;
    for (std::size_t i = 0; i < start.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != start[i])
            return false;
    return true;
}

// What comes before a property's value on its first line (its group, name and parameters), unless it
// names an encoding or a character set the new value is not in; then only its group and name.
std::string linePrefix(std::string_view line, const VCardProperty& property)
{
    bool quoted = false;
    std::size_t colon = 0;
    for (; colon < line.size(); ++colon) {
        if (line[colon] == '"')
            quoted = !quoted;
        else if (line[colon] == ':' && !quoted)
            break;
    }
    std::string prefix(line.substr(0, colon));
    if (property.parameter("ENCODING") || property.parameter("CHARSET") || property.parameter("QUOTED-PRINTABLE") ||
        property.parameter("BASE64")) {
        const std::size_t semicolon = prefix.find(';');
        prefix.resize(semicolon == std::string::npos ? prefix.size() : semicolon);
    }
    return prefix;
}

} // namespace

std::string newCardText(const Record& values, std::string_view uid, VCardVersion version)
{
    std::string card;
    appendVCard(card, values, version);
    const std::size_t afterVersion = card.find("\r\n", card.find("VERSION:")) + 2;
    std::string uidLine;
    appendFoldedLine(uidLine, "UID:" + escapedVCardText(uid));
    card.insert(afterVersion, uidLine);
    return card;
}

std::optional<CardPerson> personOfCard(std::string_view text)
{
    VCardsRead read = readVCards(text);
    if (read.cards.size() != 1)
        return std::nullopt;
    const VCard& card = read.cards.front();
    Result<Record, ContactProblem> record = recordFromCard(card);
    if (!record)
        return std::nullopt;
    CardPerson person{std::move(record.value()), {}};
    for (const VCardProperty& property : card.properties)
        if (property.name == "UID") {
            person.uid = decodedText(property, property.value);
            break;
        }
    return person;
}

std::optional<std::string> patchedCardText(std::string_view text, const Record& was, const Record& values)
{
    VCardsRead read = readVCards(text);
    if (read.cards.size() != 1 || !read.problems.empty())
        return std::nullopt;
    const VCard& card = read.cards.front();
    const std::vector<std::string_view> lines = physicalLines(text);
    if (card.line == 0 || card.endLine > lines.size() || card.endLine <= card.line)
        return std::nullopt;
    const bool v4 = card.version.rfind("4.", 0) == 0;

    // For each physical line, what takes its place: nothing (kept), or new text (empty: removed).
    std::vector<std::optional<std::string>> replaced(lines.size() + 1);
    auto lastLineOf = [&](std::size_t index) {
        return index + 1 < card.properties.size() ? card.properties[index + 1].line - 1 : card.endLine - 1;
    };
    auto replace = [&](std::size_t index, std::string with) {
        const std::size_t first = card.properties[index].line;
        replaced[first] = std::move(with);
        for (std::size_t line = first + 1; line <= lastLineOf(index); ++line)
            replaced[line] = std::string();
    };
    std::string added; // new properties, before END:VCARD

    const bool namesChanged = was[0] != values[0] || was[1] != values[1];
    bool sawN = false, sawFn = false;
    for (std::size_t i = 0; i < card.properties.size(); ++i) {
        const VCardProperty& property = card.properties[i];
        if (property.name == "N" && !sawN) {
            sawN = true;
            if (!namesChanged)
                continue;
            std::vector<std::string_view> parts;
            while (const std::optional<std::string_view> part = valueComponent(property.value, parts.size()))
                parts.push_back(*part);
            std::string value = escapedVCardText(values[1]) + ';' + escapedVCardText(values[0]);
            for (std::size_t part = 2; part < std::max<std::size_t>(parts.size(), 5); ++part)
                value += ';' + (part < parts.size() ? std::string(parts[part]) : std::string());
            std::string line;
            appendFoldedLine(line, linePrefix(lines[property.line - 1], property) + ':' + value);
            replace(i, std::move(line));
        } else if (property.name == "FN" && !sawFn) {
            sawFn = true;
            if (!namesChanged)
                continue;
            std::string line;
            appendFoldedLine(line, linePrefix(lines[property.line - 1], property) + ':' +
                                       escapedVCardText(fullName(values[0], values[1])));
            replace(i, std::move(line));
        }
    }
    if (namesChanged && !sawN)
        appendFoldedLine(added, "N:" + escapedVCardText(values[1]) + ';' + escapedVCardText(values[0]) + ";;;");
    if (namesChanged && !sawFn)
        appendFoldedLine(added, "FN:" + escapedVCardText(fullName(values[0], values[1])));

    // The phone and the e-mail: the first property that held the value the person had.
    for (int field = 2; field < kFieldCount; ++field) {
        if (was[field] == values[field])
            continue;
        const std::string_view name = field == 2 ? "TEL" : "EMAIL";
        std::optional<std::size_t> held;
        bool uri = false;
        if (!was[field].empty())
            for (std::size_t i = 0; i < card.properties.size() && !held; ++i) {
                const VCardProperty& property = card.properties[i];
                if (property.name != name)
                    continue;
                std::string value = decodedText(property, property.value);
                const bool isUri = field == 2 && startsWithIgnoringCase(value, "tel:");
                if ((isUri ? value.substr(4) : value) == was[field]) {
                    held = i;
                    uri = isUri;
                }
            }
        if (held && values[field].empty()) {
            replace(*held, std::string());
        } else if (held) {
            const VCardProperty& property = card.properties[*held];
            std::string line;
            appendFoldedLine(line, linePrefix(lines[property.line - 1], property) + ':' + (uri ? "tel:" : "") +
                                       escapedVCardText(values[field]));
            replace(*held, std::move(line));
        } else if (!values[field].empty()) {
            std::string start =
                field == 2 ? (v4 ? "TEL;VALUE=text:" : "TEL:") : (v4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:");
            appendFoldedLine(added, start + escapedVCardText(values[field]));
        }
    }

    std::string out;
    out.reserve(text.size() + added.size());
    for (std::size_t line = 1; line <= lines.size(); ++line) {
        if (line == card.endLine)
            out += added;
        if (replaced[line])
            out += *replaced[line];
        else
            out += lines[line - 1];
    }
    // A card whose values the import reads from other properties than the ones changed (a value held
    // with spaces around it, say) would come back unchanged at the next sync, and be sent again.
    const std::optional<CardPerson> back = personOfCard(out);
    if (!back || cardForm(back->values) != cardForm(values))
        return std::nullopt;
    return out;
}

std::string newCardUid()
{
    std::random_device device;
    constexpr char digits[] = "0123456789abcdef";
    std::string uid;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = device();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4)
            uid += digits[bits & 0xF];
    }
    return uid;
}

} // namespace tesselby
