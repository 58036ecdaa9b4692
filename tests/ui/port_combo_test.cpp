#include "ui/port_combo.h"

#include <gtest/gtest.h>

#include "tests/support/fake_window.h"

namespace orvante::ui {
namespace {

TEST(EnumeratePorts, FillsTheSortedComboAndSelectsTheFirstItem) {
    test::FakeWindow window;
    window.MakeSortedCombo(1003);
    window.AddString(1003, "stale");
    const serial::DeviceMap ports = {
        {2, {"/dev/ttyS1", "ttyS1"}},
        {10, {"/dev/ttyS9", "ttyS9"}},
        {1, {"/dev/ttyS0", "ttyS0"}},
    };
    EXPECT_EQ(EnumeratePorts(window, 1003, ports), 3);
    ASSERT_EQ(window.GetCount(1003), 3);
    EXPECT_EQ(window.GetItemText(1003, 0), "COM1 (ttyS0)");
    EXPECT_EQ(window.GetItemText(1003, 1), "COM10 (ttyS9)");
    EXPECT_EQ(window.GetItemText(1003, 2), "COM2 (ttyS1)");
    EXPECT_EQ(window.GetCurSel(1003), 0);
    EXPECT_EQ(serial::PortNumberFromName(window.GetText(1003)), 1);
}

TEST(EnumeratePorts, NoPortsLeavesAnEmptyComboAndPortZero) {
    test::FakeWindow window;
    window.MakeSortedCombo(1003);
    EXPECT_EQ(EnumeratePorts(window, 1003, {}), 0);
    EXPECT_EQ(window.GetCount(1003), 0);
    EXPECT_EQ(window.GetCurSel(1003), -1);
    EXPECT_EQ(serial::PortNumberFromName(window.GetText(1003)), 0);
}

}  // namespace
}  // namespace orvante::ui
