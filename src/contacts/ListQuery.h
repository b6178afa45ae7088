#pragma once

#include <string>
#include <string_view>

#include "CaseFolding.h"
#include "ContactWriter.h"
#include "ListValues.h"
#include "records/Field.h"

namespace tesselby {

// The match rule of list, which remove shares: the fields, the first and last name joined, and whether
// case counts.
struct Query {
    std::string text;
    PerField<bool> fields{};
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
        for (const Field field : kFields)
            if (fields[field] && holds(values[field]))
                return true;
        return wholeName && holds(fullName(values[Field::FirstName], values[Field::LastName]));
    }
};

} // namespace tesselby
