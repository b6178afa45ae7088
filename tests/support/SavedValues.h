#pragma once

#include "DataFile.h"
#include "TestDataFolder.h"

// Saves values over record number as a person typing them into the boxes would; ok only when the edit
// was written.
inline tesselby::Status saveValues(tesselby::RecordGrid& grid, std::size_t number, const tesselby::Record& values)
{
    using namespace tesselby;
    const Result<EditPlan> saved = saveRecordEdit(dataFile(), grid, number, editTo(grid, number, values));
    if (!saved)
        return saved.error();
    if (!saved.value().saved())
        return FileError{dataFile(), "the edit was not written"};
    return {};
}
