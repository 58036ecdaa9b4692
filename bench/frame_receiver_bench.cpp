// Receiver throughput over a long stream of replies of the sizes the module sends, with
// some line noise between them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/commands.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"

namespace {

using orvante::protocol::BuildModuleFrame;
using orvante::protocol::FrameReceiver;

// Payload sizes of real replies: connect and acknowledgements (0), transmit (3), learn (5),
// timed tasks (27), export blocks (53).
constexpr std::size_t kReplyPayloadSizes[] = {0, 3, 5, 27, 53, 53, 53};

std::vector<std::uint8_t> MakeStream(std::size_t minimumSize) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::vector<std::uint8_t> stream;
    std::size_t next = 0;
    while (stream.size() < minimumSize) {
        std::vector<std::uint8_t> payload(
            kReplyPayloadSizes[next++ % std::size(kReplyPayloadSizes)]);
        for (auto& byte : payload) byte = static_cast<std::uint8_t>(byteValue(random));
        const auto frame =
            BuildModuleFrame(0x1234, 0x0001, orvante::protocol::kCmdExportBlockReply, payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
        if (next % 16 == 0) {  // a few bytes of noise now and then, start bytes excluded
            for (int i = 0; i < 5; ++i) {
                stream.push_back(static_cast<std::uint8_t>(byteValue(random) % 0x7E));
            }
        }
    }
    return stream;
}

void BM_FrameReceiverThroughput(benchmark::State& state) {
    const auto stream = MakeStream(1 << 20);
    FrameReceiver receiver;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        for (std::uint8_t byte : stream) {
            frames += receiver.Feed(byte) == FrameReceiver::Result::kFrame;
        }
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameReceiverThroughput)->Unit(benchmark::kMillisecond);

}  // namespace
