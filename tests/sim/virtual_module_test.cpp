#include "sim/virtual_module.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/commands.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "tests/sim/module_exchange.h"

namespace orvante::sim {
namespace {

using namespace orvante::test::sim_exchange;
using std::chrono::milliseconds;
namespace proto = orvante::protocol;

// ---- addressing ----

TEST(VirtualModuleAddressing, AnswersTheHandshakeFromItsAddressToBroadcast) {
    VirtualModule module;
    const Bytes handshake(proto::kHandshakeFrame.begin(), proto::kHandshakeFrame.end());
    EXPECT_EQ(Exchange(module, handshake),
              (Bytes{0x7E, 0x05, 0x00, 0x34, 0x12, 0xFF, 0xFF, 0x02, 0xC9}));

    module.SetAddress(0xABCD);
    EXPECT_EQ(Exchange(module, handshake), Frame(0xABCD, kBroadcast, proto::kCmdConnectReply));
}

TEST(VirtualModuleAddressing, AnswersOnlyFramesForItsAddressOrBroadcast) {
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;
    };
    const Case kCases[] = {
        {"test connection", Frame(0x0042, kModule, 1), Frame(kModule, 0x0042, 2)},
        {"test connection to another module", Frame(0x0042, 0x4321, 1), {}},
        {"learn to another module", Frame(kConsole, 0x1235, proto::kCmdLearn, {0, 0}), {}},
        {"read capacity to broadcast", Frame(kConsole, kBroadcast, 17),
         Frame(kModule, kConsole, 17, {0x00, 100, 0})},
        {"unknown command", Request(0x40), {}},
        {"a reply code", Request(proto::kCmdConnectReply), {}},
        {"learn without slot", Request(proto::kCmdLearn, {5}), {}},
        {"transmit without slot", Request(proto::kCmdTransmit, {}), {}},
        {"short capacity set", Request(proto::kCmdSetPulseCapacity, {0, 1}), {}},
        {"short tasks", Request(proto::kCmdSetTimedTasks, Bytes(26, 0)), {}},
        {"short AC request", Request(proto::kCmdSendAcCode, Bytes(6, 0)), {}},
        {"short export request", Request(proto::kCmdExportBlock, {0, 0}), {}},
        {"import block longer than its bytes",
         Request(proto::kCmdImportBlock, {0, 0, 3, 1, 2}),
         {}},
    };
    for (const Case& c : kCases) {
        VirtualModule module;
        EXPECT_EQ(Exchange(module, c.request), c.reply) << c.what;
        EXPECT_EQ(module.Counters().framesReceived, 1u) << c.what;
        EXPECT_EQ(module.Counters().framesIgnored, c.reply.empty() ? 1u : 0u) << c.what;
    }
}

TEST(VirtualModuleAddressing, CountsFramesThatFailTheReceiver) {
    VirtualModule module;
    Bytes corrupt = Request(1);
    corrupt.back() ^= 0x55;
    EXPECT_TRUE(Exchange(module, corrupt).empty());
    EXPECT_TRUE(Exchange(module, {0x7E, 0x00, 0x00}).empty());  // LEN 0
    EXPECT_EQ(module.Counters().badFrames, 2u);
    EXPECT_EQ(module.Counters().framesReceived, 0u);
    // A frame split over two calls is still one frame.
    const Bytes request = Request(1);
    module.Receive(std::span(request).first(4), t0);
    EXPECT_EQ(Exchange(module, Bytes(request.begin() + 4, request.end())), ReplyFrame(2));
}

// ---- the requests of the console ----

TEST(VirtualModuleRequests, AnswersEachRequestAsTheConsoleReadsIt) {
    const Bytes tasks = {1, 5, 0, 10, 0, 2, 0, 0, 0, 0, 7, 0,    0xFF, 0xFF,
                         1, 0, 3, 0,  3, 9, 0, 1, 0, 0, 0, 0x70, 0x11};
    struct Step {
        Bytes request;
        Bytes reply;
    };
    const Step kSteps[] = {
        {Request(17), ReplyFrame(17, {0x00, 100, 0})},
        {Request(16, {0x00, 0x2C, 0x01}), ReplyFrame(16, {1, 0x2C, 0x01})},  // 300
        {Request(17), ReplyFrame(17, {0x00, 0x2C, 0x01})},
        {Request(16, {0x00, 0x91, 0x01}), ReplyFrame(16, {0, 0x2C, 0x01})},  // 401 refused
        {Request(16, {0x00, 0x00, 0x00}), ReplyFrame(16, {0, 0x2C, 0x01})},  // 0 refused
        {Request(20, {0, 0}), ReplyFrame(21, {0, 0, 0})},                    // empty slot
        {Request(20, {100, 0}), ReplyFrame(21, {100, 0, 2})},                // beyond the slots
        {Request(20, {0xFF, 0xFF}), ReplyFrame(21, {0xFF, 0xFF, 2})},
        {Request(18, {100, 0}), {}},  // cannot learn there: nothing captured, no result
        {Request(22), ReplyFrame(23, Bytes(27, 0))},
        {Request(24, tasks), ReplyFrame(25, {1})},
        {Request(22), ReplyFrame(23, tasks)},
        // Sent air-conditioner codes are not answered; the console reads any answer as
        // a failure. Brand codes 1..1000 are known, and states within the lists.
        {Request(26, {1, 2, 0, 0, 16, 0, 0}), {}},
        {Request(26, {0x03, 0xE8, 1, 4, 30, 5, 2}), {}},
        {Request(26, {0, 0, 0, 0, 16, 0, 0}), ReplyFrame(27, {0, 0, 0})},
        {Request(26, {0x03, 0xE9, 0, 0, 16, 0, 0}), ReplyFrame(27, {0x03, 0xE9, 0})},
        {Request(26, {0, 1, 2, 0, 16, 0, 0}), ReplyFrame(27, {0, 1, 0})},
        {Request(26, {0, 1, 0, 5, 16, 0, 0}), ReplyFrame(27, {0, 1, 0})},
        {Request(26, {0, 1, 0, 0, 31, 0, 0}), ReplyFrame(27, {0, 1, 0})},
        {Request(26, {0, 1, 0, 0, 16, 6, 0}), ReplyFrame(27, {0, 1, 0})},
        {Request(26, {0, 1, 0, 0, 15, 0, 3}), ReplyFrame(27, {0, 1, 0})},
    };
    VirtualModule module;
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
        EXPECT_EQ(Exchange(module, kSteps[i].request), kSteps[i].reply) << "step " << i;
    }
    ASSERT_TRUE(module.LastAcRequest().has_value());
    EXPECT_EQ(Bytes(module.LastAcRequest()->begin(), module.LastAcRequest()->end()),
              (Bytes{0, 1, 0, 0, 15, 0, 3}));
    EXPECT_EQ(module.Counters().codesTransmitted, 2u);
}

TEST(VirtualModuleRequests, TellsTheWrittenTasksToItsObserver) {
    VirtualModule module;
    std::vector<TaskBytes> written;
    module.SetTasksObserver([&](const TaskBytes& tasks) { written.push_back(tasks); });
    Bytes tasks(27, 0);
    tasks[0] = 1;
    Bytes longer = tasks;
    longer.push_back(0xEE);  // only the first 27 bytes are tasks
    Exchange(module, Request(24, longer));
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(Bytes(written[0].begin(), written[0].end()), tasks);
    EXPECT_EQ(Exchange(module, Request(22)), ReplyFrame(23, tasks));
}

TEST(VirtualModuleLearning, AnswersALearnAfterTheDelayAndThenTransmitsTheSlot) {
    VirtualModule module;  // learn delay 1500 ms, capacity 100: NEC-style codes of 67 pulses
    EXPECT_TRUE(Exchange(module, Request(18, {3, 0})).empty());
    EXPECT_TRUE(module.IsLearning());
    EXPECT_EQ(module.NextDue(), t0 + milliseconds(1500));
    EXPECT_TRUE(Concat(module.TakeDue(t0 + milliseconds(1499))).empty());
    EXPECT_EQ(Exchange(module, Request(20, {3, 0}), t0 + milliseconds(1000)),
              ReplyFrame(21, {3, 0, 0}));  // not learned yet

    // The count is the byte size of the durations: the console shows half of it.
    EXPECT_EQ(Concat(module.TakeDue(t0 + milliseconds(1500))), ReplyFrame(19, {3, 0, 1, 134, 0}));
    EXPECT_EQ(module.LearnedPulses(3), 67u);
    EXPECT_EQ(Exchange(module, Request(20, {3, 0}), t0 + milliseconds(1600)),
              ReplyFrame(21, {3, 0, 1}));
    EXPECT_EQ(Exchange(module, Request(20, {4, 0}), t0 + milliseconds(1600)),
              ReplyFrame(21, {4, 0, 0}));
    EXPECT_EQ(module.Counters().codesTransmitted, 1u);
}

TEST(VirtualModuleLearning, LearnsNoMorePulsesThanTheCapacity) {
    VirtualModule module(SmallLibrary(2000, 10));
    EXPECT_EQ(Exchange(module, Request(18, {7, 0})), ReplyFrame(19, {7, 0, 1, 20, 0}));
    EXPECT_EQ(module.LearnedPulses(7), 10u);
}

TEST(VirtualModuleLearning, FitsFewerSlotsForALargerCapacityAndClearsCodesOnSet) {
    VirtualModule module(SmallLibrary(8192, 100));  // records of 204 bytes: 40 slots
    EXPECT_EQ(module.SlotCount(), 40);
    Exchange(module, Request(18, {39, 0}));
    EXPECT_TRUE(Exchange(module, Request(18, {40, 0})).empty());
    EXPECT_FALSE(module.IsLearning());
    EXPECT_TRUE(module.LearnedPulses(39).has_value());

    Exchange(module, Request(16, {0, 0x90, 0x01}));  // 400: records of 804 bytes
    EXPECT_EQ(module.SlotCount(), 10);
    EXPECT_FALSE(module.LearnedPulses(39).has_value());
    EXPECT_EQ(Exchange(module, Request(20, {39, 0})), ReplyFrame(21, {39, 0, 2}));
    EXPECT_TRUE(std::all_of(module.Library().begin(), module.Library().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));

    Exchange(module, Request(18, {9, 0}));
    Exchange(module, Request(16, {0, 0x90, 0x01}));  // the same capacity again still clears
    EXPECT_FALSE(module.LearnedPulses(9).has_value());
}

TEST(VirtualModuleLearning, ALearnWhoseSlotNoLongerFitsWhenItCompletesGetsNoResult) {
    VirtualModule module;  // 40 slots until the capacity goes up to 400
    Exchange(module, Request(18, {39, 0}));
    EXPECT_EQ(Exchange(module, Request(16, {0, 0x90, 0x01}), t0 + milliseconds(100)),
              ReplyFrame(16, {1, 0x90, 0x01}));
    EXPECT_TRUE(Concat(module.TakeDue(t0 + milliseconds(1500))).empty());
    EXPECT_FALSE(module.IsLearning());
    EXPECT_FALSE(module.LearnedPulses(39).has_value());
}

TEST(VirtualModuleLearning, ANewLearnReplacesTheOneInProgress) {
    VirtualModule module;
    Exchange(module, Request(18, {1, 0}));
    EXPECT_TRUE(Exchange(module, Request(18, {2, 0}), t0 + milliseconds(1000)).empty());
    EXPECT_TRUE(Concat(module.TakeDue(t0 + milliseconds(2499))).empty());
    EXPECT_EQ(Concat(module.TakeDue(t0 + milliseconds(2500))), ReplyFrame(19, {2, 0, 1, 134, 0}));
    EXPECT_FALSE(module.LearnedPulses(1).has_value());
    EXPECT_FALSE(module.NextDue().has_value());
}

TEST(VirtualModuleLearning, OverwritesALearnedSlotWithADifferentCode) {
    VirtualModule module(SmallLibrary(1000));
    Exchange(module, Request(18, {2, 0}));
    const Bytes first(module.Library().begin(), module.Library().end());
    Exchange(module, Request(18, {2, 0}));
    EXPECT_NE(Bytes(module.Library().begin(), module.Library().end()), first);
    EXPECT_EQ(module.LearnedPulses(2), 10u);
}

TEST(VirtualModuleLearning, CompletesALearnWithoutDelayBeforeTheNextRequest) {
    VirtualModule module(SmallLibrary(1000));
    Bytes both = Request(18, {4, 0});
    const Bytes transmit = Request(20, {4, 0});
    both.insert(both.end(), transmit.begin(), transmit.end());
    Bytes expected = ReplyFrame(19, {4, 0, 1, 20, 0});
    const Bytes sent = ReplyFrame(21, {4, 0, 1});
    expected.insert(expected.end(), sent.begin(), sent.end());
    EXPECT_EQ(Exchange(module, both), expected);
}

// ---- the code library ----

TEST(VirtualModuleLibrary, ExportsEveryBlockAndEndsWithAShortOne) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{49}, std::size_t{100},
                                   std::size_t{120}, std::size_t{8192}, kMaxLibrarySize}) {
        VirtualModule module(SmallLibrary(size));
        if (module.SlotCount() > 0) Exchange(module, Request(18, {0, 0}));
        EXPECT_EQ(ExportAll(module), Bytes(module.Library().begin(), module.Library().end()))
            << size;
    }
}

TEST(VirtualModuleLibrary, AnswersExportRequestsWithTheBlockLayoutTheConsoleReads) {
    VirtualModule module(SmallLibrary(120));
    Bytes expected = {100, 0, 20};
    expected.insert(expected.end(), 20, 0xFF);
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 49, {100, 0, 50})),
              Frame(kModule, kConsole, 50, expected));
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 49, {200, 0, 50})),
              Frame(kModule, kConsole, 50, {200, 0, 0}));
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 49, {10, 0, 4})),
              Frame(kModule, kConsole, 50, {10, 0, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    // Never more than a block, whatever is asked for: a reply holds at most 58 bytes.
    const Bytes big = Exchange(module, Frame(kConsole, kBroadcast, 49, {0, 0, 200}));
    EXPECT_EQ(proto::FrameView(big).Payload()[2], 50);
}

TEST(VirtualModuleLibrary, ReadsTheLastBlocksOfA64KiBImage) {
    VirtualModule module(SmallLibrary(kMaxLibrarySize));
    const Bytes reply = Exchange(module, Frame(kConsole, kBroadcast, 49, {0xDC, 0xFF, 50}));
    EXPECT_EQ(proto::FrameView(reply).Payload()[2], 36);  // 65500 + 36 = 65536
}

TEST(VirtualModuleLibrary, ImportChangesTheImageAndWithItTheLearnedCodes) {
    VirtualModule source(SmallLibrary(1000));
    Exchange(source, Request(18, {5, 0}));
    const Bytes image = ExportAll(source);

    VirtualModule target(SmallLibrary(1000));
    Exchange(target, Request(18, {2, 0}));
    ImportAll(target, image);
    EXPECT_EQ(Bytes(target.Library().begin(), target.Library().end()), image);
    EXPECT_EQ(Exchange(target, Request(20, {5, 0})), ReplyFrame(21, {5, 0, 1}));
    EXPECT_EQ(Exchange(target, Request(20, {2, 0})), ReplyFrame(21, {2, 0, 0}));
}

TEST(VirtualModuleLibrary, KeepsLearnedCodesInTheImageAsSlotRecords) {
    VirtualModule module(SmallLibrary(1000, 10));  // records of 4 + 20 bytes
    Exchange(module, Request(18, {2, 0}));
    const Bytes image = ExportAll(module);
    const std::size_t record = 2 * 24;
    EXPECT_EQ(image[record], kCodeMarker);
    EXPECT_EQ(image[record + 2] | (image[record + 3] << 8), 10);
    EXPECT_EQ(image[record + 4] | (image[record + 5] << 8), 9000);  // NEC leader mark
    EXPECT_EQ(image[record + 24], kErasedByte);                     // slot 3 is empty

    // A record spoiled by an import (count above the capacity) is no code.
    const std::uint16_t offset = record + 2;
    Exchange(module,
             Frame(kConsole, kBroadcast, 51, {static_cast<std::uint8_t>(offset), 0, 2, 11, 0}));
    EXPECT_FALSE(module.LearnedPulses(2).has_value());
    EXPECT_EQ(Exchange(module, Request(20, {2, 0})), ReplyFrame(21, {2, 0, 0}));
}

TEST(VirtualModuleLibrary, DropsImportedBytesBeyondTheImage) {
    VirtualModule module(SmallLibrary(120));
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 51, {118, 0, 4, 1, 2, 3, 4})),
              Frame(kModule, kConsole, 52, {118, 0, 2}));
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 51, {200, 0, 1, 9})),
              Frame(kModule, kConsole, 52, {200, 0, 0}));
    EXPECT_EQ(Exchange(module, Frame(kConsole, kBroadcast, 51, {120, 0, 0})),
              Frame(kModule, kConsole, 52, {120, 0, 0}));
    EXPECT_EQ(module.Library()[118], 1);
    EXPECT_EQ(module.Library()[119], 2);
}

}  // namespace
}  // namespace orvante::sim
