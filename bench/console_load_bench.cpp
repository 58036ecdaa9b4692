// The console itself under the line's load: the dialog in its Qt window (offscreen), the
// channel and its monitor, against a peer process on a pseudo-terminal (bench_line_peer)
// that writes at a fixed pace. Over a window of seconds the benchmark's process reports:
// - cpu_pct: its CPU time as a share of one core (the peer's process is not counted);
// - task_delay_max_ms: while loaded, a task is posted to the window thread every 100 ms
//   from another thread, as the monitor posts its deliveries; the longest any waited to
//   run tells whether the window stays responsive;
// - wakeups_per_s: voluntary context switches of all its threads, a second (for the idle
//   row: a connected console that nothing writes to should not wake at all).
// The last row is the console idle on the virtual module built into the program (the
// demo port): its line thread must sleep as the pseudo-terminal does.
// Beside each loaded row, a minimal reader (a thread that polls the port and reads it,
// nothing else) under the same load shows what the machine's pty and wake-ups cost by
// themselves: the console's own cost is its figure minus the reader's.
// ORVANTE_BENCH_SECONDS sets the window (default 5).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "bench/console_driver.h"
#include "protocol/commands.h"
#include "serial/in_process_port.h"
#include "serial/port_list_posix.h"
#include "sim/demo_ports.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_dir.h"

namespace orvante::bench {
namespace {

constexpr auto kSettle = std::chrono::milliseconds(500);
constexpr auto kTaskPeriod = std::chrono::milliseconds(100);

Clock::duration MeasuredSpan() {
    if (const char* text = std::getenv("ORVANTE_BENCH_SECONDS")) {
        const long value = std::strtol(text, nullptr, 10);
        if (value > 0 && value <= 600) return std::chrono::seconds(value);
    }
    return std::chrono::seconds(5);
}

// Voluntary context switches of every thread of this process: each is a sleep that
// something ended.
long VoluntarySwitches() {
    long total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
            }
        }
    }
    closedir(tasks);
    return total;
}

// Posts a task to the window thread every period; records the longest wait to run.
class WindowTaskProbe {
public:
    WindowTaskProbe(ui::WindowThread& thread, Clock::duration period)
        : worker_([this, &thread, period](std::stop_token stop) {
              std::mutex sleep;
              std::condition_variable_any wake;
              while (!stop.stop_requested()) {
                  const Clock::time_point posted = Clock::now();
                  thread.Post([this, posted] { Record(Clock::now() - posted); });
                  std::unique_lock lock(sleep);
                  wake.wait_for(lock, stop, period, [] { return false; });
              }
          }) {}

    double LongestWaitMs() const {
        return std::chrono::duration<double, std::milli>(
                   Clock::duration(longest_.load()))
            .count();
    }

private:
    void Record(Clock::duration wait) {
        Clock::rep previous = longest_.load();
        while (wait.count() > previous && !longest_.compare_exchange_weak(previous, wait.count())) {
        }
    }

    std::atomic<Clock::rep> longest_{0};
    std::jthread worker_;  // last: it ends before what it uses
};

// Reads the port as fast as bytes come, in a thread of its own: one poll and one read a
// wake-up, as little as any reader of the line can do.
class MinimalReader {
public:
    explicit MinimalReader(const std::string& device)
        : fd_(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
          stop_(::eventfd(0, EFD_CLOEXEC)) {
        if (fd_ < 0) return;
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
        const auto& handshake = protocol::kHandshakeFrame;  // the peer starts on it
        opened_ = ::write(fd_, handshake.data(), handshake.size()) ==
                  static_cast<ssize_t>(handshake.size());
        reader_ = std::jthread([this] { ReadUntilStopped(); });
    }
    ~MinimalReader() {
        if (reader_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
            reader_.join();
        }
        if (fd_ >= 0) ::close(fd_);
        ::close(stop_);
    }
    MinimalReader(const MinimalReader&) = delete;
    MinimalReader& operator=(const MinimalReader&) = delete;

    bool IsOpen() const { return opened_; }

private:
    void ReadUntilStopped() {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        std::uint8_t buffer[4096];
        while (::poll(fds, 2, -1) >= 0 && !(fds[1].revents & POLLIN)) {
            if (fds[0].revents & (POLLHUP | POLLERR)) return;
            while (::read(fd_, buffer, sizeof buffer) > 0) {
            }
        }
    }

    int fd_;
    int stop_;
    bool opened_ = false;
    std::jthread reader_;
};

std::string PortDevice(int port) {
    return serial::PortsDirectory() + "/COM" + std::to_string(port);
}

struct Window {
    double cpuSeconds;
    long switches;
    Clock::time_point start;
};

Window StartWindow() { return {ProcessCpuSeconds(), VoluntarySwitches(), Clock::now()}; }

double EndWindow(benchmark::State& state, const Window& window) {
    const double seconds = std::chrono::duration<double>(Clock::now() - window.start).count();
    state.counters["cpu_pct"] = (ProcessCpuSeconds() - window.cpuSeconds) * 100.0 / seconds;
    state.counters["wakeups_per_s"] =
        static_cast<double>(VoluntarySwitches() - window.switches) / seconds;
    return seconds;
}

void BM_MinimalReaderUnderLoad(benchmark::State& state, const char* mode) {
    test::PrivateRuntimeDir runtimeDir;
    test::ChildProcess peer(ORVANTE_LINE_PEER_PROGRAM, {mode});
    const std::string portLine = peer.Out().ReadLine();
    if (portLine.rfind("port ", 0) != 0) return state.SkipWithError("the peer did not start");
    MinimalReader reader(PortDevice(std::stoi(portLine.substr(5))));
    if (!reader.IsOpen()) return state.SkipWithError("the reader could not open the port");
    for (auto _ : state) {
        std::this_thread::sleep_for(kSettle);
        const Window window = StartWindow();
        std::this_thread::sleep_for(MeasuredSpan());
        state.SetIterationTime(EndWindow(state, window));
    }
}

void BM_ConsoleUnderLoad(benchmark::State& state, const char* mode) {
    const bool idle = std::string(mode) == "idle";
    test::PrivateRuntimeDir runtimeDir;
    test::ChildProcess peer(ORVANTE_LINE_PEER_PROGRAM, {mode});
    const std::string portLine = peer.Out().ReadLine();
    if (portLine.rfind("port ", 0) != 0) return state.SkipWithError("the peer did not start");
    Console console(std::stoi(portLine.substr(5)), 230400);
    if (!console.IsConnected()) return state.SkipWithError("the console did not connect");

    for (auto _ : state) {
        Console::RunFor(kSettle);
        std::optional<WindowTaskProbe> probe;
        if (!idle) probe.emplace(console.Window().Thread(), kTaskPeriod);
        const Window window = StartWindow();
        Console::RunFor(MeasuredSpan());
        state.SetIterationTime(EndWindow(state, window));
        if (probe) state.counters["task_delay_max_ms"] = probe->LongestWaitMs();
    }
    // The console goes first, then the peer: a line lost under a connected console would
    // raise its box.
}

void BM_ConsoleIdleOnTheBuiltInModule(benchmark::State& state) {
    test::PrivateStateDir stateDir;
    sim::RegisterDemoPorts();
    serial::ListInProcessPort("demo", sim::kDemoPortLabel);
    {
        Console console(serial::kFirstInProcessPortNumber, 230400);
        if (!console.IsConnected()) return state.SkipWithError("the console did not connect");
        for (auto _ : state) {
            Console::RunFor(kSettle);
            const Window window = StartWindow();
            Console::RunFor(MeasuredSpan());
            state.SetIterationTime(EndWindow(state, window));
        }
    }
    serial::ForgetInProcessPorts();
}

void RegisterLoads() {
    for (const char* mode : {"stream16", "stream64", "logged", "replies", "idle"}) {
        for (const auto& [name, run] : {std::pair{"MinimalReader/", &BM_MinimalReaderUnderLoad},
                                        std::pair{"Console/", &BM_ConsoleUnderLoad}}) {
            benchmark::RegisterBenchmark((name + std::string(mode)).c_str(), run, mode)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kSecond);
        }
    }
    benchmark::RegisterBenchmark("Console/idle-built-in", BM_ConsoleIdleOnTheBuiltInModule)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
}

}  // namespace
}  // namespace orvante::bench

int main(int argc, char** argv) {
    return orvante::bench::RunConsoleBenchmarks(argc, argv, orvante::bench::RegisterLoads);
}
