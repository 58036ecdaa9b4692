// The command line's session over the module link, against the virtual module in this
// process or a line the test plays, on a clock the test moves: no test waits out a
// time-out.
#include "session/session.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "functions/learn_transmit.h"
#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "tests/support/console_fixture.h"
#include "tests/support/manual_clock.h"
#include "tests/support/pty_pair.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
#include "tests/support/wait.h"

namespace orvante::session {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
constexpr std::uint16_t kModule = sim::kDefaultAddress;

// A session whose log entries the test reads.
struct LoggedSession {
    LoggedSession() : session(Hooks(), clock) {}
    SessionHooks Hooks() {
        SessionHooks hooks;
        hooks.log = [this](const std::string& entry) {
            std::lock_guard lock(mutex);
            entries.push_back(entry.substr(9));  // without "hh:mm:ss "
        };
        return hooks;
    }
    std::vector<std::string> Entries() {
        std::lock_guard lock(mutex);
        return entries;
    }

    test::ManualClock clock;
    std::mutex mutex;  //!< Protects entries
    std::vector<std::string> entries;
    Session session;
};

// Runs `wait` on a thread of its own while the test plays the time: whenever the wait
// sits on the clock, `onWait` decides (let it time out, cancel, ...).
WaitEnd RunWait(test::ManualClock& clock, const std::function<WaitEnd()>& wait,
                const std::function<void()>& onWait) {
    auto end = std::async(std::launch::async, wait);
    while (end.wait_for(1ms) != std::future_status::ready) {
        if (clock.IsWaiting()) onWait();
    }
    return end.get();
}

TEST(Session, AsksAndWaitsOnTheClockItIsGiven) {
    test::PrivateRuntimeDir runtime;
    test::SimLineOptions options;
    options.module.learnDelay = 0ms;
    test::SimLine module(options);
    LoggedSession logged;
    Session& session = logged.session;
    ASSERT_TRUE(session.Open({module.PortNumber(), module.SlavePath()}, {}).PortIsOpen());

    enum class Then { kAnswer, kTimeOut, kCancel };
    const struct {
        const char* name;
        std::uint8_t command;
        Bytes payload;
        std::optional<std::uint16_t> destination;
        Then then;
        WaitEnd end;
    } kRows[] = {
        {"learn", protocol::kCmdLearn, {5, 0}, std::nullopt, Then::kAnswer, WaitEnd::kAnswered},
        {"to a module that is not there",
         protocol::kCmdConnect,
         {},
         0xBEEF,
         Then::kTimeOut,
         WaitEnd::kTimedOut},
        // A cancel ends this wait and every later one at once.
        {"cancelled",
         protocol::kCmdReadPulseCapacity,
         {},
         0xBEEF,
         Then::kCancel,
         WaitEnd::kCancelled},
        {"after the cancel",
         protocol::kCmdReadPulseCapacity,
         {},
         std::nullopt,
         Then::kAnswer,
         WaitEnd::kCancelled},
    };
    ASSERT_EQ(RunWait(
                  logged.clock, [&] { return session.Connect(protocol::kReplyTimeout); }, [] {}),
              WaitEnd::kAnswered);
    EXPECT_EQ(session.LocalAddress(), kModule);
    EXPECT_EQ(session.Target(), kModule);
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> reply;
        const WaitEnd end = RunWait(
            logged.clock,
            [&] {
                return session.Request(row.command, row.payload, protocol::kReplyTimeout, &reply,
                                       row.destination);
            },
            [&] {
                if (row.then == Then::kTimeOut) logged.clock.ExpireWait();
                if (row.then == Then::kCancel) session.Cancel();
            });
        EXPECT_EQ(end, row.end);
        if (end == WaitEnd::kAnswered) {
            const auto learned = functions::DecodeLearnResult(protocol::FrameView(reply).Payload());
            ASSERT_TRUE(learned);
            EXPECT_GT(learned->PulseCount(), 0);
        }
    }
    // Every frame went out and came in through the link's entries, requests first.
    const std::vector<std::string> entries = logged.Entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[0], "发送:7E 05 00 FF FF FF FF 01 80 ");
    EXPECT_TRUE(entries[1].starts_with("接收:7E 05 00 34 12 FF FF 02 ")) << entries[1];
    EXPECT_TRUE(entries[2].starts_with("发送:7E 07 00 34 12 34 12 12 05 00 ")) << entries[2];
    EXPECT_TRUE(entries[3].starts_with("接收:")) << entries[3];
}

// A module answers an export through the link's hand-over to the transfer's worker, and
// the session's own wait is not woken by those replies.
TEST(Session, ATransfersRepliesGoToItsWorker) {
    test::PrivateRuntimeDir runtime;
    test::SimLineOptions options;
    options.module.librarySize = 777;
    test::SimLine module(options);
    LoggedSession logged;
    Session& session = logged.session;
    ASSERT_TRUE(session.Open({module.PortNumber(), module.SlavePath()}, {}).PortIsOpen());
    ASSERT_EQ(session.Connect(protocol::kReplyTimeout), WaitEnd::kAnswered);

    Bytes image;
    ASSERT_TRUE(session.StartTransfer({protocol::kCmdExportBlock, {}, 1, &image}));
    const library::TransferProgress result = session.WaitTransfer();
    EXPECT_EQ(result.outcome, library::TransferOutcome::kSucceeded);
    Bytes library;
    module.WithModule(
        [&](sim::VirtualModule& m) { library.assign(m.Library().begin(), m.Library().end()); });
    EXPECT_EQ(image, library);
    EXPECT_EQ(session.Totals().FramesReceived(), 1u + 16u);  // the handshake, 16 blocks
}

// The line is lost while a request waits: the wait ends at once, not at its time-out,
// the log says why, and nothing is sent afterwards. Frames the receiver drops are counted.
TEST(Session, ALostLineEndsTheWaitsAndNothingIsSentAfterIt) {
    test::PtyPair line;
    LoggedSession logged;
    Session& session = logged.session;
    ASSERT_TRUE(session.Open({0, line.SlavePath()}, {}).PortIsOpen());

    Bytes badChecksum = test::Reply(kModule, 0xFFFF, protocol::kCmdConnectReply);
    badChecksum.back() ^= 0xFF;
    const Bytes badLength = {0x7E, 0x40, 0x00};  // LEN 64: dropped
    auto connect =
        std::async(std::launch::async, [&] { return session.Connect(protocol::kReplyTimeout); });
    EXPECT_EQ(line.Read(9).size(), 9u);
    line.Write(badChecksum);
    line.Write(badLength);
    line.Write(test::Reply(kModule, 0xFFFF, protocol::kCmdConnectReply));
    EXPECT_EQ(connect.get(), WaitEnd::kAnswered);
    const ReceiverTotals totals = session.Totals();
    EXPECT_EQ(totals.FramesReceived(), 1u);
    EXPECT_EQ(totals.BadChecksums(), 1u);
    EXPECT_EQ(totals.BadLengths(), 1u);

    auto pending = std::async(std::launch::async, [&] {
        return session.Request(protocol::kCmdReadPulseCapacity, {}, protocol::kReplyTimeout,
                               nullptr);
    });
    EXPECT_EQ(line.Read(9).size(), 9u);
    line.CloseMaster();
    EXPECT_EQ(pending.get(), WaitEnd::kLost);
    ASSERT_TRUE(session.LostError());
    // The channel's box, as a log entry here, comes last.
    ASSERT_TRUE(test::WaitFor([&] { return logged.Entries().back().starts_with("WARNING:"); }));
    const std::size_t logged_before = logged.Entries().size();
    EXPECT_EQ(
        session.Request(protocol::kCmdReadPulseCapacity, {}, protocol::kReplyTimeout, nullptr),
        WaitEnd::kLost);
    EXPECT_FALSE(session.StartTransfer({protocol::kCmdExportBlock, {}, 1, nullptr}));
    const std::vector<std::string> entries = logged.Entries();
    EXPECT_EQ(entries.size(), logged_before) << "no request after the loss, not even logged";
    EXPECT_NE(std::find(entries.begin(), entries.end(), "串口COM0已断开：设备已拔出或线路已挂断"),
              entries.end());
}

}  // namespace
}  // namespace orvante::session
