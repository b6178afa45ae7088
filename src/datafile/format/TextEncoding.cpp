#include "format/TextEncoding.h"

#include <cstdint>
#include <cstring>

namespace tesselby {

namespace {

bool isAscii(std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull)
            return false;
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        if (static_cast<unsigned char>(*p) & 0x80)
            return false;
        ++p;
        --n;
    }
    return true;
}

// Code points for bytes 0x80..0x9F; the five bytes Windows leaves unassigned keep their C1 control value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

std::size_t validUtf8Prefix(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Most text is ASCII: eight bytes at a time while it lasts.
        if (n - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // overlong
            if (c == 0xED)
                high = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90; // overlong
            if (c == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return i;
        }
        if (n - i < length)
            return i;
        if (s[i + 1] < low || s[i + 1] > high)
            return i;
        for (std::size_t k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return n;
}

bool isValidUtf8(std::string_view bytes)
{
    return isAscii(bytes) || validUtf8Prefix(bytes) == bytes.size();
}

void appendWindows1252AsUtf8(std::string& out, std::string_view bytes)
{
    out.reserve(out.size() + bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
            continue;
        }
        const char16_t cp = c < 0xA0 ? kWindows1252High[c - 0x80] : char16_t(c);
        if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

} // namespace tesselby
