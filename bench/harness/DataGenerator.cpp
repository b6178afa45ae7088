#include "DataGenerator.h"

#include <array>
#include <random>
#include <string_view>

#include "format/ItemWriter.h"

namespace tesselby::bench {

namespace {

constexpr std::array<std::string_view, 24> kFirstNames = {
    "James", "Mary",    "José", "Zoë",  "François", "Ingrid", "Søren", "Łukasz", "Aoife", "Chloé", "Dmitri", "Анна",
    "Иван",  "Γιώργος", "محمد", "小明", "さくら",   "Nguyễn", "Priya", "Olu",    "Renée", "Björn", "Emily",  "Tomás",
};

// Twenty names, so each one is carried by about 5% of the records.
constexpr std::array<std::string_view, 20> kLastNames = {
    "Smith",     "O'Brien",         "García",         "Müller",       "Okafor",       "Nakamura", "Smith, Jr.",
    "D'Angelo",  "Kowalski",        "Иванова",        "Papadopoulos", "Van der Berg", "Lefèvre",  "Chen",
    "Johansson", "McAllister, III", "Ó Súilleabháin", "Nguyen",       "Rossi",        "Brown",
};

std::string asciiOnly(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            out.push_back(static_cast<char>(c | 0x20));
    }
    return out.empty() ? std::string("person") : out;
}

// A value as a vCard 3.0 text value.
std::string cardText(std::string_view value)
{
    std::string out;
    for (const char c : value) {
        if (c == ',' || c == ';' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

} // namespace

std::string generateDataFile(std::size_t records, unsigned seed)
{
    std::string text;
    generateDataFile(
        records, [&text](std::string_view part) { text.append(part); }, seed);
    return text;
}

void generateDataFile(std::size_t records, const std::function<void(std::string_view)>& write, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text;
    for (std::size_t r = 0; r < records; ++r) {
        if (text.size() > (1 << 20)) {
            write(text);
            text.clear();
        }
        const std::string_view first = kFirstNames[random() % kFirstNames.size()];
        const std::string_view last = kLastNames[random() % kLastNames.size()];
        std::string phone =
            "+1 (" + std::to_string(200 + random() % 800) + ") 555-" + std::to_string(1000 + random() % 9000);
        std::string email = asciiOnly(first) + "." + asciiOnly(last) + "." + std::to_string(r) + "@example.org";
        appendItem(text, first);
        appendItem(text, last);
        appendItem(text, phone);
        appendItem(text, email);
    }
    write(text);
}

void generatePhoneCards(std::size_t records, const std::function<void(std::string_view)>& write, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text;
    for (std::size_t r = 0; r < records; ++r) {
        if (text.size() > (1 << 20)) {
            write(text);
            text.clear();
        }
        const std::string_view first = kFirstNames[random() % kFirstNames.size()];
        const std::string_view last = kLastNames[random() % kLastNames.size()];
        const std::string area = std::to_string(200 + random() % 800);
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Phone//Contacts 4.2//EN\r\nN:";
        text += cardText(last) + ';' + cardText(first) + ";;;\r\nFN:" + cardText(first) + ' ' + cardText(last);
        text += "\r\nTEL;type=CELL;type=pref:+1 (" + area + ") 555-" + std::to_string(1000 + random() % 9000);
        text += "\r\nTEL;type=HOME:+1 (" + area + ") 555-" + std::to_string(1000 + random() % 9000);
        text += "\r\nEMAIL;type=INTERNET:" + asciiOnly(first) + "." + asciiOnly(last) + "." + std::to_string(r) +
                "@example.org\r\nEND:VCARD\r\n";
    }
    write(text);
}

} // namespace tesselby::bench
