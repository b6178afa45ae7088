#pragma once

#include <filesystem>
#include <string>

#include "FileError.h"
#include "Record.h"
#include "RecordGrid.h"

namespace tesselby {

// The data file's whole text. A file that does not exist yet reads as an empty list.
Result<std::string> readDataFile(const std::filesystem::path& path);

// Reads the data file and indexes every record in it.
Result<RecordGrid> loadRecordGrid(const std::filesystem::path& path);

// Appends one record as four item lines in a single write, starting on a new line, and flushes it to
// disk. Creates the file (owner-only) and its folder when missing. On failure the file is as it was.
Status appendRecord(const std::filesystem::path& path, const Record& record);

// Saves the grid's edits: puts them into the file as it is now and replaces it in one step, so the
// file always holds either its old or its new content. Records that reached the file since the grid
// was loaded are kept. On success the grid holds what was written; on failure it is as it was, its
// edits still waiting.
Status saveRecordGrid(const std::filesystem::path& path, RecordGrid& grid);

} // namespace tesselby
