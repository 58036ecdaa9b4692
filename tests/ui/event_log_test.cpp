#include "ui/event_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/fake_window.h"

namespace orvante::ui {
namespace {

constexpr int kLog = 1002;

class EventLogTest : public ::testing::Test {
protected:
    test::FakeWindow window_;
    EventLog log_{window_, kLog, [] { return TimeOfDay{9, 5, 7}; }};
    const std::uint8_t handshake_[9] = {0x7E, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x80};
};

TEST_F(EventLogTest, EntriesStartOnANewLineWithTheTimeAndEndWithTheirDump) {
    log_.LogEvent("开始连接……");
    log_.LogEvent("发送:", handshake_, 9);
    const std::uint8_t two[] = {0x7E, 0x0C};
    log_.LogEvent("发送", two, 2);
    log_.LogEvent("none", handshake_, 0);
    log_.LogEvent("negative", handshake_, -3);
    log_.LogEvent("");
    EXPECT_EQ(window_.GetText(kLog),
              "\r\n09:05:07 开始连接……"
              "\r\n09:05:07 发送:7E 05 00 FF FF FF FF 01 80 "
              "\r\n09:05:07 发送7E 0C "
              "\r\n09:05:07 none"
              "\r\n09:05:07 negative"
              "\r\n09:05:07 ");
}

TEST_F(EventLogTest, OperatorTypingStaysAndTheNextEntryFollowsIt) {
    log_.LogEvent("one");
    window_.SetText(kLog, window_.GetText(kLog) + " my note");
    log_.LogEvent("two");
    EXPECT_EQ(window_.GetText(kLog), "\r\n09:05:07 one my note\r\n09:05:07 two");
}

// The capacity rule counts code-page-936 bytes, and an entry that empties the log is
// written whole, dump included.
TEST_F(EventLogTest, LogIsEmptiedWhenAnEntryStartsAbove29999Bytes) {
    window_.SetText(kLog, std::string(29999, 'x'));
    log_.LogEvent("kept");
    EXPECT_EQ(window_.GetText(kLog).size(), 29999u + 15);

    window_.SetText(kLog, std::string(30000, 'x'));
    log_.LogEvent("发送:", handshake_, 9);
    EXPECT_EQ(window_.GetText(kLog), "\r\n09:05:07 发送:7E 05 00 FF FF FF FF 01 80 ");

    std::string chinese;
    for (int i = 0; i < 14999; ++i) chinese += "收";
    window_.SetText(kLog, chinese + "a");  // 29,999 bytes
    log_.LogEvent("kept");
    EXPECT_EQ(window_.GetText(kLog).rfind(chinese, 0), 0u);
    window_.SetText(kLog, chinese + "收");  // 30,000 bytes
    log_.LogEvent("emptied");
    EXPECT_EQ(window_.GetText(kLog), "\r\n09:05:07 emptied");
}

TEST_F(EventLogTest, EntriesFromAnotherThreadLandWholeAtTheEnd) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) log_.LogEvent("发送", handshake_, 9);
        done = true;
    });
    int own = 0;
    while (!done) {
        window_.WaitForDelivery(std::chrono::milliseconds(5));
        log_.LogEvent("窗口");
        ++own;
        window_.Pump();
    }
    worker.join();
    window_.Pump();

    const std::string text = window_.GetText(kLog);
    // The log must be nothing but whole entries, each one of the two kinds.
    const std::string kinds[] = {"\r\n09:05:07 窗口",
                                 "\r\n09:05:07 发送7E 05 00 FF FF FF FF 01 80 "};
    std::size_t entries = 0;
    for (std::size_t at = 0; at < text.size(); ++entries) {
        const auto kind =
            std::find_if(std::begin(kinds), std::end(kinds),
                         [&](const std::string& k) { return text.compare(at, k.size(), k) == 0; });
        ASSERT_NE(kind, std::end(kinds)) << "torn or out of place at " << at;
        at += kind->size();
    }
    EXPECT_EQ(entries, static_cast<std::size_t>(300 + own));
}

}  // namespace
}  // namespace orvante::ui
