// Symbol files: `dump` of the library itself (beside reading its bytes, the I/O floor), and the
// symbolication of a 40-frame backtrace against the symbols of a 5 MB binary, from the cache
// (beside the first resolution, which reads and parses the file).
#include "Dumper.h"
#include "SymbolStore.h"
#include "support/TestEnv.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void BM_ReadLibraryBytes(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(readAll(QUILLON_LIBRARY_PATH).size());
    state.counters["MB"] = static_cast<double>(readAll(QUILLON_LIBRARY_PATH).size()) / 1e6;
}
BENCHMARK(BM_ReadLibraryBytes)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DumpLibrary(benchmark::State& state) {
    std::size_t functions = 0, lines = 0;
    for (auto _ : state) {
        std::string error;
        auto sf = symbols::dumpSymbols(QUILLON_LIBRARY_PATH, {}, error);
        if (!sf) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(sf->serialize().size());
        functions = sf->functions.size();
        lines = sf->lines.size();
    }
    state.counters["functions"] = static_cast<double>(functions);
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_DumpLibrary)->Unit(benchmark::kMillisecond)->Iterations(3);

// The library's own symbols, repeated at higher offsets until they cover 5 MB of code.
struct FiveMegabyteSymbols {
    std::string dir = testenv::makeTempDir("symbols-bench");
    symbols::SymbolStore store{dir};
    std::string backtrace;
    std::size_t functions = 0, lines = 0;
    FiveMegabyteSymbols() {
        std::string error;
        auto one = symbols::dumpSymbols(QUILLON_LIBRARY_PATH, {}, error);
        if (!one || one->functions.empty()) return;
        symbols::SymbolFile big = *one;
        big.module = "bigapp";
        const std::uint64_t span = one->functions.back().start + one->functions.back().size;
        for (std::uint64_t shift = span; shift < 5000000; shift += span) {
            for (auto f : one->functions) big.functions.push_back({f.start + shift, f.size, f.name});
            for (auto l : one->lines) big.lines.push_back({l.start + shift, l.size, l.line, l.file});
        }
        big.normalize();
        functions = big.functions.size();
        lines = big.lines.size();
        if (!store.put("bench", "1.0(1)", big.serialize(), error)) return;
        std::mt19937_64 random(7);
        const std::uint64_t end = big.functions.back().start + big.functions.back().size;
        for (int i = 0; i < 40; ++i) {
            char line[200];
            const std::uint64_t offset = random() % end;
            std::snprintf(line, sizeof line, "%-3d %-35s 0x%016lx 0x%016lx %s + %d\n", i,
                          i % 4 == 3 ? "libc.so.6" : "bigapp", static_cast<unsigned long>(0x5500000000 + offset),
                          static_cast<unsigned long>(offset), "(null)", 0);
            backtrace += line;
        }
    }
};

FiveMegabyteSymbols& fiveMegabytes() {
    static FiveMegabyteSymbols s;
    return s;
}

void BM_Resolve40FramesFirstTime(benchmark::State& state) {
    auto& s = fiveMegabytes();
    for (auto _ : state) {
        symbols::SymbolStore fresh{s.dir};  // empty cache: reads and parses the file
        benchmark::DoNotOptimize(fresh.resolveBacktrace("bench", "1.0(1)", s.backtrace, true).size());
    }
    state.counters["functions"] = static_cast<double>(s.functions);
    state.counters["lines"] = static_cast<double>(s.lines);
}
BENCHMARK(BM_Resolve40FramesFirstTime)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Resolve40FramesCached(benchmark::State& state) {
    auto& s = fiveMegabytes();
    std::size_t resolved = 0;
    for (auto _ : state) {
        resolved = 0;
        for (const auto& r : s.store.resolveBacktrace("bench", "1.0(1)", s.backtrace, true)) resolved += r ? 1 : 0;
    }
    state.counters["resolved_frames"] = static_cast<double>(resolved);
}
BENCHMARK(BM_Resolve40FramesCached)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
