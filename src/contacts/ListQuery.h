#pragma once

#include <array>
#include <string>
#include <string_view>

#include "CaseFolding.h"
#include "ListValues.h"
#include "records/Record.h"

namespace tesselby {

// The match rule of list, which remove shares.
inline constexpr std::array<std::string_view, kFieldCount> kFieldNames = {"first", "last", "phone", "email"};

inline std::string fullName(std::string_view first, std::string_view last)
{
    std::string name(first);
    if (!first.empty() && !last.empty())
        name += ' ';
    name += last;
    return name;
}

// What to look for, and where: the fields, the first and last name joined, and whether case counts.
struct Query {
    std::string text;
    std::array<bool, kFieldCount> fields{};
    bool wholeName = false;
    bool ignoreCase = false;

    bool matches(const ListValues::Values& values) const
    {
        auto holds = [this](std::string_view value) {
            if (value.empty())
                return false;
            return ignoreCase ? foldCase(value).find(text) != std::string::npos
                              : value.find(text) != std::string_view::npos;
        };
        for (int field = 0; field < kFieldCount; ++field)
            if (fields[field] && holds(values[field]))
                return true;
        return wholeName && holds(fullName(values[0], values[1]));
    }
};

} // namespace tesselby
