#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ContactProblem.h"

namespace tesselby {

struct CsvRow {
    std::size_t line = 0;    // where the row starts
    std::size_t endLine = 0; // where it ends
    std::vector<std::string> fields;
};

struct CsvRead {
    std::vector<CsvRow> rows;
    std::vector<ContactProblem> problems;
};

// Reads RFC 4180 rows: fields separated by commas, quoted fields holding commas, doubled quotes and
// line breaks exactly; CR LF, LF or CR ending a row; blank lines skipped. A row with a quote where none
// may stand is left out with a problem, and reading goes on at the next line; a quote never closed
// ends the reading.
CsvRead readCsv(std::string_view text);

} // namespace tesselby
