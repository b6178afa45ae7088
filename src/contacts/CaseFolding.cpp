#include "CaseFolding.h"

#include <algorithm>
#include <iterator>

#include "CaseFoldingTable.h"
#include "TextDecoding.h"

namespace tesselby {

namespace {

// The code point of the well-formed sequence at text[at] and its length, or a length of 0.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || length == 0 || at + length > text.size())
        return {0, 0};
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {0, 0};
        code = (code << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return {0, 0};
    return {code, length};
}

} // namespace

std::string foldCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++at;
            continue;
        }
        const auto [code, length] = decodeAt(text, at);
        if (length == 0) {
            folded += text[at++];
            continue;
        }
        const auto found = std::lower_bound(std::begin(kCaseFoldings), std::end(kCaseFoldings), code,
                                            [](const CaseFolding& entry, char32_t key) { return entry.code < key; });
        if (found != std::end(kCaseFoldings) && found->code == code) {
            for (const char32_t part : found->folded)
                if (part != 0)
                    appendUtf8(folded, part);
        } else {
            folded.append(text.substr(at, length));
        }
        at += length;
    }
    return folded;
}

} // namespace tesselby
