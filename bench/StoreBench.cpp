// Time to read a store file of the largest size the driver accepts (1 MiB),
// filled with the shapes that cost most per byte: many short keys, or many
// short values in one key. The driver reads the store at start and at exit,
// so this bounds how long a hostile or runaway file can hold it up.
//
// Run: build/bench/oru-bench-store

#include "platform/linux/FileRegistryStore.h"
#include "settings/StoreContents.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using oru::FileRegistryStore;
using oru::StoreContents;

constexpr std::size_t kLimitBytes = FileRegistryStore::kMaxFileBytes;

std::string manyKeys()
{
    std::string text;
    for (int i = 0; text.size() + 16 < kLimitBytes; ++i) text += "[K" + std::to_string(i) + "]\n";
    return text;
}

std::string manyValues()
{
    std::string text = "[Software\\oruDriver]\n";
    for (int i = 0; text.size() + 32 < kLimitBytes; ++i) text += "\"V" + std::to_string(i) + "\" = int 1\n";
    return text;
}

void parse(benchmark::State& state, const std::string& text)
{
    std::string problem;
    for (auto _ : state) {
        auto contents = StoreContents::parse(text, problem);
        if (!contents) state.SkipWithError(problem.c_str());
        benchmark::DoNotOptimize(contents);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ParseOneMiBOfKeys(benchmark::State& state)
{
    static const std::string text = manyKeys();
    parse(state, text);
}
BENCHMARK(BM_ParseOneMiBOfKeys)->Unit(benchmark::kMillisecond);

void BM_ParseOneMiBOfValuesInOneKey(benchmark::State& state)
{
    static const std::string text = manyValues();
    parse(state, text);
}
BENCHMARK(BM_ParseOneMiBOfValuesInOneKey)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
