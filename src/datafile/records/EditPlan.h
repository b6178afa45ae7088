#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "records/Record.h"
#include "records/RecordGrid.h"

namespace tesselby {

// One field as the person left it: the text they typed over the value shown.
struct FieldEdit {
    std::string value;
    // Another program's value for this field, saved since the load, that the person chose to replace.
    std::optional<std::string> replaces;
};
// The fields the person changed in one record; a field they left alone has none.
using RecordEdit = PerField<std::optional<FieldEdit>>;

// The fields of edit that differ from record number of grid: what a person typing values did.
RecordEdit editTo(const RecordGrid& grid, std::size_t number, const Record& values);

// A field the person changed that another program changed too since the load.
struct EditConflict {
    Field field = Field::FirstName;
    std::string mine;
    std::string theirs;
};

// What a save of an edit comes to, against the file as it is now.
struct EditPlan {
    enum class Kind {
        Write,          // the person was found at `at`; values holds what changes
        PersonNotFound, // gone, or standing in several places: nothing may be written
        Conflicts,      // the person must choose for each conflict first; nothing is written
    };
    Kind kind = Kind::PersonNotFound;
    std::size_t at = 0;
    FieldValues values;
    std::vector<EditConflict> conflicts;

    bool saved() const { return kind == Kind::Write; }
};

// Finds the person loaded as record number of loaded in now, the file as it is, comparing records by
// their values:
// - at the same number when that record is unchanged;
// - else where exactly their loaded values stand, when that is one place and no other loaded record
//   held the same values;
// - else at the same number when the loaded neighbours stand unchanged on either side (or the file's
//   start or end), at least two of the person's non-empty values are still there, and the record
//   there is not another loaded person, nor shares as many values with one who no longer stands
//   unchanged in their own place: another program changed some of the person's fields.
// Fields the person left alone keep what now holds; a changed field another program changed too is a
// conflict unless both hold the same value or the person chose to replace exactly that other value.
EditPlan planEdit(const RecordGrid& loaded, std::size_t number, const RecordGrid& now, const RecordEdit& edit);

} // namespace tesselby
