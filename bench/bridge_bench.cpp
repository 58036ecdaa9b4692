// orvante-bridge (its own process) between a real broker (mosquitto) and a module played
// here on a published pseudo-terminal by the virtual module's model, unpaced:
// - Press: slot/5/send published with libmosquitto, one after the previous result, to
//   the first byte of the transmit frame on the line; p50 and p99 beside the broker's
//   own hop (publish to a subscriber) in the same run, and beside `orvante-cli send`
//   per press (a process, the port opened, the handshake).
// - Idle: the bridge connected to both and left alone: its voluntary context switches
//   over ORVANTE_BENCH_SECONDS (default 60; the goal speaks of 300).
// - Bursts: ten bursts of 1 000 presses, every result awaited in order; the bridge's RSS
//   after the tenth against after the first.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "sim/published_port.h"
#include "sim/virtual_module.h"
#include "tests/bridge/broker.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

namespace orvante::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kPort = 210;

// The module on a published pseudo-terminal; the time each frame's first byte came.
class PlayedModule {
public:
    PlayedModule() : port_(kPort), thread_([this] { Serve(); }) {}
    ~PlayedModule() {
        stop_ = true;
        thread_.join();
    }
    // Waits for the next frame's first byte after `since`; its time.
    std::optional<Clock::time_point> FirstByteAfter(Clock::time_point since) {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> found;
        arrived_.wait_for(lock, 5s, [&] {
            for (const auto& time : firstBytes_) {
                if (time >= since) {
                    found = time;
                    return true;
                }
            }
            return false;
        });
        firstBytes_.clear();
        return found;
    }

private:
    void Serve() {
        const int fd = port_.MasterFd();
        bool inFrame = false;
        std::size_t left = 0;
        while (!stop_) {
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, 100) <= 0) continue;
            std::uint8_t buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) continue;
            const auto now = Clock::now();
            // A frame starts with 7E and its length byte counts what follows it.
            for (ssize_t i = 0; i < n; ++i) {
                if (!inFrame && buffer[i] == 0x7E) {
                    inFrame = true;
                    left = 0;
                    std::lock_guard lock(mutex_);
                    firstBytes_.push_back(now);
                    arrived_.notify_all();
                } else if (inFrame && left == 0) {
                    left = buffer[i] + 1u;
                } else if (inFrame && --left == 0) {
                    inFrame = false;
                }
            }
            module_.Receive(std::span(buffer, static_cast<std::size_t>(n)), now);
            for (const sim::Outgoing& out : module_.TakeDue(Clock::now())) {
                [[maybe_unused]] ssize_t written = write(fd, out.bytes.data(), out.bytes.size());
            }
        }
    }

    sim::PublishedPort port_;
    sim::VirtualModule module_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Clock::time_point> firstBytes_;
    std::thread thread_;
};

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

long StatusField(pid_t pid, const std::string& field) {
    long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind(field + ":", 0) == 0) total += std::stol(line.substr(field.size() + 1));
        }
        if (field == "VmRSS") break;  // the process's, in every task's file
    }
    closedir(dir);
    return total;
}

// Everything the benchmarks share: broker, module, bridge, and a client that publishes.
struct Setup {
    test::PrivateRuntimeDir runtime;
    test::TempDir files;
    test::Broker broker;
    PlayedModule module;
    std::unique_ptr<test::Listener> listener;
    std::unique_ptr<test::ChildProcess> bridge;

    Setup() {
        const std::string config = files.File("bridge.json");
        std::ofstream(config) << R"({"port": "COM)" << kPort << R"(", "broker": "mqtt://127.0.0.1:)"
                              << broker.Port() << R"(", "name": "bench", "discovery": false})";
        listener = std::make_unique<test::Listener>(broker.Port());
        bridge = std::make_unique<test::ChildProcess>(ORVANTE_BRIDGE_PROGRAM,
                                                      std::vector<std::string>{config});
    }
    bool Ready() {
        return listener
            ->WaitFor([](const test::Message& m) {
                return m.topic == "orvante/bench/availability" && m.payload == "online";
            })
            .has_value();
    }
    // Publishes a press and waits for its result; the time to the frame's first byte.
    std::optional<double> Press() {
        const std::size_t from = listener->Count();
        const auto start = Clock::now();
        listener->Publish("orvante/bench/slot/5/send", "x");
        const auto frame = module.FirstByteAfter(start);
        if (!frame || !listener->WaitForTopic("orvante/bench/slot/5/result", 5s, from)) {
            return std::nullopt;
        }
        return std::chrono::duration<double, std::milli>(*frame - start).count();
    }
    // The broker's own hop: publish to delivery to the subscriber.
    std::optional<double> Hop() {
        const std::size_t from = listener->Count();
        const auto start = Clock::now();
        listener->Publish("bench/hop", "x");
        if (!listener->WaitForTopic("bench/hop", 5s, from)) return std::nullopt;
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
};

void BM_BridgePress(benchmark::State& state) {
    Setup setup;
    if (!setup.broker.Ready() || !setup.Ready()) return state.SkipWithError("no bridge online");
    for (auto _ : state) {
        std::vector<double> presses, hops, cli;
        for (int i = 0; i < 500; ++i) {
            const auto press = setup.Press();
            const auto hop = setup.Hop();
            if (!press || !hop) return state.SkipWithError("a press went unanswered");
            presses.push_back(*press);
            hops.push_back(*hop);
        }
        // orvante-cli send per press, the bridge's module port taken over for it.
        setup.bridge.reset();
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            test::ChildProcess send(ORVANTE_CLI_PROGRAM,
                                    {"--port", "COM" + std::to_string(kPort), "send", "5"});
            // The played module has learned nothing: the transmit is answered "failed" (1).
            const int status = send.WaitForExit(10s);
            if (status != 0 && status != 1) return state.SkipWithError("orvante-cli send failed");
            cli.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        state.counters["press_p50_ms"] = Percentile(presses, 0.5);
        state.counters["press_p99_ms"] = Percentile(presses, 0.99);
        state.counters["hop_p50_ms"] = Percentile(hops, 0.5);
        state.counters["hop_p99_ms"] = Percentile(hops, 0.99);
        state.counters["added_p99_ms"] = Percentile(presses, 0.99) - Percentile(hops, 0.99);
        state.counters["cli_p50_ms"] = Percentile(cli, 0.5);
        state.counters["cli_over_press"] = Percentile(cli, 0.5) / Percentile(presses, 0.5);
    }
}
BENCHMARK(BM_BridgePress)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BridgeIdle(benchmark::State& state) {
    Setup setup;
    if (!setup.broker.Ready() || !setup.Ready()) return state.SkipWithError("no bridge online");
    long seconds = 60;
    if (const char* text = std::getenv("ORVANTE_BENCH_SECONDS")) seconds = std::atol(text);
    for (auto _ : state) {
        std::this_thread::sleep_for(1s);
        const pid_t pid = setup.bridge->Pid();
        const long before = StatusField(pid, "voluntary_ctxt_switches");
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        state.counters["switches"] =
            static_cast<double>(StatusField(pid, "voluntary_ctxt_switches") - before);
        state.counters["seconds"] = static_cast<double>(seconds);
    }
}
BENCHMARK(BM_BridgeIdle)->Iterations(1)->Unit(benchmark::kSecond);

void BM_BridgeBursts(benchmark::State& state) {
    Setup setup;
    if (!setup.broker.Ready() || !setup.Ready()) return state.SkipWithError("no bridge online");
    for (auto _ : state) {
        long rssFirst = 0;
        for (int burst = 0; burst < 10; ++burst) {
            const std::size_t from = setup.listener->Count();
            for (int i = 0; i < 1000; ++i)
                setup.listener->Publish("orvante/bench/slot/5/send", "x");
            // Every result: a thousand after this burst's start.
            const auto deadline = Clock::now() + 120s;
            std::size_t results = 0;
            while (results < 1000 && Clock::now() < deadline) {
                std::this_thread::sleep_for(20ms);
                const std::vector<test::Message> messages = setup.listener->Messages();
                results = static_cast<std::size_t>(
                    std::count_if(messages.begin() + static_cast<std::ptrdiff_t>(from),
                                  messages.end(), [](const test::Message& m) {
                                      return m.topic == "orvante/bench/slot/5/result";
                                  }));
            }
            if (results < 1000) return state.SkipWithError("a burst went unanswered");
            if (burst == 0) rssFirst = StatusField(setup.bridge->Pid(), "VmRSS");
        }
        const long rssLast = StatusField(setup.bridge->Pid(), "VmRSS");
        state.counters["rss_first_kib"] = static_cast<double>(rssFirst);
        state.counters["rss_growth_kib"] = static_cast<double>(rssLast - rssFirst);
    }
}
BENCHMARK(BM_BridgeBursts)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace orvante::bench

BENCHMARK_MAIN();
