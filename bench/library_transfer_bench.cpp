// Library export and import against the virtual module (orvante-sim, its own process)
// timed as a real line, reported as wall time over the line's bound: the bytes both ways,
// 10 bits a byte. Three clients, on the same module in the same run:
// - the console as an operator uses it: the dialog with its event log in the Qt window
//   (offscreen), the channel and its monitor, the transfer worker;
// - the command line: the headless session orvante-cli is built on, in this process (the
//   channel and its monitor, the transfer worker, no window thread);
// - a minimal client (raw tty, lock-step, nothing else), which shows what the module and
//   this machine cost by themselves.
// A client's own cost is its ratio minus the minimal client's. Unpaced, the console's and
// the command line's blocks per second and CPU time per block (the module's process is
// not counted). Then the console and the command line against the virtual module built
// into the program (the demo port), paced at the line's rate; its thread is counted.
//
// ORVANTE_BENCH_LIBRARY_BYTES sets the library size (default 65536) for quicker runs.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <utility>

#include "bench/console_driver.h"
#include "bench/minimal_client.h"
#include "bench/sim_process.h"
#include "protocol/replies.h"
#include "serial/in_process_port.h"
#include "serial/port_list.h"
#include "session/session.h"
#include "sim/demo_ports.h"
#include "tests/support/runtime_dir.h"
#include "ui/console_dlg.h"
#include "ui/qt/qt_window.h"

namespace orvante::bench {
namespace {

constexpr std::uint16_t kConsoleAddress = 0x1234;  // the module's, as after a handshake

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

// Blocks of 50 and a short last one; every block a request and a reply, 12 bytes each
// beside the block's own bytes, in either direction.
std::uint64_t LineBytesOfTransfer(std::size_t libraryBytes) {
    const std::uint64_t blocks = libraryBytes / 50 + 1;
    return blocks * 24 + libraryBytes;
}

// A private ports directory with the virtual module in it, paced at `baud` (0: unpaced).
struct Module {
    test::PrivateRuntimeDir runtimeDir;
    SimProcess sim;

    explicit Module(int baud) : sim(Options(baud)) {}

    static std::vector<std::string> Options(int baud) {
        std::vector<std::string> options{"--library-size", std::to_string(LibraryBytes())};
        if (baud > 0) options.insert(options.end(), {"--baud", std::to_string(baud)});
        return options;
    }
};

// The built-in module, started clean with a library of the size measured, in a state
// folder of its own; listed in the port list as orvante --demo lists it.
struct BuiltInModule {
    test::PrivateStateDir stateDir;
    std::string name = "demo:clean,library-size=" + std::to_string(LibraryBytes());

    BuiltInModule() {
        sim::RegisterDemoPorts();
        serial::ListInProcessPort(name, sim::kDemoPortLabel);
    }
    ~BuiltInModule() { serial::ForgetInProcessPorts(); }
    int PortNumber() const {
        for (const auto& [number, entry] : serial::ScanDeviceMap()) {
            if (entry.devicePath == name) return number;
        }
        return 0;
    }
};

void ReportRatio(benchmark::State& state, Clock::duration wall, std::uint64_t lineBytes, int baud) {
    state.SetIterationTime(std::chrono::duration<double>(wall).count());
    if (baud > 0) {
        const double bound = static_cast<double>(lineBytes) * 10.0 / baud;
        state.counters["ratio_to_line"] = std::chrono::duration<double>(wall).count() / bound;
    }
}

// ---- the minimal client ----

void BM_MinimalClient(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool isImport = state.range(1) != 0;
    Module module(baud);
    if (!module.sim.IsReady()) return state.SkipWithError("the virtual module did not start");
    const std::vector<std::uint8_t> image = RandomImage(LibraryBytes());
    for (auto _ : state) {
        const LockStepResult result =
            isImport ? MinimalImport(module.sim.TtyPath(), kConsoleAddress, image)
                     : MinimalExport(module.sim.TtyPath(), kConsoleAddress);
        if (!result.ok) return state.SkipWithError("the transfer did not complete");
        ReportRatio(state, result.wall, result.lineBytes, baud);
        state.counters["blocks"] = static_cast<double>(result.blocks);
    }
}

// ---- the console ----

void BM_Console(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool isImport = state.range(1) != 0;
    const bool builtIn = state.range(2) != 0;
    std::optional<Module> module;
    std::optional<BuiltInModule> builtInModule;
    int port = 0;
    if (builtIn) {
        port = builtInModule.emplace().PortNumber();
    } else {
        if (!module.emplace(baud).sim.IsReady()) {
            return state.SkipWithError("the virtual module did not start");
        }
        port = module->sim.PortNumber();
    }
    QTemporaryDir files;
    const QString path = files.filePath("library.db");
    if (isImport) {
        const std::vector<std::uint8_t> image = RandomImage(LibraryBytes());
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    Console console(port, baud);
    if (!console.IsConnected()) return state.SkipWithError("the console did not connect");
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        const auto wall = isImport ? console.Transfer(ui::IDC_IMPORT_LIBRARY, path, "导入成功！")
                                   : console.Transfer(ui::IDC_EXPORT_LIBRARY, path, "导出成功！");
        if (!wall) return state.SkipWithError("the transfer did not complete");
        const std::uint64_t lineBytes = LineBytesOfTransfer(LibraryBytes());
        ReportRatio(state, *wall, lineBytes, baud);
        const double blocks = static_cast<double>(LibraryBytes() / 50 + 1);
        state.counters["blocks_per_s"] = blocks / std::chrono::duration<double>(*wall).count();
        state.counters["cpu_us_per_block"] = (ProcessCpuSeconds() - cpuBefore) * 1e6 / blocks;
    }
}

// ---- the command line ----

// The session as orvante-cli drives it for `--port COM<n> --baud B export|import FILE`:
// opened by the module's COM name, connected with the handshake, then one transfer an
// iteration, timed from its start to the end of WaitTransfer as the program times its
// own "seconds". No hooks: the program logs only with --verbose and draws its progress
// line only on a terminal.
void BM_CommandLine(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool isImport = state.range(1) != 0;
    const bool builtIn = state.range(2) != 0;
    std::optional<Module> module;
    std::optional<BuiltInModule> builtInModule;
    std::string portName;
    if (builtIn) {
        portName = builtInModule.emplace().name;
    } else {
        if (!module.emplace(baud).sim.IsReady()) {
            return state.SkipWithError("the virtual module did not start");
        }
        portName = "COM" + std::to_string(module->sim.PortNumber());
    }
    QTemporaryDir files;
    const std::string path = files.filePath("library.db").toStdString();
    if (isImport) {
        const std::vector<std::uint8_t> image = RandomImage(LibraryBytes());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    session::Session session;
    const session::PortName port = session::ResolvePortName(portName, serial::ScanDeviceMap());
    if (session.Open(port, {.baud = baud > 0 ? baud : 230400}).status !=
        serial::PortOpenStatus::kOpened) {
        return state.SkipWithError("the session did not open the port");
    }
    if (session.Connect(protocol::kReplyTimeout) != session::WaitEnd::kAnswered) {
        return state.SkipWithError("the session did not connect");
    }
    const library::TransferJob job{
        isImport ? protocol::kCmdImportBlock : protocol::kCmdExportBlock, path, 1};
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        const auto start = Clock::now();
        if (!session.StartTransfer(job)) return state.SkipWithError("the transfer did not start");
        const library::TransferProgress result = session.WaitTransfer();
        const auto wall = Clock::now() - start;
        if (result.outcome != library::TransferOutcome::kSucceeded) {
            return state.SkipWithError("the transfer did not complete");
        }
        ReportRatio(state, wall, LineBytesOfTransfer(LibraryBytes()), baud);
        const double blocks = static_cast<double>(LibraryBytes() / 50 + 1);
        state.counters["blocks_per_s"] = blocks / std::chrono::duration<double>(wall).count();
        state.counters["cpu_us_per_block"] = (ProcessCpuSeconds() - cpuBefore) * 1e6 / blocks;
    }
}

// For every rate (0: unpaced) and direction, the minimal client, the command line and
// the console, one after the other, so that all meet the machine in the same state; then
// the command line and the console against the built-in module at the paced rates.
void RegisterTransfers() {
    for (const int baud : {9600, 115200, 230400, 0}) {
        for (const int import : {0, 1}) {
            for (const auto& [name, run] : {std::pair{"MinimalClient", &BM_MinimalClient},
                                            std::pair{"CommandLine", &BM_CommandLine},
                                            std::pair{"Console", &BM_Console}}) {
                benchmark::RegisterBenchmark(name, run)
                    ->ArgNames({"baud", "import", "built_in"})
                    ->Args({baud, import, 0})
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (const int baud : {9600, 115200, 230400}) {
        for (const int import : {0, 1}) {
            for (const auto& [name, run] : {std::pair{"CommandLine", &BM_CommandLine},
                                            std::pair{"Console", &BM_Console}}) {
                benchmark::RegisterBenchmark(name, run)
                    ->ArgNames({"baud", "import", "built_in"})
                    ->Args({baud, import, 1})
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace
}  // namespace orvante::bench

int main(int argc, char** argv) {
    return orvante::bench::RunConsoleBenchmarks(argc, argv, orvante::bench::RegisterTransfers);
}
