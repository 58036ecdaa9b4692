// Library export and import against the virtual module paced as a real line, reported as
// wall time over the line's bound (bytes both ways, 10 bits a byte). The minimal client
// (raw tty, nothing else) shows what the module and this machine cost by themselves.
//
// ORVANTE_BENCH_LIBRARY_BYTES sets the library size (default 65536) for quicker runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "bench/minimal_client.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"

namespace orvante::bench {
namespace {

constexpr std::uint16_t kConsoleAddress = 0x0001;

std::size_t LibraryBytes() {
    if (const char* text = std::getenv("ORVANTE_BENCH_LIBRARY_BYTES")) {
        const long value = std::strtol(text, nullptr, 10);
        if (value > 0 && value <= 65536) return static_cast<std::size_t>(value);
    }
    return 65536;
}

std::vector<std::uint8_t> RandomImage(std::size_t size) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
    return image;
}

// A virtual module with a library of the bench's size, paced at `baud` (0: unpaced).
struct PacedModule {
    test::PrivateRuntimeDir runtimeDir;
    test::SimLine line;

    explicit PacedModule(int baud) : line(Options()) {
        sim::Faults faults;
        faults.baud = baud;
        line.WithModule([&](sim::VirtualModule& module) { module.SetFaults(faults); });
    }
    static test::SimLineOptions Options() {
        test::SimLineOptions options;
        options.module.librarySize = LibraryBytes();
        return options;
    }
};

void Report(benchmark::State& state, const LockStepResult& result, int baud) {
    if (!result.ok) {
        state.SkipWithError("the transfer did not complete");
        return;
    }
    state.SetIterationTime(std::chrono::duration<double>(result.wall).count());
    state.counters["blocks"] = static_cast<double>(result.blocks);
    if (baud > 0) state.counters["ratio_to_line"] = RatioToLineBound(result, baud);
}

void BM_MinimalClientExport(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    PacedModule module(baud);
    for (auto _ : state)
        Report(state, MinimalExport(module.line.SlavePath(), kConsoleAddress), baud);
}

void BM_MinimalClientImport(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    PacedModule module(baud);
    const std::vector<std::uint8_t> image = RandomImage(LibraryBytes());
    for (auto _ : state) {
        Report(state, MinimalImport(module.line.SlavePath(), kConsoleAddress, image), baud);
    }
}

void LineRates(benchmark::internal::Benchmark* bench) {
    bench->ArgName("baud")->Arg(9600)->Arg(115200)->Arg(230400)->Iterations(1)->UseManualTime();
    bench->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_MinimalClientExport)->Apply(LineRates);
BENCHMARK(BM_MinimalClientImport)->Apply(LineRates);

}  // namespace
}  // namespace orvante::bench

BENCHMARK_MAIN();
