#include "TextDecoding.h"

#include <cstdint>

#include "format/TextEncoding.h"

namespace tesselby {

namespace {

DecodedText utf16ToUtf8(std::string_view bytes, bool littleEndian)
{
    constexpr std::uint32_t kReplacement = 0xFFFD;
    DecodedText decoded;
    decoded.text.reserve(bytes.size() / 2);
    std::size_t line = 1;
    std::uint32_t previous = 0;
    auto unitAt = [&](std::size_t at) -> std::uint32_t {
        const auto lo = static_cast<unsigned char>(bytes[at + (littleEndian ? 0 : 1)]);
        const auto hi = static_cast<unsigned char>(bytes[at + (littleEndian ? 1 : 0)]);
        return static_cast<std::uint32_t>(hi) << 8 | lo;
    };
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        if (at + 1 == bytes.size()) {
            decoded.broken.push_back({line, "the file ends inside a UTF-16 character"});
            appendUtf8(decoded.text, kReplacement);
            break;
        }
        std::uint32_t code = unitAt(at);
        if (code >= 0xD800 && code < 0xDC00 && at + 3 < bytes.size() && unitAt(at + 2) >= 0xDC00 &&
            unitAt(at + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(at + 2) - 0xDC00);
            at += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            if (decoded.broken.empty() || decoded.broken.back().line != line)
                decoded.broken.push_back({line, "a broken UTF-16 character"});
            code = kReplacement;
        }
        appendUtf8(decoded.text, code);
        if (code == '\r' || (code == '\n' && previous != '\r'))
            ++line;
        previous = code;
    }
    return decoded;
}

bool startsWith(std::string_view bytes, std::string_view prefix)
{
    return bytes.substr(0, prefix.size()) == prefix;
}

} // namespace

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

DecodedText decodeFileText(std::string_view bytes)
{
    if (startsWith(bytes, kByteOrderMark))
        return DecodedText{std::string(bytes.substr(kByteOrderMark.size())), {}};
    if (startsWith(bytes, "\xFF\xFE"))
        return utf16ToUtf8(bytes.substr(2), true);
    if (startsWith(bytes, "\xFE\xFF"))
        return utf16ToUtf8(bytes.substr(2), false);
    // Some programs write UTF-16 without a mark; a text that starts with ASCII shows it by its zero bytes.
    if (bytes.size() >= 4 && bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0)
        return utf16ToUtf8(bytes, true);
    if (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] != 0 && bytes[2] == 0 && bytes[3] != 0)
        return utf16ToUtf8(bytes, false);
    return DecodedText{std::string(bytes), {}};
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        const char y = (b[i] >= 'a' && b[i] <= 'z') ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

std::string upperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return upper;
}

std::optional<std::string> charsetToUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string name = upperAscii(charset);
    std::string out;
    if (name == "ISO-8859-1" || name == "LATIN1" || name == "ISO8859-1") {
        for (const char c : bytes)
            appendUtf8(out, static_cast<unsigned char>(c));
        return out;
    }
    const bool utf8 = name.empty() || name == "UTF-8" || name == "UTF8" || name == "US-ASCII" || name == "ASCII";
    if (utf8 && isValidUtf8(bytes))
        return std::string(bytes);
    // A value that says UTF-8 but is not is most likely the sender's single-byte Windows text.
    if (utf8 || name == "WINDOWS-1252" || name == "CP1252") {
        appendWindows1252AsUtf8(out, bytes);
        return out;
    }
    return std::nullopt;
}

} // namespace tesselby
