// What the monitor thread hands the window in frame mode: whole frames, in order, however
// the line cut them into reads, and nothing of a line that has been given up.
#include "ui/window_serial_owner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "protocol/module_frame.h"
#include "tests/support/fake_window.h"

namespace orvante::ui {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t command, Bytes payload = {}) {
    return protocol::BuildModuleFrame(0x1234, 0xFFFF, command, payload);
}

std::vector<serial::SerialMessage> Read(const Bytes& bytes) {
    std::vector<serial::SerialMessage> messages;
    for (std::uint8_t byte : bytes) messages.push_back({serial::WM_SERIAL_RXCHAR, byte, 5});
    return messages;
}

class FrameCrossing : public ::testing::Test {
protected:
    // Hands `reads` to the owner from a thread of their own, as the monitor does, and
    // lets the window thread run what it was given.
    void DeliverFromMonitor(const std::vector<Bytes>& reads) {
        std::thread monitor([&] {
            for (const Bytes& read : reads) {
                owner_.SendSerialMessages(Read(read), [this] { return current_.load(); }, [] {
                    return false;
                });
            }
        });
        monitor.join();
        window_.Pump();
    }

    test::FakeWindow window_;
    std::atomic<bool> current_{true};
    std::vector<Bytes> onWindow_;
    std::vector<Bytes> onMonitor_;  // only the monitor thread writes it while it runs
    WindowSerialOwner owner_{
        window_, WindowSerialOwner::Frames{
                     [this](std::span<const std::uint8_t> f) { onWindow_.emplace_back(f.begin(), f.end()); },
                     [this](std::span<const std::uint8_t> f) { onMonitor_.emplace_back(f.begin(), f.end()); }}};
};

TEST_F(FrameCrossing, FramesCutAcrossReadsArriveWholeAndInOrder) {
    const Bytes a = Frame(0x02);
    const Bytes b = Frame(0x11, {0x00, 0x20});
    const Bytes c = Frame(0x32, Bytes(50, 0x7E));  // a payload full of start bytes
    const Bytes noise = {0x55, 0x55, 0x00};
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const Bytes line = join({noise, a, b, noise, c});
    struct Case {
        const char* name;
        std::vector<std::size_t> cuts;  // where one read ends and the next begins
    };
    const Case cases[] = {
        {"one read", {}},
        {"a read a byte", [&] {
             std::vector<std::size_t> all;
             for (std::size_t i = 1; i < line.size(); ++i) all.push_back(i);
             return all;
         }()},
        {"cut inside the header and the checksum", {4, 5, 3 + a.size() + b.size() - 1}},
        {"cut inside the long payload", {line.size() - 30, line.size() - 2}},
    };
    for (const Case& c2 : cases) {
        SCOPED_TRACE(c2.name);
        onWindow_.clear();
        onMonitor_.clear();
        std::vector<Bytes> reads;
        std::size_t from = 0;
        for (std::size_t cut : c2.cuts) {
            reads.emplace_back(line.begin() + from, line.begin() + cut);
            from = cut;
        }
        reads.emplace_back(line.begin() + from, line.end());
        DeliverFromMonitor(reads);
        EXPECT_EQ(onWindow_, (std::vector<Bytes>{a, b, c}));
        EXPECT_EQ(onMonitor_, onWindow_);
    }
    EXPECT_EQ(owner_.Totals().FramesReceived(), 3u * std::size(cases));
}

TEST_F(FrameCrossing, BytesThatMakeNoFrameCostTheWindowThreadNothing) {
    std::thread monitor([&] {
        owner_.SendSerialMessages(Read(Bytes(64, 0x55)), [] { return true; }, [] { return false; });
        owner_.SendSerialMessages(Read({0x7E, 0x05}), [] { return true; }, [] { return false; });
    });
    monitor.join();
    EXPECT_EQ(window_.Pump(), 0u);
}

// A line given up (port closed, another chosen) while its frames were on their way: a
// reply it carried must not reach what the next line started, such as a new transfer.
TEST_F(FrameCrossing, FramesOfALineGivenUpReachNoHandler) {
    std::thread monitor([&] {
        owner_.SendSerialMessages(Read(Frame(0x32, Bytes(50, 1))), [this] { return current_.load(); },
                                  [] { return false; });
        current_ = false;  // given up after the hand-over, before the window thread ran it
        owner_.SendSerialMessages(Read(Frame(0x34)), [this] { return current_.load(); },
                                  [] { return false; });
    });
    monitor.join();
    window_.Pump();
    EXPECT_TRUE(onWindow_.empty());
    EXPECT_EQ(onMonitor_.size(), 1u);  // taken before the line was given up, not after
}

}  // namespace
}  // namespace orvante::ui
