#include "ImportMapping.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <variant>

#include "TextDecoding.h"
#include "VCardValue.h"

namespace tesselby {

namespace {

// The property of a name chosen by the rule: lowest PREF first, then one of preferredType, then the first.
const VCardProperty* chosen(const std::vector<const VCardProperty*>& candidates, std::string_view preferredType)
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

} // namespace

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

std::pair<std::optional<Record>, std::optional<ContactProblem>> recordFromCard(const VCard& card)
{
    const VCardProperty* n = nullptr;
    const VCardProperty* fn = nullptr;
    std::vector<const VCardProperty*> phones, emails;
    Record record;
    auto fail = [&card](const VCardProperty& property, const std::string& why) {
        return std::pair<std::optional<Record>, std::optional<ContactProblem>>{
            std::nullopt, ContactProblem{property.line, why + "; the card that starts on line " +
                                                            std::to_string(card.line) + " was skipped"}};
    };
    std::vector<std::pair<const VCardProperty*, std::string>> decoded;
    for (const VCardProperty& property : card.properties) {
        if (property.name != "N" && property.name != "FN" && property.name != "TEL" && property.name != "EMAIL")
            continue;
        if (property.name == "N") {
            if (n != nullptr)
                continue;
            n = &property;
            const std::vector<std::string_view> parts = valueComponents(property.value);
            for (int field = 0; field < 2 && static_cast<std::size_t>(field) < parts.size(); ++field) {
                auto value = decodeValue(property, parts[field]);
                if (auto* error = std::get_if<VCardValueError>(&value))
                    return fail(property, error->message);
                record[field == 0 ? 1 : 0] = std::move(std::get<std::string>(value));
            }
            continue;
        }
        auto value = decodeValue(property, property.value);
        if (auto* error = std::get_if<VCardValueError>(&value))
            return fail(property, error->message);
        std::string text = std::move(std::get<std::string>(value));
        if (property.name == "FN") {
            if (fn == nullptr) {
                fn = &property;
                decoded.emplace_back(fn, std::move(text));
            }
            continue;
        }
        if (property.name == "TEL" && isTelAddress(property, card.version, text))
            text.erase(0, 4);
        if (text.empty())
            continue;
        (property.name == "TEL" ? phones : emails).push_back(&property);
        decoded.emplace_back(&property, std::move(text));
    }
    auto valueOf = [&decoded](const VCardProperty* property) {
        for (auto& [which, text] : decoded)
            if (which == property)
                return text;
        return std::string();
    };
    if (n == nullptr && fn == nullptr && phones.empty() && emails.empty()) {
        return {std::nullopt, ContactProblem{card.line, "the card that starts here holds no name, phone or "
                                                        "e-mail; it was skipped"}};
    }
    if (record[0].empty() && record[1].empty() && fn != nullptr) {
        auto [first, last] = splitFullName(valueOf(fn));
        record[0] = std::move(first);
        record[1] = std::move(last);
    }
    if (const VCardProperty* phone = chosen(phones, "CELL"))
        record[2] = valueOf(phone);
    if (const VCardProperty* email = chosen(emails, ""))
        record[3] = valueOf(email);
    return {record, std::nullopt};
}

bool CsvColumns::known() const
{
    return !first.empty() || !last.empty() || !fullName.empty() || !phone.empty() || !email.empty();
}

CsvColumns csvColumns(const std::vector<std::string>& header)
{
    CsvColumns columns;
    columns.count = header.size();
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string name = normalizedName(header[i]);
        if (name == "firstname" || name == "givenname" || name == "first") {
            columns.first.push_back(i);
        } else if (name == "lastname" || name == "familyname" || name == "surname" || name == "last") {
            columns.last.push_back(i);
        } else if (name == "name" || name == "displayname" || name == "fullname") {
            columns.fullName.push_back(i);
        } else if (contains(name, "type") || contains(name, "label") || contains(name, "display") ||
                   contains(name, "fax")) {
            continue; // "Phone 1 - Type", "E-mail Display Name": about a value, not one
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
        }
    }
    return columns;
}

std::pair<std::optional<Record>, std::optional<ContactProblem>> recordFromRow(const CsvColumns& columns,
                                                                              const CsvRow& row)
{
    if (row.fields.size() != columns.count) {
        return {std::nullopt,
                ContactProblem{row.line, "the row has " + std::to_string(row.fields.size()) + " fields, the header " +
                                             std::to_string(columns.count) + "; it was skipped"}};
    }
    // A value that is not UTF-8 is taken as the sender's single-byte Windows text, as the list's own are.
    auto firstOf = [&row](std::initializer_list<const std::vector<std::size_t>*> lists) {
        for (const auto* list : lists)
            for (const std::size_t column : *list)
                if (!row.fields[column].empty())
                    return *charsetToUtf8(row.fields[column], "");
        return std::string();
    };
    Record record{firstOf({&columns.first}), firstOf({&columns.last}),
                  firstOf({&columns.primaryPhone, &columns.mobilePhone, &columns.phone}),
                  firstOf({&columns.primaryEmail, &columns.email})};
    if (record[0].empty() && record[1].empty()) {
        auto [first, last] = splitFullName(firstOf({&columns.fullName}));
        record[0] = std::move(first);
        record[1] = std::move(last);
    }
    return {record, std::nullopt};
}

} // namespace tesselby
