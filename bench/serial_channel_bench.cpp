// How the serial channel carries a stream from the line to the window: throughput,
// and the CPU that the monitor and window threads spend on it (the peer's own writing
// is not counted). The line's far end is a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "serial/serial_channel.h"
#include "tests/support/fake_window.h"
#include "tests/support/pty_pair.h"
#include "tests/support/window_serial_owner.h"

namespace orvante {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A channel on a pty, monitored, with a window that counts the bytes it handles.
struct Line {
    test::FakeWindow window;
    std::size_t received = 0;
    test::WindowSerialOwner owner{window, [this](const serial::SerialMessage& m) {
                                      received += m.message == serial::WM_SERIAL_RXCHAR;
                                  }};
    test::PtyPair pty;
    serial::CSerialChannel channel{[this](int) { return pty.SlavePath(); }};

    Line() {
        channel.OpenPort(&owner, 1, 230400, 'N', 8, 1, serial::EV_RXCHAR | serial::EV_RXFLAG, 512);
        channel.StartMonitor();
    }

    // Serves the window until `count` bytes have been handled, sleeping between
    // deliveries as a real event loop does.
    void ServeUntil(std::size_t count) {
        while (received < count) {
            window.WaitForDelivery(1s);
            window.Pump();
        }
    }
    void ServeFor(std::chrono::milliseconds duration) {
        const auto end = Clock::now() + duration;
        while (Clock::now() < end) {
            window.WaitForDelivery(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
            window.Pump();
        }
    }
};

void BM_ChannelThroughput(benchmark::State& state) {
    Line line;
    const std::vector<std::uint8_t> block(64 * 1024, 0x5A);
    double peerCpu = 0, processCpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        std::thread peer([&] {
            const double start = ThreadCpuSeconds();
            line.pty.Write(block);
            peerCpu += ThreadCpuSeconds() - start;
        });
        line.ServeUntil(line.received + block.size());
        peer.join();
        processCpu += ProcessCpuSeconds() - before;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
    const double kib = state.iterations() * block.size() / 1024.0;
    state.counters["cpu_us_per_KiB"] = (processCpu - peerCpu) * 1e6 / kib;
}
BENCHMARK(BM_ChannelThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

// 230400 baud is 23040 bytes a second; a UART hands them over in FIFO-sized pieces.
void BM_ChannelStreamAt230400Baud(benchmark::State& state) {
    Line line;
    const std::size_t kPiece = static_cast<std::size_t>(state.range(0));
    const auto kPeriod = std::chrono::microseconds(kPiece * 1000000 / 23040);
    constexpr auto kDuration = 2s;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        double peerCpu = 0;
        const double before = ProcessCpuSeconds();
        const auto start = Clock::now();
        std::thread peer([&] {
            const double cpuStart = ThreadCpuSeconds();
            const std::vector<std::uint8_t> piece(kPiece, 0x7E);
            for (auto next = Clock::now(); next < start + kDuration; next += kPeriod) {
                std::this_thread::sleep_until(next);
                line.pty.Write(piece);
            }
            peerCpu = ThreadCpuSeconds() - cpuStart;
            done = true;
        });
        line.ServeFor(kDuration + 50ms);
        peer.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent_of_core"] =
            100.0 * (ProcessCpuSeconds() - before - peerCpu) / elapsed;
        state.counters["bytes_handled"] = static_cast<double>(line.received);
    }
}
BENCHMARK(BM_ChannelStreamAt230400Baud)
    ->ArgName("piece_bytes")
    ->Arg(16)
    ->Arg(64)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Connected and quiet: the monitor sleeps in poll and the window waits for deliveries.
void BM_ChannelIdle(benchmark::State& state) {
    Line line;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        const auto start = Clock::now();
        line.ServeFor(1s);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent_of_core"] = 100.0 * (ProcessCpuSeconds() - before) / elapsed;
    }
}
BENCHMARK(BM_ChannelIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orvante

BENCHMARK_MAIN();
