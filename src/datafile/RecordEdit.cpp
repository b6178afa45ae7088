#include "RecordEdit.h"

namespace tesselby {

namespace {

constexpr int kFieldsThatMustStay = 2;

std::optional<std::size_t> findPerson(const RecordGrid& loaded, std::size_t number, const RecordGrid& now)
{
    if (loaded.sameRecord(number, now, number))
        return number;
    // When the loaded list held the person's values twice, only their place tells which one was shown.
    bool twinLoaded = false;
    for (std::size_t r = 1; r <= loaded.recordCount() && !twinLoaded; ++r)
        twinLoaded = r != number && loaded.sameRecord(number, loaded, r);
    std::optional<std::size_t> found;
    for (std::size_t r = 1; r <= now.recordCount() && !twinLoaded; ++r) {
        if (!loaded.sameRecord(number, now, r))
            continue;
        if (found)
            return std::nullopt; // two people alike: no telling which one was shown
        found = r;
    }
    if (found)
        return found;

    // Edited by another program in its place: between the same neighbours, most of it as it was.
    // Empty fields say nothing about who a record is, and a record that stands as someone else was
    // loaded is that someone else.
    if (number > now.recordCount())
        return std::nullopt;
    const bool before = number == 1 || loaded.sameRecord(number - 1, now, number - 1);
    const bool after = number == loaded.recordCount() || loaded.sameRecord(number + 1, now, number + 1);
    if (!before || !after)
        return std::nullopt;
    const Record asLoaded = loaded.record(number);
    int unchanged = 0;
    for (int f = 0; f < kFieldCount; ++f)
        unchanged += !asLoaded[f].empty() && loaded.sameItem(number, f, now, number) ? 1 : 0;
    if (unchanged < kFieldsThatMustStay)
        return std::nullopt;
    for (std::size_t r = 1; r <= loaded.recordCount(); ++r) {
        if (r != number && loaded.sameRecord(r, now, number))
            return std::nullopt;
    }
    return number;
}

} // namespace

RecordEdit editTo(const RecordGrid& grid, std::size_t number, const Record& values)
{
    const Record before = grid.record(number);
    RecordEdit edit;
    for (int f = 0; f < kFieldCount; ++f) {
        if (values[f] != before[f])
            edit[f] = FieldEdit{values[f], std::nullopt};
    }
    return edit;
}

EditPlan planEdit(const RecordGrid& loaded, std::size_t number, const RecordGrid& now, const RecordEdit& edit)
{
    EditPlan plan;
    const std::optional<std::size_t> at = findPerson(loaded, number, now);
    if (!at)
        return plan;
    plan.at = *at;
    const Record current = now.record(*at);
    for (int f = 0; f < kFieldCount; ++f) {
        if (!edit[f] || edit[f]->value == current[f])
            continue; // left alone, or already what the person wants: the stored bytes stay
        const bool changedElsewhere = !loaded.sameItem(number, f, now, *at);
        if (changedElsewhere && edit[f]->replaces != current[f]) {
            plan.conflicts.push_back(EditConflict{f, edit[f]->value, current[f]});
            continue;
        }
        plan.values[f] = edit[f]->value;
    }
    plan.kind = plan.conflicts.empty() ? EditPlan::Kind::Write : EditPlan::Kind::Conflicts;
    return plan;
}

} // namespace tesselby
