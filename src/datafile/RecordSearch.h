#pragma once

#include <string_view>
#include <vector>

#include "Record.h"

namespace tesselby {

// Every whole record whose field (1..4) contains needle, compared exactly, in file order. An empty
// needle matches every non-empty field; an empty field matches nothing. The items of a trailing
// incomplete record are never tested.
std::vector<Record> searchRecords(std::string_view fileText, int field, std::string_view needle);

} // namespace tesselby
