// Times one add to a list of a million people: as the program makes it, with its journal and the check
// that the list was not replaced meanwhile, against the same add without them (the steps an add took
// before it kept a journal), in the same run on the same disk.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "DataFile.h"
#include "DataGenerator.h"
#include "disk/FileLock.h"
#include "disk/FileSystem.h"
#include "disk/NativeFile.h"
#include "disk/SafeReplace.h"
#include "format/ItemWriter.h"
#include "format/ListEnd.h"

using namespace tesselby;

namespace {

const Record kPerson{"Bench", "Mark", "555-0100", "bench@example.org"};

// A list of records people of its own, so that other benchmarks' lists do not grow.
std::filesystem::path listOf(std::size_t records)
{
    const char* base = std::getenv("TESSELBY_BENCH_DIR");
    const std::filesystem::path list = std::filesystem::path(base ? base : "/tmp/tesselby-bench") /
                                       ("add-" + std::to_string(records)) / "tesselby.txt";
    if (!std::filesystem::exists(list)) {
        std::filesystem::create_directories(list.parent_path());
        std::ofstream out(list, std::ios::binary);
        bench::generateDataFile(records, [&out](std::string_view part) {
            out.write(part.data(), static_cast<std::streamsize>(part.size()));
        });
    }
    return list;
}

// The add without a journal: lock, open, find how the list ends, write, sync, close.
Status appendWithoutJournal(const std::filesystem::path& target, const Record& record)
{
    Result<FileLock> lock = FileLock::acquire(target);
    if (!lock)
        return lock.error();
    if (Status restored = restoreFromSaveGuard(target); !restored)
        return restored;
    Result<NativeFile> file = NativeFile::open(target, NativeFile::Access::Append);
    if (!file)
        return file.error();
    const Result<ListEnd> end =
        scanListEnd([&file](char* into, std::size_t room) { return file.value().readSome(into, room); });
    if (!end)
        return end.error();
    std::string lines = end.value().completion();
    for (const std::string& value : record)
        appendItem(lines, value);
    if (Status written = file.value().write(lines); !written)
        return written;
    if (Status synced = file.value().sync(); !synced)
        return synced;
    return file.value().close();
}

void BM_AddWithJournal(benchmark::State& state)
{
    const std::filesystem::path list = listOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!appendRecord(list, kPerson))
            state.SkipWithError("the add failed");
    }
}

void BM_AddWithoutJournal(benchmark::State& state)
{
    const std::filesystem::path list = listOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        if (!appendWithoutJournal(list, kPerson))
            state.SkipWithError("the add failed");
    }
}

} // namespace

BENCHMARK(BM_AddWithoutJournal)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_AddWithJournal)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);

BENCHMARK_MAIN();
