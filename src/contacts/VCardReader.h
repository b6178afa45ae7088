#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ContactProblem.h"

namespace tesselby {

// One content line of a card, unfolded: its name without a group ("item1.TEL" is TEL), its parameters
// and its value still escaped and encoded as written.
struct VCardProperty {
    std::string name; // upper case
    // Upper-case names with their values; a bare 2.1 parameter (CELL, QUOTED-PRINTABLE) is given its name.
    std::vector<std::pair<std::string, std::string>> parameters;
    std::string value;
    std::size_t line = 0;

    std::optional<std::string_view> parameter(std::string_view name) const;
    // Whether a TYPE parameter lists type (TYPE=work,pref and TYPE=pref;TYPE=work alike).
    bool hasType(std::string_view type) const;
};

struct VCard {
    std::size_t line = 0;    // of BEGIN:VCARD
    std::size_t endLine = 0; // of END:VCARD
    std::string version;
    std::vector<VCardProperty> properties;
};

struct VCardsRead {
    std::vector<VCard> cards;
    std::vector<ContactProblem> problems;
};

// Reads every card of a text (vCard 2.1, 3.0 or 4.0, CR LF or LF lines). Lines are unfolded, and a
// quoted-printable value's soft line breaks joined. A card that cannot be read is left out with a problem.
VCardsRead readVCards(std::string_view text);
// The same, handing each card to onCard as soon as it is read; the card is reused for the next one.
void readVCards(std::string_view text, const std::function<void(const VCard&)>& onCard,
                std::vector<ContactProblem>& problems);

// Reads cards from a text that arrives in pieces, each ending where cardsEnd says a piece may (so that
// no line, folded line or card is read differently than in the whole text); the same as readVCards on
// the whole. One card, its properties and their strings, is reused from card to card, so that a long
// file is read with few allocations.
class VCardParser {
public:
    // Lines are numbered on from linesBefore: a text that is the rest of a file.
    VCardParser(std::function<void(const VCard&)> onCard, std::vector<ContactProblem>& problems,
                std::size_t linesBefore = 0);

    void parse(std::string_view piece);
    // Reports a card left open at the end.
    void finish();

    // Where, in text, the last piece that may be parsed on its own ends: before the last BEGIN:VCARD that
    // starts a line of its own at from or later; 0 when there is none. A longer line (BEGIN:VCARD with
    // trailing spaces) is read right all the same, only not cut before.
    static constexpr std::size_t kLongestCardStart = 64;
    static std::size_t cardsEnd(std::string_view text, std::size_t from = 0);
    // The other way round: where the first card that may be read on its own starts at from or later,
    // read the same by a reader that starts there; npos when none does with the line after it in text.
    static std::size_t firstCardStart(std::string_view text, std::size_t from);

private:
    std::function<void(const VCard&)> m_onCard;
    std::vector<ContactProblem>& m_problems;
    VCard m_card;
    std::size_t m_used = 0;
    std::size_t m_lines = 0;
    bool m_inCard = false;
    bool m_cardBroken = false;
    bool m_outsideReported = false;
    std::string m_buffer;
};

// Whether a text, past blank lines, starts with a card.
bool looksLikeVCard(std::string_view text);

} // namespace tesselby
