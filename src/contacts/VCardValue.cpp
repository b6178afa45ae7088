#include "VCardValue.h"

#include <algorithm>

#include "TextDecoding.h"
#include "format/TextEncoding.h"

namespace tesselby {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string quotedPrintable(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i]; // a stray "=" is kept as it stands
        }
    }
    return out;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string base64(std::string_view text)
{
    std::string out;
    unsigned bits = 0;
    int held = 0;
    for (const char c : text) {
        const int value = base64Value(c);
        if (value < 0)
            continue; // padding and the spaces some writers fold with
        bits = (bits << 6) | static_cast<unsigned>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    return out;
}

std::string unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            // The run up to the next backslash at once.
            const std::size_t end = std::min(text.find('\\', i + 1), text.size());
            out.append(text.substr(i, end - i));
            i = end - 1;
            continue;
        }
        const char next = text[++i];
        if (next == 'n' || next == 'N')
            out += "\r\n";
        else if (next == ',' || next == ';' || next == '\\' || next == ':')
            out += next;
        else
            out.append({'\\', next}); // not an escape: kept as written
    }
    return out;
}

} // namespace

std::optional<std::string_view> valueComponent(std::string_view value, std::size_t index)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\') {
            ++i;
        } else if (value[i] == ';') {
            if (index-- == 0)
                return value.substr(start, i - start);
            start = i + 1;
        }
    }
    if (index > 0)
        return std::nullopt;
    return value.substr(std::min(start, value.size()));
}

std::variant<std::string, VCardValueError> decodeValue(const VCardProperty& property, std::string_view part)
{
    // Most values of most cards: nothing to decode, convert or unescape.
    if (property.parameters.empty() || (!property.parameter("ENCODING") && !property.parameter("CHARSET"))) {
        if (part.find('\\') == std::string_view::npos && isValidUtf8(part))
            return std::string(part);
    }
    const std::string encoding = upperAscii(property.parameter("ENCODING").value_or(""));
    std::string bytes;
    if (encoding == "QUOTED-PRINTABLE")
        bytes = quotedPrintable(part);
    else if (encoding == "B" || encoding == "BASE64")
        bytes = base64(part);
    else if (encoding.empty() || encoding == "7BIT" || encoding == "8BIT")
        bytes = std::string(part);
    else
        return VCardValueError{"the encoding " + encoding + " is not known"};
    const std::optional<std::string> text = charsetToUtf8(bytes, property.parameter("CHARSET").value_or(""));
    if (!text)
        return VCardValueError{"the character set " + std::string(*property.parameter("CHARSET")) + " is not known"};
    return unescaped(*text);
}

} // namespace tesselby
