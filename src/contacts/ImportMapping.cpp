#include "ImportMapping.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <memory_resource>
#include <variant>

#include "TextDecoding.h"
#include "VCardValue.h"

namespace tesselby {

namespace {

// The property of a name chosen by the rule: lowest PREF first, then one of preferredType, then the first.
const VCardProperty* chosen(const std::pmr::vector<const VCardProperty*>& candidates, std::string_view preferredType)
{
    const VCardProperty* best = nullptr;
    long bestRank = LONG_MAX;
    for (const VCardProperty* property : candidates) {
        long rank = LONG_MAX;
        if (property->hasType("PREF"))
            rank = 0;
        else if (const auto pref = property->parameter("PREF"); pref && !pref->empty())
            rank = std::strtol(std::string(*pref).c_str(), nullptr, 10);
        if (rank < bestRank) {
            best = property;
            bestRank = rank;
        }
    }
    if (best != nullptr)
        return best;
    for (const VCardProperty* property : candidates)
        if (!preferredType.empty() && (property->hasType(preferredType) || property->hasType("MOBILE")))
            return property;
    return candidates.empty() ? nullptr : candidates.front();
}

bool isTelAddress(const VCardProperty& property, const std::string& version, std::string_view value)
{
    if (value.size() < 4 || !equalsIgnoringCase(value.substr(0, 4), "tel:"))
        return false;
    const auto type = property.parameter("VALUE");
    return type ? equalsIgnoringCase(*type, "uri") : version.rfind("4.", 0) == 0;
}

std::string normalizedName(std::string_view name)
{
    std::string out;
    for (const char c : name) {
        if (c >= 'A' && c <= 'Z')
            out += static_cast<char>(c + 32);
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            out += c;
    }
    return out;
}

bool contains(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

// What a card's property holds that the fields do not take; none for what only describes the card.
std::optional<DroppedKind> droppedKindOf(std::string_view name)
{
    using enum DroppedKind;
    static constexpr std::pair<std::string_view, DroppedKind> kKinds[] = {
        {"ADR", Address},      {"PHOTO", Photo},        {"LOGO", Photo},     {"NOTE", Note},
        {"ORG", Organisation}, {"TITLE", JobTitle},     {"ROLE", JobTitle},  {"BDAY", Date},
        {"ANNIVERSARY", Date}, {"X-ANNIVERSARY", Date}, {"URL", WebAddress}, {"NICKNAME", Nickname},
    };
    static constexpr std::string_view kAboutTheCard[] = {
        "BEGIN",  "END",  "VERSION", "PRODID",    "UID",     "REV",         "KIND",
        "N",      "FN",   "TEL",     "EMAIL",     "LABEL",   "SORT-STRING", "CLIENTPIDMAP",
        "SOURCE", "NAME", "PROFILE", "X-ABLABEL", "X-ABUID", "X-ABSHOWAS",
    };
    for (const auto& [property, kind] : kKinds)
        if (name == property)
            return kind;
    for (const std::string_view property : kAboutTheCard)
        if (name == property)
            return std::nullopt;
    return Other;
}

// A web mail's export puts several values in one cell of a column named "... - Value", " ::: " between
// them; the first is taken. In any other column the text is a value of its own, kept whole.
std::pair<std::string_view, std::size_t> firstOfSeveral(std::string_view cell, bool several = true)
{
    if (!several)
        return {cell, 0};
    constexpr std::string_view kSeparator = " ::: ";
    std::size_t at = cell.find(kSeparator);
    if (at == std::string_view::npos)
        return {cell, 0};
    const std::string_view first = cell.substr(0, at);
    std::size_t others = 0;
    for (; at != std::string_view::npos; at = cell.find(kSeparator, at + kSeparator.size()))
        ++others;
    return {first, others};
}

// The kind of value in a CSV column the fields do not take, by its name (normalised), and for an
// address the part of the name that tells one address from another ("address1", "home").
std::pair<std::optional<DroppedKind>, std::string> csvDroppedKind(const std::string& name)
{
    using enum DroppedKind;
    static constexpr std::string_view kAddressParts[] = {"formatted", "street",          "city",        "postalcode",
                                                         "zip",       "region",          "state",       "country",
                                                         "pobox",     "extendedaddress", "neighborhood"};
    if (contains(name, "type") || contains(name, "label") || contains(name, "display"))
        return {std::nullopt, {}};
    if (contains(name, "web") || contains(name, "url") || contains(name, "homepage"))
        return {WebAddress, {}};
    for (const std::string_view part : kAddressParts)
        if (const std::size_t at = name.find(part); at != std::string::npos)
            return {Address, name.substr(0, at)};
    if (const std::size_t at = name.find("address"); at != std::string::npos)
        return {Address, name.substr(0, at) + name.substr(at + 7)};
    if (contains(name, "photo") || contains(name, "picture"))
        return {Photo, {}};
    if (contains(name, "note"))
        return {Note, {}};
    if (contains(name, "title") || contains(name, "department") || contains(name, "jobtitle") ||
        contains(name, "profession"))
        return {JobTitle, {}};
    if (contains(name, "company") || contains(name, "organization") || contains(name, "organisation"))
        return {Organisation, {}};
    if (contains(name, "birthday") || contains(name, "anniversary"))
        return {Date, {}};
    if (contains(name, "nickname"))
        return {Nickname, {}};
    return {Other, {}};
}

bool isOrganisationName(const std::string& name)
{
    return name == "company" || name == "organization" || name == "organisation" ||
           ((contains(name, "organization") || contains(name, "organisation")) && name.ends_with("name"));
}

} // namespace

std::string DroppedValues::describe() const
{
    static constexpr std::pair<const char*, const char*> kNames[kDroppedKinds] = {
        {"address", "addresses"},
        {"photo", "photos"},
        {"extra phone number", "extra phone numbers"},
        {"extra e-mail address", "extra e-mail addresses"},
        {"note", "notes"},
        {"organisation", "organisations"},
        {"job title", "job titles"},
        {"date", "dates"},
        {"web address", "web addresses"},
        {"nickname", "nicknames"},
        {"other value", "other values"},
    };
    std::string text;
    for (int kind = 0; kind < kDroppedKinds; ++kind) {
        if (counts[kind] == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += std::to_string(counts[kind]) + ' ' + (counts[kind] == 1 ? kNames[kind].first : kNames[kind].second);
    }
    return text;
}

std::pair<std::string, std::string> splitFullName(std::string_view fullName)
{
    const std::size_t begin = fullName.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return {std::string(fullName), ""};
    const std::size_t end = fullName.find_last_not_of(' ') + 1;
    const std::string_view name = fullName.substr(begin, end - begin);
    const std::size_t space = name.rfind(' ');
    if (space == std::string_view::npos)
        return {std::string(name), ""};
    const std::string_view first = name.substr(0, name.find_last_not_of(' ', space) + 1);
    return {std::string(first), std::string(name.substr(space + 1))};
}

Result<Record, ContactProblem> recordFromCard(const VCard& card, DroppedValues* dropped)
{
    const VCardProperty* n = nullptr;
    const VCardProperty* fn = nullptr;
    const VCardProperty* org = nullptr;
    DroppedValues left;
    std::size_t labels = 0;
    // A card's few phones, addresses and values are held on the stack, unless it has many.
    std::array<std::byte, 1024> room;
    std::pmr::monotonic_buffer_resource arena(room.data(), room.size());
    std::pmr::vector<const VCardProperty*> phones(&arena), emails(&arena);
    Record record;
    auto fail = [&card](const VCardProperty& property, const std::string& why) {
        return ContactProblem{property.line,
                              why + "; the card that starts on line " + std::to_string(card.line) + " was skipped"};
    };
    std::pmr::vector<std::pair<const VCardProperty*, std::string>> decoded(&arena);
    for (const VCardProperty& property : card.properties) {
        // Compared as a view: its length first, rather than each name's bytes.
        const std::string_view name = property.name;
        if (name == "ORG" && org == nullptr && !property.value.empty()) {
            org = &property;
            continue;
        }
        if (name == "LABEL" && !property.value.empty())
            ++labels;
        if (name != "N" && name != "FN" && name != "TEL" && name != "EMAIL") {
            if (const auto kind = droppedKindOf(name); kind && !property.value.empty())
                left.add(*kind);
            continue;
        }
        if (name == "N") {
            if (n != nullptr)
                continue;
            n = &property;
            // N starts with the family name, then the given name.
            constexpr Field kNameParts[] = {Field::LastName, Field::FirstName};
            for (std::size_t part = 0; part < std::size(kNameParts); ++part) {
                const std::optional<std::string_view> text = valueComponent(property.value, part);
                if (!text)
                    break;
                auto value = decodeValue(property, *text);
                if (auto* error = std::get_if<VCardValueError>(&value))
                    return fail(property, error->message);
                record[kNameParts[part]] = std::move(std::get<std::string>(value));
            }
            continue;
        }
        auto value = decodeValue(property, property.value);
        if (auto* error = std::get_if<VCardValueError>(&value))
            return fail(property, error->message);
        std::string text = std::move(std::get<std::string>(value));
        if (name == "FN") {
            if (fn == nullptr) {
                fn = &property;
                decoded.emplace_back(fn, std::move(text));
            }
            continue;
        }
        if (name == "TEL" && isTelAddress(property, card.version, text))
            text.erase(0, 4);
        if (text.empty())
            continue;
        (name == "TEL" ? phones : emails).push_back(&property);
        decoded.emplace_back(&property, std::move(text));
    }
    // Each value is taken once at most, so it is moved out.
    auto valueOf = [&decoded](const VCardProperty* property) {
        for (auto& [which, text] : decoded)
            if (which == property)
                return std::move(text);
        return std::string();
    };
    std::string organisation;
    if (org != nullptr) {
        auto value = decodeValue(*org, *valueComponent(org->value, 0));
        if (auto* error = std::get_if<VCardValueError>(&value))
            return fail(*org, error->message);
        organisation = std::move(std::get<std::string>(value));
    }
    if (n == nullptr && fn == nullptr && phones.empty() && emails.empty() && organisation.empty()) {
        return ContactProblem{card.line, "the card that starts here holds no name, organisation, "
                                         "phone or e-mail; it was skipped"};
    }
    // A company's card names it in ORG, and often in FN too, which is then not a person's name to split.
    bool organisationTaken = false;
    if (record[Field::FirstName].empty() && record[Field::LastName].empty()) {
        const std::string fullName = fn != nullptr ? valueOf(fn) : std::string();
        if (!organisation.empty() &&
            (fullName.find_first_not_of(' ') == std::string::npos || fullName == organisation)) {
            record[Field::LastName] = organisation;
            organisationTaken = true;
        } else if (fn != nullptr) {
            auto [first, last] = splitFullName(fullName);
            record[Field::FirstName] = std::move(first);
            record[Field::LastName] = std::move(last);
        }
    }
    if (!organisation.empty() && !organisationTaken)
        left.add(DroppedKind::Organisation);
    if (left.count(DroppedKind::Address) == 0)
        left.add(DroppedKind::Address, labels);
    if (const VCardProperty* phone = chosen(phones, "CELL"))
        record[Field::Phone] = valueOf(phone);
    if (const VCardProperty* email = chosen(emails, ""))
        record[Field::Email] = valueOf(email);
    left.add(DroppedKind::ExtraPhone, phones.empty() ? 0 : phones.size() - 1);
    left.add(DroppedKind::ExtraEmail, emails.empty() ? 0 : emails.size() - 1);
    if (dropped != nullptr)
        for (int kind = 0; kind < kDroppedKinds; ++kind)
            dropped->counts[kind] += left.counts[kind];
    return record;
}

bool CsvColumns::known() const
{
    return !first.empty() || !last.empty() || !fullName.empty() || !phone.empty() || !email.empty() ||
           !organisation.empty();
}

CsvColumns csvColumns(const std::vector<std::string>& header)
{
    CsvColumns columns;
    columns.count = header.size();
    columns.several.resize(header.size());
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = normalizedName(header[i]);
        columns.several[i] = contains(name, "value");
        if (name == "firstname" || name == "givenname" || name == "first") {
            columns.first.push_back(i);
        } else if (name == "lastname" || name == "familyname" || name == "surname" || name == "last") {
            columns.last.push_back(i);
        } else if (name == "name" || name == "displayname" || name == "fullname") {
            columns.fullName.push_back(i);
        } else if (contains(name, "type") || contains(name, "label") || contains(name, "display") ||
                   contains(name, "fax")) {
            continue; // "Phone 1 - Type", "E-mail Display Name": about a value, not one
        } else if (isOrganisationName(name)) {
            columns.organisation.push_back(i);
        } else if (contains(name, "email")) {
            if (contains(name, "primary") || contains(name, "pref"))
                columns.primaryEmail.push_back(i);
            columns.email.push_back(i);
        } else if (contains(name, "phone") || contains(name, "mobile") || contains(name, "cell") || name == "tel") {
            if (contains(name, "primary") || contains(name, "pref"))
                columns.primaryPhone.push_back(i);
            else if (contains(name, "mobile") || contains(name, "cell"))
                columns.mobilePhone.push_back(i);
            columns.phone.push_back(i);
        } else if (const auto [kind, address] = csvDroppedKind(name); kind) {
            columns.others.push_back({i, *kind, address});
        }
    }
    return columns;
}

Result<Record, ContactProblem> recordFromRow(const CsvColumns& columns, const CsvRow& row, DroppedValues* dropped)
{
    if (row.fields.size() != columns.count) {
        return ContactProblem{row.line, "the row has " + std::to_string(row.fields.size()) + " fields, the header " +
                                            std::to_string(columns.count) + "; it was skipped"};
    }
    DroppedValues left;
    // A value that is not UTF-8 is taken as the sender's single-byte Windows text, as the list's own are.
    auto firstOf = [&row, &columns](std::initializer_list<const std::vector<std::size_t>*> lists) {
        for (const auto* list : lists) {
            for (const std::size_t column : *list) {
                const std::string_view first = firstOfSeveral(row.fields[column], columns.several[column]).first;
                if (!first.empty())
                    return *charsetToUtf8(first, "");
            }
        }
        return std::string();
    };
    // Every value after the one taken, in a column of its own or after " ::: " in the same cell.
    auto countOthers = [&row, &columns, &left](const std::vector<std::size_t>& all, DroppedKind kind) {
        std::size_t values = 0;
        for (const std::size_t column : all) {
            const auto [first, more] = firstOfSeveral(row.fields[column], columns.several[column]);
            values += (first.empty() ? 0 : 1) + more;
        }
        left.add(kind, values == 0 ? 0 : values - 1);
    };
    Record record{firstOf({&columns.first}), firstOf({&columns.last}),
                  firstOf({&columns.primaryPhone, &columns.mobilePhone, &columns.phone}),
                  firstOf({&columns.primaryEmail, &columns.email})};
    countOthers(columns.phone, DroppedKind::ExtraPhone);
    countOthers(columns.email, DroppedKind::ExtraEmail);
    const std::string organisation = firstOf({&columns.organisation});
    if (record[Field::FirstName].empty() && record[Field::LastName].empty()) {
        auto [first, last] = splitFullName(firstOf({&columns.fullName}));
        record[Field::FirstName] = std::move(first);
        record[Field::LastName] = std::move(last);
    }
    if (record[Field::FirstName].empty() && record[Field::LastName].empty())
        record[Field::LastName] = organisation;
    else if (!organisation.empty())
        left.add(DroppedKind::Organisation);
    std::vector<std::string_view> addresses;
    for (const CsvColumns::Other& other : columns.others) {
        const std::string& cell = row.fields[other.column];
        if (cell.find_first_not_of(" ") == std::string::npos)
            continue;
        const std::size_t values = 1 + firstOfSeveral(cell, columns.several[other.column]).second;
        if (other.kind != DroppedKind::Address) {
            left.add(other.kind, values);
        } else if (std::find(addresses.begin(), addresses.end(), other.address) == addresses.end()) {
            addresses.push_back(other.address); // the street and the city of one address are one address
            left.add(DroppedKind::Address, values);
        }
    }
    if (dropped != nullptr)
        for (int kind = 0; kind < kDroppedKinds; ++kind)
            dropped->counts[kind] += left.counts[kind];
    return record;
}

} // namespace tesselby
