#include "VCardReader.h"

#include <algorithm>

#include "TextDecoding.h"

namespace tesselby {

namespace {

// Physical lines one at a time, each with its number, CR LF, LF or a lone CR ending it. The next line
// is found once, whether it is peeked at first or not.
class LineSource {
public:
    explicit LineSource(std::string_view text, std::size_t linesBefore = 0) : m_text(text), m_number(linesBefore)
    {
        findLine();
    }
    std::size_t linesTaken() const { return m_number; }

    bool atEnd() const { return m_at >= m_text.size(); }
    std::size_t nextNumber() const { return m_number + 1; }
    std::string_view peek() const { return m_line; }
    std::string_view take()
    {
        const std::string_view line = m_line;
        m_at = m_next;
        ++m_number;
        findLine();
        return line;
    }

private:
    void findLine()
    {
        if (atEnd()) {
            m_line = {};
            return;
        }
        // Most lines end in LF or CR LF: the next LF is found at once, then any lone CR before it. The LF
        // is kept for the lines before it, so that a text of lone CRs is still looked through once.
        if (m_lineFeed < m_at || m_lineFeed == kUnknown)
            m_lineFeed = std::min(m_text.find('\n', m_at), m_text.size());
        const std::size_t end = std::min(m_text.substr(0, m_lineFeed).find('\r', m_at), m_lineFeed);
        m_next = end;
        if (m_next < m_text.size() && m_text[m_next] == '\r')
            ++m_next;
        if (m_next < m_text.size() && m_text[m_next] == '\n' && (m_next == end || m_text[end] == '\r'))
            ++m_next;
        m_line = m_text.substr(m_at, end - m_at);
    }

    static constexpr std::size_t kUnknown = std::string_view::npos;
    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_number;
    std::size_t m_lineFeed = kUnknown;
    std::string_view m_line; // the one starting at m_at
    std::size_t m_next = 0;  // where the line after it starts
};

// Where the value starts: the first colon outside a quoted parameter value.
std::size_t valueColon(std::string_view line)
{
    // Most lines quote no parameter value: then it is the first colon, found at once.
    const std::size_t first = line.find(':');
    if (line.substr(0, first).find('"') == std::string_view::npos)
        return first;
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

// A logical line: the physical line and every one folded under it; a view of the text when nothing is
// folded under it (most lines), else of buffer.
std::string_view takeLogicalLine(LineSource& lines, std::string& buffer)
{
    const std::string_view first = lines.take();
    if (lines.atEnd())
        return first;
    if (first.empty() || first.back() != '=') {
        const std::string_view next = lines.peek();
        if (next.empty() || (next[0] != ' ' && next[0] != '\t'))
            return first;
    }
    std::string& logical = buffer;
    logical.assign(first);
    QuotedPrintableHead head;
    // The physical line taken last: only one that itself ends in "=" is a soft line break. An empty line
    // after one ends the value, though the "=" of a "==" before it is then last in the logical line.
    std::string_view last = first;
    for (;;) {
        if (lines.atEnd())
            return logical;
        // A quoted-printable soft line break goes on with the next line as it stands.
        if (!last.empty() && last.back() == '=' && head.check(logical)) {
            logical.pop_back();
            last = lines.take();
            logical += last;
            continue;
        }
        const std::string_view next = lines.peek();
        if (next.empty() || (next[0] != ' ' && next[0] != '\t'))
            return logical;
        last = lines.take();
        logical += last.substr(1);
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

// Reads a content line into property; false when it is not one.
bool parseProperty(std::string_view line, std::size_t number, VCardProperty& property)
{
    const std::size_t colon = valueColon(line);
    if (colon == std::string_view::npos)
        return false;
    property.line = number;
    property.value.assign(line.substr(colon + 1));
    property.parameters.clear();
    std::string_view head = line.substr(0, colon);
    std::size_t part = head.find(';');
    std::string_view name = head.substr(0, part);
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(dot + 1);
    if (name.empty())
        return false;
    property.name.assign(name);
    for (char& c : property.name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
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
    return true;
}

bool isBlank(std::string_view line)
{
    // Most lines start with a letter: told apart without a search.
    if (!line.empty() && line[0] != ' ' && line[0] != '\t')
        return false;
    return line.find_first_not_of(" \t") == std::string_view::npos;
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
        if (std::string_view(name) != "TYPE")
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

VCardParser::VCardParser(std::function<void(const VCard&)> onCard, std::vector<ContactProblem>& problems,
                         std::size_t linesBefore)
    : m_onCard(std::move(onCard)), m_problems(problems), m_lines(linesBefore)
{
}

void VCardParser::parse(std::string_view text)
{
    LineSource lines(text, m_lines);
    while (!lines.atEnd()) {
        const std::size_t number = lines.nextNumber();
        std::string_view line = takeLogicalLine(lines, m_buffer);
        // Files of cards put together keep each one's byte-order mark, at the start of its first line.
        if (line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        if (isBlank(line))
            continue;
        if (isLine(line, "BEGIN:VCARD")) {
            if (m_inCard)
                m_problems.push_back({m_card.line, cardAt(m_card.line) + " has no END:VCARD; it was skipped"});
            m_card.line = number;
            m_card.version.clear();
            m_used = 0;
            m_inCard = true;
            m_cardBroken = false;
            m_outsideReported = false;
            continue;
        }
        if (!m_inCard) {
            if (!m_outsideReported)
                m_problems.push_back({number, "text outside a card was skipped"});
            m_outsideReported = true;
            continue;
        }
        if (isLine(line, "END:VCARD")) {
            if (!m_cardBroken) {
                m_card.endLine = number;
                m_card.properties.resize(m_used); // only ever fewer: the slots of a longer card before
                m_onCard(m_card);
            }
            m_inCard = false;
            continue;
        }
        if (m_cardBroken)
            continue;
        if (m_used == m_card.properties.size())
            m_card.properties.emplace_back();
        VCardProperty& property = m_card.properties[m_used];
        if (!parseProperty(line, number, property)) {
            m_problems.push_back({number, "a line that is not a property (no name, or no colon); " +
                                              cardAt(m_card.line) + " was skipped"});
            m_cardBroken = true;
            continue;
        }
        ++m_used;
        if (std::string_view(property.name) == "VERSION")
            m_card.version = property.value;
    }
    m_lines = lines.linesTaken();
}

void VCardParser::finish()
{
    if (m_inCard)
        m_problems.push_back({m_card.line, cardAt(m_card.line) + " has no END:VCARD; it was skipped"});
    m_inCard = false;
}

std::size_t VCardParser::cardsEnd(std::string_view text, std::size_t from)
{
    // From the end: a line break, then BEGIN:VCARD on a line of its own, not after a line ending in "="
    // that a quoted-printable value would go on from.
    // Looked for no further back than from, so that a long card read a piece at a time is looked
    // through once.
    const std::size_t lowest = from > 0 ? from - 1 : 0;
    for (std::size_t at = text.size(); at > lowest;) {
        const std::size_t found = text.substr(lowest, at - lowest).rfind('\n');
        if (found == std::string_view::npos)
            return 0;
        const std::size_t lineBreak = lowest + found;
        const std::size_t start = lineBreak + 1;
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end != std::string_view::npos && end - start <= kLongestCardStart &&
            isLine(text.substr(start, end - start), "BEGIN:VCARD")) {
            const std::size_t before = lineBreak > 0 && text[lineBreak - 1] == '\r' ? lineBreak - 1 : lineBreak;
            if (before == 0 || text[before - 1] != '=')
                return start;
        }
        at = lineBreak;
    }
    return 0;
}

std::size_t VCardParser::firstCardStart(std::string_view text, std::size_t from)
{
    // As for cardsEnd, a line of its own after a line break, not after a line ending in "=". A reader
    // that starts there knows nothing of what came before, so the line must also be read as a card's
    // start: the line after it is not folded under it.
    // at: where the line break before a card may be.
    for (std::size_t at = std::max<std::size_t>(from, 1) - 1;;) {
        const std::size_t lineBreak = text.find('\n', at);
        if (lineBreak == std::string_view::npos)
            return std::string_view::npos;
        const std::size_t start = lineBreak + 1;
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            return std::string_view::npos;
        if (end - start <= kLongestCardStart && isLine(text.substr(start, end - start), "BEGIN:VCARD")) {
            const std::size_t next =
                text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? end + 2 : end + 1;
            if (next >= text.size()) // a CR last may yet be followed by its LF
                return std::string_view::npos;
            const std::size_t before = lineBreak > 0 && text[lineBreak - 1] == '\r' ? lineBreak - 1 : lineBreak;
            if ((before == 0 || text[before - 1] != '=') && text[next] != ' ' && text[next] != '\t')
                return start;
        }
        at = start;
    }
}

void readVCards(std::string_view text, const std::function<void(const VCard&)>& onCard,
                std::vector<ContactProblem>& problems)
{
    VCardParser parser(onCard, problems);
    parser.parse(text);
    parser.finish();
}

VCardsRead readVCards(std::string_view text)
{
    VCardsRead read;
    readVCards(
        text, [&read](const VCard& card) { read.cards.push_back(card); }, read.problems);
    return read;
}

} // namespace tesselby
