// The Win32 window beneath the shared window logic, headless under Wine's null graphics
// driver: what the backend itself could get wrong (texts at the UTF-16 edge, list order,
// notifications, timers, work and boxes of other threads, the layout at any size).
#include "ui/win32/win32_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wide_text.h"
#include "ui/main_template.h"
#include "ui/resource.h"

// After the program's own headers: <windows.h> defines names they use.
#include <windows.h>
#undef MessageBox

namespace orvante::ui::win32 {
namespace {

// Records what the window reports; `then` may act on it (end the window, say).
class Recorder final : public WindowEvents {
public:
    std::vector<std::string> seen;
    std::function<void(const std::string&)> then = [](const std::string&) {};

    void OnClicked(int id) override { Note("clicked " + std::to_string(id)); }
    void OnSelectionChanged(int id) override { Note("selected " + std::to_string(id)); }
    void OnTimer(int id) override { Note("timer " + std::to_string(id)); }
    void OnOK() override { Note("ok"); }
    void OnCancel() override { Note("cancel"); }
    void OnSysCommand(unsigned command) override { Note("menu " + std::to_string(command)); }
    void OnDropDown(int id) override { Note("drop-down " + std::to_string(id)); }
    void OnHelp() override { Note("help"); }

private:
    void Note(const std::string& event) {
        seen.push_back(event);
        then(event);
    }
};

struct Win32WindowTest : ::testing::Test {
    Win32Window window;
    Recorder events;
    HWND dialog = window.Handle();

    Win32WindowTest() { window.SetEvents(&events); }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    RECT PlaceOf(int id) const {
        RECT place{};
        GetWindowRect(Item(id), &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
        return place;
    }
    // Runs the window until EndDialog, which a watchdog forces after `seconds`.
    int RunFor(int seconds = 10) {
        window.SetTimer(0x7E00, seconds * 1000);
        auto then = events.then;
        events.then = [this, then](const std::string& event) {
            if (event == "timer " + std::to_string(0x7E00)) window.EndDialog(-1);
            then(event);
        };
        return window.Run();
    }
};

TEST_F(Win32WindowTest, TextsCrossTheUtf16EdgeAndCountCodePage936Bytes) {
    struct Row {
        int id;
        std::string text;
        std::size_t cp936Bytes;
    };
    const Row rows[] = {
        {IDC_TARGET_ADDR, "1234", 4},
        {IDC_STATUS, "运行状态：连接成功！", 20},
        {IDC_LOG, "06:51:33 接收:7E 05\r\n06:51:33 连接成功！\r\n", 42},
        {IDC_CONNECT, "断开连接", 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        window.SetText(row.id, row.text);
        EXPECT_EQ(window.GetText(row.id), row.text);
        EXPECT_EQ(window.TextLength(row.id), row.cp936Bytes);
    }
    // From another thread the same, delivered to this one while it serves.
    std::string seenElsewhere;
    std::atomic<bool> done = false;
    std::thread reader([&] {
        seenElsewhere = window.GetText(IDC_STATUS);
        done = true;
        window.Thread().Wake();
    });
    window.Thread().WaitServing([&] { return done.load(); });
    reader.join();
    EXPECT_EQ(seenElsewhere, "运行状态：连接成功！");

    window.SetText(IDC_LOG, "");
    window.AppendText(IDC_LOG, "第一行\r\n");
    window.AppendText(IDC_LOG, "second\r\n");
    EXPECT_EQ(window.GetText(IDC_LOG), "第一行\r\nsecond\r\n");
    DWORD start = 0, end = 0;
    SendMessageW(Item(IDC_LOG), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 13u) << "the caret follows the appended text";
    EXPECT_EQ(SendMessageW(Item(IDC_LOG), EM_CANUNDO, 0, 0), 0) << "an append is not undone";
}

TEST_F(Win32WindowTest, ThePortListSortsAndTheOtherListsKeepTheTemplateOrder) {
    for (const char* port : {"COM3 (Serial2)", "COM10 (USB)", "com2 (虚拟模块)"}) {
        window.AddString(IDC_PORT, port);
    }
    const std::vector<std::string> sorted{"COM10 (USB)", "com2 (虚拟模块)", "COM3 (Serial2)"};
    ASSERT_EQ(window.GetCount(IDC_PORT), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(window.GetItemText(IDC_PORT, i), sorted[i]);

    // Sorting the air-conditioner lists would send the module other indexes.
    for (const TemplateList& list : MainTemplateLists()) {
        ASSERT_EQ(window.GetCount(list.id), static_cast<int>(list.items.size())) << list.id;
        for (std::size_t i = 0; i < list.items.size(); ++i) {
            EXPECT_EQ(window.GetItemText(list.id, static_cast<int>(i)), list.items[i]);
        }
    }
    EXPECT_EQ(window.AddString(IDC_AC_MODE, "AAA"), 5) << "appended, not sorted in";

    struct Selection {
        int index, selected;
        std::string text;
    };
    for (const Selection& row :
         {Selection{2, 2, "制热"}, Selection{99, -1, ""}, Selection{-1, -1, ""}}) {
        window.SetCurSel(IDC_AC_MODE, row.index);
        EXPECT_EQ(window.GetCurSel(IDC_AC_MODE), row.selected);
        EXPECT_EQ(window.GetText(IDC_AC_MODE), row.text);
    }
    EXPECT_EQ(window.GetItemText(IDC_AC_MODE, 99), "");
    for (int state : {1, 0}) {
        window.SetCheck(IDC_TASK1_ENABLE, state);
        EXPECT_EQ(window.GetCheck(IDC_TASK1_ENABLE), state);
    }
    EXPECT_TRUE(events.seen.empty()) << "the program's own choices notify no one";
}

TEST(Win32Window, TheOperatorsActsReachTheLogic) {
    using Act = std::function<void(HWND dialog)>;
    auto post = [](int id, WPARAM key) {
        return [id, key](HWND dialog) { PostMessageW(GetDlgItem(dialog, id), WM_KEYDOWN, key, 0); };
    };
    struct Row {
        const char* act;
        Act perform;
        std::string reported;
    };
    const Row rows[] = {
        {"button", [](HWND d) { SendMessageW(GetDlgItem(d, IDC_CONNECT), BM_CLICK, 0, 0); },
         "clicked 1009"},
        {"check box", [](HWND d) { SendMessageW(GetDlgItem(d, IDC_TASK1_ENABLE), BM_CLICK, 0, 0); },
         "clicked 1029"},
        {"list choice",
         [](HWND d) { SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_AC_MODE, CBN_SELCHANGE), 0); },
         "selected 1016"},
        {"list opening",
         [](HWND d) { SendMessageW(GetDlgItem(d, IDC_PORT), CB_SHOWDROPDOWN, TRUE, 0); },
         "drop-down 1003"},
        {"close box", [](HWND d) { SendMessageW(d, WM_CLOSE, 0, 0); }, "cancel"},
        {"window menu item", [](HWND d) { SendMessageW(d, WM_SYSCOMMAND, IDM_ABOUTBOX, 0); },
         "menu 16"},
        // Keys go through the window's own message loop, as the operator's do.
        {"Escape", post(IDC_TARGET_ADDR, VK_ESCAPE), "cancel"},
        {"Enter in an edit", post(IDC_TARGET_ADDR, VK_RETURN), "ok"},
        {"F1", post(IDC_LEARN_INDEX, VK_F1), "help"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.act);
        Win32Window window;
        Recorder events;
        window.SetEvents(&events);
        window.AppendSystemMenuItem(IDM_ABOUTBOX, "关于 ORVANTE(&A)...");
        events.then = [&](const std::string&) { window.EndDialog(IDOK); };
        window.SetTimer(0x7E00, 5000);  // a watchdog: reports "timer", which ends it too
        row.perform(window.Handle());
        if (!window.EndResult()) window.Run();
        EXPECT_EQ(events.seen, std::vector<std::string>{row.reported});
    }
}

TEST_F(Win32WindowTest, TimersTickUntilKilledAndWorkOfOtherThreadsRunsHereInOrder) {
    const std::thread::id windowThread = std::this_thread::get_id();
    std::vector<int> order;
    bool allHere = true;
    int ticks = 0;
    window.SetTimer(kReplyTimerId, 10);
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            window.Thread().Post([&, i] {
                order.push_back(i);
                allHere = allHere && std::this_thread::get_id() == windowThread;
            });
        }
        window.SetText(IDC_STATUS, "posted");
    });
    events.then = [&](const std::string& event) {
        if (event != "timer 1") return;
        if (++ticks == 3) {
            window.KillTimer(kReplyTimerId);
            window.SetTimer(2, 60);
        }
    };
    events.then = [&, count = events.then](const std::string& event) {
        count(event);
        if (event == "timer 2") window.EndDialog(IDOK);
    };
    EXPECT_EQ(RunFor(), IDOK);
    worker.join();
    EXPECT_EQ(ticks, 3) << "no tick after the timer was killed";
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allHere);
    EXPECT_EQ(window.GetText(IDC_STATUS), "posted");
}

TEST_F(Win32WindowTest, WhatABatchOfDeliveriesAppendsGoesInAtItsEnd) {
    // Queued before the loop runs, so that one batch runs them all.
    std::size_t countedInBatch = 0;
    int inTheEditInBatch = -1;
    WindowThread& thread = window.Thread();
    thread.Post([&] { window.AppendText(IDC_LOG, "一\r\n"); });
    thread.Post([&] { window.AppendText(IDC_LOG, "two\r\n"); });
    thread.Post([&] {
        countedInBatch = window.TextLength(IDC_LOG);
        inTheEditInBatch = GetWindowTextLengthW(Item(IDC_LOG));
    });
    thread.Post([&] { window.SetText(IDC_LOG, "三\r\n"); });  // replaces what was collected
    thread.Post([&] { window.AppendText(IDC_LOG, "four\r\n"); });
    thread.Post([&] { window.EndDialog(IDOK); });
    EXPECT_EQ(RunFor(), IDOK);
    EXPECT_EQ(countedInBatch, 9u) << "collected text counts";
    EXPECT_EQ(inTheEditInBatch, 0) << "and goes in once, at the batch's end";
    EXPECT_EQ(window.GetText(IDC_LOG), "三\r\nfour\r\n");
}

TEST_F(Win32WindowTest, BoxesShownForOtherThreadsGoWithTheWindowAndNoneComesAfter) {
    std::atomic<int> answer = 0;
    std::thread asker([&] {
        answer = window.MessageBoxNoOwner("设备已断开", "ORVANTE 测试", BoxButtons::kYesNo,
                                          BoxIcon::kStop);
    });
    // The window ends once the box is up, and the box must go with it.
    window.SetTimer(3, 20);
    events.then = [&](const std::string& event) {
        if (event == "timer 3" && FindWindowW(L"#32770", L"ORVANTE 测试") != nullptr) {
            window.EndDialog(IDCANCEL);
        }
    };
    EXPECT_EQ(RunFor(), IDCANCEL);
    asker.join();
    EXPECT_EQ(answer, IDNO) << "the escape answer of a Yes/No box";

    int late = 0;
    std::thread lateAsker([&] {
        late = window.MessageBoxNoOwner("太迟了", "ORVANTE 测试", BoxButtons::kOk, BoxIcon::kNone);
    });
    lateAsker.join();  // returns at once: no box is shown once the window has ended
    EXPECT_EQ(late, IDOK);
}

TEST_F(Win32WindowTest, TheLogTakesWhatTheWindowHasBeyondItsDesignSize) {
    auto insideClient = [&] {
        RECT client{};
        GetClientRect(dialog, &client);
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            RECT place{};
            GetWindowRect(child, &place);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
            if (place.left < 0 || place.top < 0 || place.right > client.right ||
                place.bottom > client.bottom) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(insideClient());
    RECT frame{};
    GetWindowRect(dialog, &frame);
    MINMAXINFO limits{};
    SendMessageW(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, frame.right - frame.left)
        << "the design size is the smallest";
    EXPECT_EQ(limits.ptMinTrackSize.y, frame.bottom - frame.top);

    // Wine's headless screen is 1024x768, which may leave the window no room to grow in
    // height: what it grew by is read back from its client area.
    RECT designClient{};
    GetClientRect(dialog, &designClient);
    const RECT log = PlaceOf(IDC_LOG), status = PlaceOf(IDC_STATUS), connect = PlaceOf(IDC_CONNECT);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + 120,
                 frame.bottom - frame.top + 90, SWP_NOZORDER);
    RECT client{};
    GetClientRect(dialog, &client);
    const int extraHeight = client.bottom - designClient.bottom;
    ASSERT_EQ(client.right - designClient.right, 120);
    const RECT grownLog = PlaceOf(IDC_LOG), movedStatus = PlaceOf(IDC_STATUS);
    EXPECT_EQ(grownLog.right - grownLog.left, log.right - log.left + 120);
    EXPECT_EQ(grownLog.bottom - grownLog.top, log.bottom - log.top + extraHeight);
    EXPECT_EQ(movedStatus.top, status.top + extraHeight);
    EXPECT_EQ(movedStatus.left, status.left);
    EXPECT_EQ(movedStatus.right - movedStatus.left, status.right - status.left);
    EXPECT_EQ(PlaceOf(IDC_CONNECT).left, connect.left) << "the rest stays put";
    EXPECT_TRUE(insideClient());
}

TEST_F(Win32WindowTest, IconsComeFromTheResourcesAndTheWindowMenuGetsItsItem) {
    window.SetIcon(IDC_INDICATOR, IconId::kIndicatorOn);
    EXPECT_NE(SendMessageW(Item(IDC_INDICATOR), STM_GETICON, 0, 0), 0);
    window.SetWindowIcon(IconId::kApplication);
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);

    HMENU menu = GetSystemMenu(dialog, FALSE);
    const int before = GetMenuItemCount(menu);
    window.AppendSystemMenuSeparator();
    window.AppendSystemMenuItem(IDM_ABOUTBOX, "关于 ORVANTE(&A)...");
    ASSERT_EQ(GetMenuItemCount(menu), before + 2);
    wchar_t text[64] = {};
    GetMenuStringW(menu, IDM_ABOUTBOX, text, 64, MF_BYCOMMAND);
    EXPECT_EQ(platform::Utf8FromWide(text), "关于 ORVANTE(&A)...");
}

}  // namespace
}  // namespace orvante::ui::win32
