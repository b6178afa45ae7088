#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Record.h"

namespace tesselby {

// Something in an imported file that could not be read, at the line (from 1) where it starts.
struct ContactProblem {
    std::size_t line = 0;
    std::string message;
};

// What a file to import held: the people read, in file order, and what was skipped.
struct ContactsRead {
    std::vector<Record> records;
    std::vector<ContactProblem> problems;
};

} // namespace tesselby
