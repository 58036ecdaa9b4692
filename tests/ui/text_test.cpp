#include "ui/text.h"

#include <gtest/gtest.h>

namespace orvante::ui {
namespace {

TEST(Cp936Length, CountsAsciiAsOneAndChineseAsTwo) {
    EXPECT_EQ(Cp936Length(""), 0u);
    EXPECT_EQ(Cp936Length("\r\n12:00:00 "), 11u);
    EXPECT_EQ(Cp936Length("发送:"), 5u);
    EXPECT_EQ(Cp936Length("连接成功！"), 10u);  // full-width punctuation is two as well
    EXPECT_EQ(Cp936Length("7E 05 "), 6u);
}

TEST(SortedInsertIndex, OrdersCharacterByCharacterIgnoringCase) {
    std::vector<std::string> items;
    for (const char* name : {"COM2", "COM10", "COM1", "com3"}) {
        items.insert(items.begin() + static_cast<long>(SortedInsertIndex(items, name)), name);
    }
    EXPECT_EQ(items, (std::vector<std::string>{"COM1", "COM10", "COM2", "com3"}));
    // An equal item goes after the ones already there.
    EXPECT_EQ(SortedInsertIndex(items, "COM1"), 1u);
}

}  // namespace
}  // namespace orvante::ui
