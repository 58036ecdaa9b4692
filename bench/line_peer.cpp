// bench_line_peer MODE: the other end of the console's line for load benchmarks, in a
// process of its own so that its work is not counted as the console's. It publishes a
// pseudo-terminal as a COM port, prints "port <n>", answers the console's handshake
// (module address 1234), prints "connected", and from then on writes, paced by the clock,
// until it is ended with SIGTERM:
//   stream16, stream64  a 230400-baud stream of bytes that never make a frame, in
//                       16- or 64-byte pieces (as a UART's reads bring them)
//   logged              2 500 small valid frames a second that the console only logs
//   replies             2 500 test-connection replies a second
//   idle                nothing
// What the console writes is read and dropped.
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "sim/published_port.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnTerm(int) { g_stop = 1; }

constexpr std::uint16_t kModuleAddress = 0x1234;
constexpr long kFramesPerSecond = 2500;
constexpr long kStreamBaud = 230400;
// A command the console has no handler for: it logs the frame and does nothing else.
constexpr std::uint8_t kLoggedOnlyCommand = 0x35;

struct Load {
    std::vector<std::uint8_t> piece;
    long intervalNs = 0;  // 0: nothing is written
};

bool MakeLoad(const std::string& mode, Load* load) {
    auto streamOf = [](std::size_t size) {
        // 0x55 never starts a frame, so no byte of the stream is ever one.
        return Load{std::vector<std::uint8_t>(size, 0x55),
                    static_cast<long>(size) * 10 * 1'000'000'000L / kStreamBaud};
    };
    const long frameInterval = 1'000'000'000L / kFramesPerSecond;
    if (mode == "stream16") *load = streamOf(16);
    else if (mode == "stream64") *load = streamOf(64);
    else if (mode == "logged")
        *load = {orvante::protocol::BuildModuleFrame(kModuleAddress, 0xFFFF, kLoggedOnlyCommand, {}),
                 frameInterval};
    else if (mode == "replies")
        *load = {orvante::protocol::BuildModuleFrame(kModuleAddress, kModuleAddress,
                                                     orvante::protocol::kCmdConnectReply, {}),
                 frameInterval};
    else if (mode == "idle") *load = {};
    else return false;
    return true;
}

void Drain(int fd) {
    std::uint8_t buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

// Waits for the handshake and answers it as the module does.
bool AnswerHandshake(int fd) {
    std::vector<std::uint8_t> received;
    const auto& handshake = orvante::protocol::kHandshakeFrame;
    while (!g_stop) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) received.insert(received.end(), buffer, buffer + n);
        if (std::search(received.begin(), received.end(), handshake.begin(), handshake.end()) !=
            received.end()) {
            const auto reply = orvante::protocol::BuildModuleFrame(
                kModuleAddress, 0xFFFF, orvante::protocol::kCmdConnectReply, {});
            return ::write(fd, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
        }
    }
    return false;
}

void AddNs(timespec* t, long ns) {
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1'000'000'000L) {
        t->tv_nsec -= 1'000'000'000L;
        ++t->tv_sec;
    }
}

// Writes the piece at its pace until SIGTERM; a piece the pty cannot take now is dropped,
// as a line does not wait for its reader.
void WritePaced(int fd, const Load& load) {
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (!g_stop) {
        if (load.intervalNs == 0) {
            pause();
            continue;
        }
        AddNs(&due, load.intervalNs);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        [[maybe_unused]] const ssize_t written = ::write(fd, load.piece.data(), load.piece.size());
        Drain(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Load load;
    if (argc != 2 || !MakeLoad(argv[1], &load)) {
        std::fprintf(stderr, "usage: bench_line_peer stream16|stream64|logged|replies|idle\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnTerm;
    sigaction(SIGTERM, &action, nullptr);  // no SA_RESTART: a sleep or poll ends at once
    try {
        orvante::sim::PublishedPort port;
        std::printf("port %d\n", port.Number());
        std::fflush(stdout);
        if (!AnswerHandshake(port.MasterFd())) return 1;
        std::printf("connected\n");
        std::fflush(stdout);
        WritePaced(port.MasterFd(), load);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_line_peer: %s\n", error.what());
        return 1;
    }
    return 0;
}
