#pragma once

#include <doctest/doctest.h>
#include <string>
#include <vector>

// Lists of names and items shown whole in a failed check, not as {?}.
template <> struct doctest::StringMaker<std::vector<std::string>> {
    static doctest::String convert(const std::vector<std::string>& list)
    {
        std::string text = "{";
        for (const std::string& item : list)
            text += (text.size() > 1 ? ", \"" : "\"") + item + "\"";
        return (text + "}").c_str();
    }
};
