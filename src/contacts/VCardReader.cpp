#include "VCardReader.h"

#include "TextDecoding.h"

namespace tesselby {

namespace {

// Physical lines one at a time, each with its number, CR LF, LF or a lone CR ending it.
class LineSource {
public:
    explicit LineSource(std::string_view text) : m_text(text) {}

    bool atEnd() const { return m_at >= m_text.size(); }
    std::size_t nextNumber() const { return m_number + 1; }
    std::string_view peek() const { return lineAt(m_at).first; }
    std::string_view take()
    {
        const auto [line, next] = lineAt(m_at);
        m_at = next;
        ++m_number;
        return line;
    }

private:
    std::pair<std::string_view, std::size_t> lineAt(std::size_t at) const
    {
        std::size_t end = at;
        while (end < m_text.size() && m_text[end] != '\r' && m_text[end] != '\n')
            ++end;
        std::size_t next = end;
        if (next < m_text.size() && m_text[next] == '\r')
            ++next;
        if (next < m_text.size() && m_text[next] == '\n' && (next == end || m_text[end] == '\r'))
            ++next;
        return {m_text.substr(at, end - at), next};
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_number = 0;
};

// Where the value starts: the first colon outside a quoted parameter value.
std::size_t valueColon(std::string_view line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return std::string_view::npos;
}

// Whether a logical line ending in "=" is of a quoted-printable property, known once the colon before
// its value has been read. Each call reads only what was added since the last, so that a line of many
// pieces without that colon is still read in linear time; the "=", dropped when the line goes on, is
// left for then.
class QuotedPrintableHead {
public:
    bool check(std::string_view logical)
    {
        for (; !m_found && m_scanned + 1 < logical.size(); ++m_scanned) {
            if (logical[m_scanned] == '"') {
                m_quoted = !m_quoted;
            } else if (logical[m_scanned] == ':' && !m_quoted) {
                m_found = true;
                m_is = upperAscii(logical.substr(0, m_scanned)).find("QUOTED-PRINTABLE") != std::string::npos;
            }
        }
        return m_is;
    }

private:
    std::size_t m_scanned = 0;
    bool m_quoted = false;
    bool m_found = false;
    bool m_is = false;
};

// A logical line: the physical line and every one folded under it.
std::string takeLogicalLine(LineSource& lines)
{
    std::string logical(lines.take());
    QuotedPrintableHead head;
    for (;;) {
        if (lines.atEnd())
            return logical;
        // A quoted-printable soft line break goes on with the next line as it stands.
        if (!logical.empty() && logical.back() == '=' && head.check(logical)) {
            logical.pop_back();
            logical += lines.take();
            continue;
        }
        const std::string_view next = lines.peek();
        if (next.empty() || (next[0] != ' ' && next[0] != '\t'))
            return logical;
        logical += lines.take().substr(1);
    }
}

bool isEncodingName(std::string_view value)
{
    return equalsIgnoringCase(value, "QUOTED-PRINTABLE") || equalsIgnoringCase(value, "BASE64") ||
           equalsIgnoringCase(value, "8BIT") || equalsIgnoringCase(value, "7BIT");
}

std::string unquoted(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::optional<VCardProperty> parseProperty(std::string_view line, std::size_t number)
{
    const std::size_t colon = valueColon(line);
    if (colon == std::string_view::npos)
        return std::nullopt;
    VCardProperty property;
    property.line = number;
    property.value = std::string(line.substr(colon + 1));
    std::string_view head = line.substr(0, colon);
    std::size_t part = head.find(';');
    std::string_view name = head.substr(0, part);
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(dot + 1);
    if (name.empty())
        return std::nullopt;
    property.name = upperAscii(name);
    while (part != std::string_view::npos) {
        // Semicolons inside a quoted parameter value do not end it.
        std::size_t end = part + 1;
        bool quoted = false;
        while (end < head.size() && (head[end] != ';' || quoted)) {
            if (head[end] == '"')
                quoted = !quoted;
            ++end;
        }
        const std::string_view parameter = head.substr(part + 1, end - part - 1);
        part = end < head.size() ? end : std::string_view::npos;
        if (parameter.empty())
            continue;
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos)
            property.parameters.emplace_back(isEncodingName(parameter) ? "ENCODING" : "TYPE", unquoted(parameter));
        else
            property.parameters.emplace_back(upperAscii(parameter.substr(0, equals)),
                                             unquoted(parameter.substr(equals + 1)));
    }
    return property;
}

bool isLine(std::string_view line, std::string_view expected)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return equalsIgnoringCase(line, expected);
}

std::string cardAt(std::size_t line)
{
    return "the card that starts on line " + std::to_string(line);
}

} // namespace

std::optional<std::string_view> VCardProperty::parameter(std::string_view wanted) const
{
    for (const auto& [name, value] : parameters)
        if (name == wanted)
            return value;
    return std::nullopt;
}

bool VCardProperty::hasType(std::string_view type) const
{
    for (const auto& [name, value] : parameters) {
        if (name != "TYPE")
            continue;
        std::string_view list = value;
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t comma = std::min(list.find(',', start), list.size());
            if (equalsIgnoringCase(list.substr(start, comma - start), type))
                return true;
            start = comma + 1;
        }
    }
    return false;
}

bool looksLikeVCard(std::string_view text)
{
    LineSource lines(text);
    while (!lines.atEnd()) {
        const std::string_view line = lines.take();
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        return isLine(line.substr(line.find_first_not_of(" \t")), "BEGIN:VCARD");
    }
    return false;
}

VCardsRead readVCards(std::string_view text)
{
    VCardsRead read;
    std::optional<VCard> card;
    bool cardBroken = false;
    bool outsideReported = false;
    LineSource lines(text);
    while (!lines.atEnd()) {
        const std::size_t number = lines.nextNumber();
        const std::string line = takeLogicalLine(lines);
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        if (isLine(line, "BEGIN:VCARD")) {
            if (card)
                read.problems.push_back({card->line, cardAt(card->line) + " has no END:VCARD; it was skipped"});
            card = VCard{number, 0, {}, {}};
            cardBroken = false;
            outsideReported = false;
            continue;
        }
        if (!card) {
            if (!outsideReported)
                read.problems.push_back({number, "text outside a card was skipped"});
            outsideReported = true;
            continue;
        }
        if (isLine(line, "END:VCARD")) {
            card->endLine = number;
            if (!cardBroken)
                read.cards.push_back(std::move(*card));
            card.reset();
            continue;
        }
        if (cardBroken)
            continue;
        std::optional<VCardProperty> property = parseProperty(line, number);
        if (!property) {
            read.problems.push_back({number, "a line that is not a property (no name, or no colon); " +
                                                 cardAt(card->line) + " was skipped"});
            cardBroken = true;
            continue;
        }
        if (property->name == "VERSION")
            card->version = property->value;
        card->properties.push_back(std::move(*property));
    }
    if (card)
        read.problems.push_back({card->line, cardAt(card->line) + " has no END:VCARD; it was skipped"});
    return read;
}

} // namespace tesselby
