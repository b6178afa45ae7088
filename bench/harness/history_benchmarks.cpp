// What the list's history costs: an add and an EDIT of a middle record with the history kept, against the
// same with it off, in the same run on the same disk, at 1,000,000 and 10,000,000 people; and, run as
//     history_benchmarks --disk-use RECORDS ADDS EDITS
// how many bytes the history grew by over that many adds and edits, against the bytes they touched.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "DataFile.h"
#include "DataGenerator.h"
#include "disk/FileSystem.h"
#include "history/HistoryLog.h"
#include "history/ListHistory.h"
#include "records/EditPlan.h"

using namespace tesselby;

namespace {

const Record kPerson{"Bench", "Mark", "555-0100", "bench@example.org"};

std::filesystem::path benchFolder()
{
    const char* base = std::getenv("TESSELBY_BENCH_DIR");
    return std::filesystem::path(base ? base : "/tmp/tesselby-bench");
}

// A list of records people of its own, its history in a state folder of the benchmarks' own. The
// changes without the history go to a copy of their own, so that the history of the other never meets
// a change it did not see (which would make it compare, and keep a copy of, the whole list).
std::filesystem::path listOf(std::size_t records, bool kept)
{
    static const bool stateSet = [] {
        (void)::setenv("XDG_STATE_HOME", (benchFolder() / "state").c_str(), 0);
        return true;
    }();
    (void)stateSet;
    const std::filesystem::path list =
        benchFolder() / ("history-" + std::to_string(records) + (kept ? "" : "-off")) / "tesselby.txt";
    if (!std::filesystem::exists(list)) {
        std::filesystem::create_directories(list.parent_path());
        std::ofstream out(list, std::ios::binary);
        bench::generateDataFile(records, [&out](std::string_view part) {
            out.write(part.data(), static_cast<std::streamsize>(part.size()));
        });
    }
    setHistoryKept(kept);
    // The history begins (its one copy of the list) before anything is timed.
    if (kept && !appendRecord(list, kPerson))
        std::abort();
    return list;
}

void add(benchmark::State& state, bool kept)
{
    const std::filesystem::path list = listOf(static_cast<std::size_t>(state.range(0)), kept);
    for (auto _ : state)
        if (!appendRecord(list, kPerson))
            state.SkipWithError("the add failed");
    setHistoryKept(true);
}

// An EDIT of the middle record's phone number, to a new one of the same length each time, as the browse
// screen saves it.
void edit(benchmark::State& state, bool kept)
{
    const std::filesystem::path list = listOf(static_cast<std::size_t>(state.range(0)), kept);
    Result<RecordGrid> grid = loadRecordGrid(list);
    if (!grid)
        std::abort();
    const std::size_t middle = grid.value().recordCount() / 2;
    static int next = 0;
    for (auto _ : state) {
        Record values = grid.value().record(middle);
        values[2] = "555-" + std::to_string(1000 + next++ % 9000);
        if (!saveRecordEdit(list, grid.value(), middle, editTo(grid.value(), middle, values)))
            state.SkipWithError("the edit failed");
    }
    setHistoryKept(true);
}

void BM_AddWithHistory(benchmark::State& state)
{
    add(state, true);
}
void BM_AddWithoutHistory(benchmark::State& state)
{
    add(state, false);
}
void BM_EditWithHistory(benchmark::State& state)
{
    edit(state, true);
}
void BM_EditWithoutHistory(benchmark::State& state)
{
    edit(state, false);
}

// Prints "touched grown" in bytes: what the adds and edits wrote or replaced in the list, and how much
// the history grew by after its beginning.
int diskUse(std::size_t records, int adds, int edits)
{
    const std::filesystem::path list = listOf(records, true);
    const std::filesystem::path history = HistoryLog::pathFor(finalTarget(list).value());
    const std::uintmax_t before = std::filesystem::file_size(history);
    std::uintmax_t touched = 0;
    for (int i = 0; i < adds; ++i) {
        const std::uintmax_t size = std::filesystem::file_size(list);
        if (!appendRecord(list, kPerson))
            return 1;
        touched += std::filesystem::file_size(list) - size;
    }
    Result<RecordGrid> grid = loadRecordGrid(list);
    if (!grid)
        return 1;
    for (int i = 0; i < edits; ++i) {
        const std::size_t number = 1 + (static_cast<std::size_t>(i) * 7919) % grid.value().recordCount();
        Record values = grid.value().record(number);
        const Record old = values;
        values[2] = "555-" + std::to_string(1000 + i);
        if (!saveRecordEdit(list, grid.value(), number, editTo(grid.value(), number, values)))
            return 1;
        // An edit touches the record's old bytes and its new ones.
        for (int f = 0; f < kFieldCount; ++f)
            touched += old[f].size() + values[f].size() + 6;
    }
    std::cout << touched << ' ' << std::filesystem::file_size(history) - before << '\n';
    return 0;
}

// The fastest of the repetitions, as for the screens' figures: the slower ones measure the machine.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

} // namespace

// Run with --benchmark_enable_random_interleaving, so that the two sides of each pair meet the same disk.
#define TESSELBY_HISTORY_SIZES                                                                                         \
    Arg(1000000)                                                                                                       \
        ->Arg(10000000)                                                                                                \
        ->Unit(benchmark::kMillisecond)                                                                                \
        ->ComputeStatistics("min", fastest)                                                                            \
        ->ReportAggregatesOnly(true)
BENCHMARK(BM_AddWithoutHistory)->TESSELBY_HISTORY_SIZES->Repetitions(7);
BENCHMARK(BM_AddWithHistory)->TESSELBY_HISTORY_SIZES->Repetitions(7);
// One EDIT a repetition: at 10,000,000 people each writes the whole list anew and waits for the disk,
// and the fastest single one is the figure least disturbed by the rest of the machine.
BENCHMARK(BM_EditWithoutHistory)->TESSELBY_HISTORY_SIZES->Repetitions(15)->Iterations(1);
BENCHMARK(BM_EditWithHistory)->TESSELBY_HISTORY_SIZES->Repetitions(15)->Iterations(1);

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--disk-use")
        return diskUse(std::stoul(argv[2]), std::stoi(argv[3]), std::stoi(argv[4]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
