#pragma once

#include <cstddef>
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

// Whether a text, past blank lines, starts with a card.
bool looksLikeVCard(std::string_view text);

} // namespace tesselby
