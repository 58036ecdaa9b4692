// Provisioning many modules at once against virtual modules (orvante-sim, one process a
// module) paced at 115200 baud, each with a 20 KB library imported and verified. In one
// run: one module alone, then N at once. Reported:
// - wall_ratio: N modules' wall time over the one module's (goal: at most 1.15 for 8);
// - cpu_ratio: this process's CPU for N over N times its CPU for one (goal: at most 1.2);
// - threads_per_port: the most threads this process ran, less the one it started with,
//   over N (a port's worker, its channel's monitor and the transfer's worker: 3 at most).
// The modules' processes are not counted.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "bench/sim_process.h"
#include "cli/provision.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

namespace orvante::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kLibraryBytes = 20 * 1024;
constexpr int kBaud = 115200;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int ThreadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    }
    return 0;
}

struct Measured {
    double wall = 0;
    double cpu = 0;
    int mostThreads = 0;
    bool allPassed = false;
};

// Provisions `ports` with `settings`, sampling the thread count meanwhile.
Measured Provision(const std::vector<std::string>& ports, const cli::ProvisionSettings& settings) {
    Measured measured;
    const int before = ThreadCount();
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            measured.mostThreads = std::max(measured.mostThreads, ThreadCount() - before - 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    cli::Provisioning provisioning(ports, settings, {});
    const std::vector<cli::ModuleReport> reports = provisioning.Run();
    measured.wall = std::chrono::duration<double>(Clock::now() - start).count();
    measured.cpu = CpuSeconds() - cpu;
    done = true;
    sampler.join();
    measured.allPassed = std::all_of(reports.begin(), reports.end(), [](const auto& module) {
        return module.result == cli::ModuleResult::kPassed;
    });
    return measured;
}

void BM_ProvisionAtOnce(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    test::PrivateRuntimeDir runtimeDir;
    test::TempDir files;
    std::vector<std::unique_ptr<SimProcess>> modules;
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < count; ++i) {
        modules.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
            "--baud", std::to_string(kBaud), "--library-size", std::to_string(kLibraryBytes)}));
        if (!modules.back()->IsReady()) return state.SkipWithError("a module did not start");
        ports.push_back("COM" + std::to_string(modules.back()->PortNumber()));
    }
    std::vector<std::uint8_t> image(kLibraryBytes);
    std::mt19937 random(3);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
    const std::string path = files.File("lib.db");
    test::WriteFileBytes(path, image);
    cli::ProvisionSettings settings;
    settings.profile.libraryPath = path;
    settings.profile.library = image;
    settings.line.baud = kBaud;

    for (auto _ : state) {
        const Measured one = Provision({ports.front()}, settings);
        const Measured all = Provision(ports, settings);
        if (!one.allPassed || !all.allPassed) return state.SkipWithError("a module failed");
        state.SetIterationTime(all.wall);
        state.counters["one_module_s"] = one.wall;
        state.counters["wall_ratio"] = all.wall / one.wall;
        state.counters["cpu_ratio"] = all.cpu / (static_cast<double>(count) * one.cpu);
        state.counters["threads_per_port"] =
            static_cast<double>(all.mostThreads) / static_cast<double>(count);
    }
}
BENCHMARK(BM_ProvisionAtOnce)
    ->ArgName("modules")
    ->Arg(8)
    ->Arg(16)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace orvante::bench

BENCHMARK_MAIN();
