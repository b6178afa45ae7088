#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <doctest/doctest.h>

#include "records/Record.h"

namespace doctest {
template <> struct StringMaker<tesselby::Record> {
    static String convert(const tesselby::Record& record)
    {
        std::string text = "{";
        for (const std::string& value : record)
            text += '"' + value + "\" ";
        return String(text.c_str()) + "}";
    }
};
template <> struct StringMaker<std::vector<tesselby::Record>> {
    static String convert(const std::vector<tesselby::Record>& records)
    {
        String text = "[";
        for (const tesselby::Record& record : records)
            text += StringMaker<tesselby::Record>::convert(record);
        return text + "]";
    }
};
} // namespace doctest

// A text as UTF-16, little-endian, with a byte-order mark, as some mail programs write CSV and cards.
inline std::string utf16le(std::u16string_view text, bool mark = true)
{
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// The exact bytes the program writes for a record: one quoted item per line, CR LF line ends.
inline std::string itemLines(const tesselby::Record& record)
{
    std::string bytes;
    for (const std::string& value : record) {
        bytes += '"';
        for (const char c : value)
            bytes += c == '"' ? std::string("\"\"") : std::string(1, c);
        bytes += "\"\r\n";
    }
    return bytes;
}
