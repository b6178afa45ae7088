#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ContactWriter.h"
#include "records/Record.h"

namespace tesselby {

// A new card for a person, as export writes it, with its UID after VERSION.
std::string newCardText(const Record& values, std::string_view uid, VCardVersion version);

// The card text with the properties that hold the person's values changed from was to values, every
// other line kept byte for byte: N's family and given names (its other parts kept) and FN when a name
// changed, and the TEL and EMAIL that held was's phone and e-mail, with their group and parameters
// (one added when there was none, removed when the value is now empty). Nothing when the text is not
// one readable card, or when the card so changed would not read back as values.
std::optional<std::string> patchedCardText(std::string_view text, const Record& was, const Record& values);

// The person a card's text holds, by the import's rules, and its UID; nothing when it holds none.
struct CardPerson {
    Record values;
    std::string uid;
};
std::optional<CardPerson> personOfCard(std::string_view text);

// A UID for a new card: 32 random hexadecimal digits, safe in a URL as they are.
std::string newCardUid();

} // namespace tesselby
