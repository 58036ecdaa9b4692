// The Qt window on the offscreen platform: its controls against the dialog's control
// table, the text rules the logic relies on, events, timers, boxes and cross-thread
// delivery. Leaves a screenshot of the window in the build folder.
#include "ui/qt/qt_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "tests/ui/qt_top_level.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_icons.h"
#include "ui/qt/standard_dialogs.h"
#include "ui/resource.h"
#include "ui/text.h"

namespace orvante::ui::qt {
namespace {

constexpr int kWaitMs = 5000;

struct RecordingEvents final : WindowEvents {
    std::vector<int> clicked, selections, timers, dropDowns;
    std::function<void(int)> onDropDown;
    std::vector<unsigned> sysCommands;
    int oks = 0, cancels = 0, helps = 0;
    std::function<void()> onCancel;

    void OnClicked(int id) override { clicked.push_back(id); }
    void OnSelectionChanged(int id) override { selections.push_back(id); }
    void OnTimer(int id) override { timers.push_back(id); }
    void OnOK() override { ++oks; }
    void OnCancel() override {
        ++cancels;
        if (onCancel) onCancel();
    }
    void OnSysCommand(unsigned command) override { sysCommands.push_back(command); }
    void OnHelp() override { ++helps; }
    void OnDropDown(int id) override {
        dropDowns.push_back(id);
        if (onDropDown) onDropDown(id);
    }
};

QPushButton* ButtonWithText(QWidget* parent, const QString& text) {
    for (auto* button : parent->findChildren<QPushButton*>()) {
        if (button->text() == text) return button;
    }
    return nullptr;
}

QString AccessibleText(QWidget* widget, QAccessible::Text which) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(which) : QString();
}

class QtWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.SetEvents(&events);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    template <class W>
    W* Widget(int id) {
        return qobject_cast<W*>(window.Control(id));
    }

    QtWindow window;
    RecordingEvents events;
};

// ---- Controls of the table ------------------------------------------------------

enum class Kind { kEdit, kList, kButton, kCheck, kStatic, kMultiLine };

// Controls of one kind that show the same text (for edits and lists: the label beside
// them); no text where there is none to check.
struct ControlRow {
    std::vector<int> ids;
    Kind kind;
    const char* text;
    bool visible;
};

const ControlRow kControls[] = {
    {{IDC_PORT}, Kind::kList, "串口", true},
    {{IDC_BAUD}, Kind::kList, "波特率", true},
    {{IDC_CONNECT}, Kind::kButton, "连接红外", true},
    {{IDC_INDICATOR, IDC_STATUS_TRANSFER}, Kind::kStatic, "", true},
    {{IDC_TARGET_ADDR}, Kind::kEdit, "目标地址：", true},
    {{IDC_TEST_CONNECTION}, Kind::kButton, "测试连接", true},
    {{IDC_LEARN_INDEX, IDC_SEND_INDEX, IDC_TASK1_SLOT, IDC_TASK2_SLOT, IDC_TASK3_SLOT},
     Kind::kEdit,
     "存储序号：",
     true},
    {{IDC_LEARN, IDC_RAW_LEARN}, Kind::kButton, "学习", true},
    {{IDC_PULSE_COUNT}, Kind::kStatic, "0", true},
    {{IDC_TRANSMIT, IDC_AC_SEND, IDC_RAW_SEND}, Kind::kButton, "发射", true},
    {{IDC_IMPORT_LIBRARY}, Kind::kButton, "导入库", true},
    {{IDC_EXPORT_LIBRARY}, Kind::kButton, "导出库", true},
    {{IDC_AC_BRAND}, Kind::kEdit, "品牌编码：", true},
    {{IDC_AC_POWER, IDC_AC_MODE, IDC_AC_TEMPERATURE, IDC_AC_FAN, IDC_AC_SWING},
     Kind::kList,
     nullptr,
     true},
    {{IDC_PULSE_CAPACITY}, Kind::kEdit, "最大支持脉冲个数：", true},
    {{IDC_READ_PULSE_CAPACITY, IDC_READ_TASKS}, Kind::kButton, "读取", true},
    {{IDC_SET_PULSE_CAPACITY, IDC_SET_TASKS}, Kind::kButton, "设置", true},
    {{IDC_RAW_TEXT, IDC_LOG}, Kind::kMultiLine, nullptr, true},
    {{IDC_TASK1_ENABLE, IDC_TASK2_ENABLE, IDC_TASK3_ENABLE}, Kind::kCheck, "开启", true},
    {{IDC_TASK1_PERIOD, IDC_TASK2_PERIOD, IDC_TASK3_PERIOD}, Kind::kEdit, "定时周期(分钟)：", true},
    {{IDC_TASK1_DELAY, IDC_TASK2_DELAY, IDC_TASK3_DELAY}, Kind::kEdit, "延迟启动(分钟)：", true},
    {{IDC_TASK1_LOOPS, IDC_TASK2_LOOPS, IDC_TASK3_LOOPS}, Kind::kEdit, "循环次数：", true},
    {{IDC_LOCAL_ADDR}, Kind::kStatic, "本机地址：", true},
    {{IDC_STATUS}, Kind::kStatic, "运行状态：", true},
    // Present but never shown.
    {{IDC_PARITY}, Kind::kList, "校验位", false},
    {{IDC_STOP_BITS}, Kind::kList, "停止位", false},
    {{IDC_DATA_BITS}, Kind::kList, "数据位", false},
    {{IDC_SHOW_ADVANCED}, Kind::kCheck, "显示高级设置", false},
    {{IDC_IO_READ}, Kind::kButton, "读取", false},
    {{IDC_IO1_SET, IDC_IO2_SET, IDC_IO3_SET, IDC_IO4_SET}, Kind::kButton, "设置", false},
};

bool IsKind(QWidget* w, Kind kind) {
    switch (kind) {
        case Kind::kEdit:
            return qobject_cast<QLineEdit*>(w) != nullptr;
        case Kind::kList:
            return qobject_cast<QComboBox*>(w) && !qobject_cast<QComboBox*>(w)->isEditable();
        case Kind::kButton:
            return qobject_cast<QPushButton*>(w) != nullptr;
        case Kind::kCheck:
            return qobject_cast<QCheckBox*>(w) != nullptr;
        case Kind::kStatic:
            return qobject_cast<QLabel*>(w) != nullptr;
        case Kind::kMultiLine:
            return qobject_cast<QPlainTextEdit*>(w) != nullptr;
    }
    return false;
}

QLabel* BuddyOf(QWidget* w) {
    for (auto* label : w->window()->findChildren<QLabel*>()) {
        if (label->buddy() == w) return label;
    }
    return nullptr;
}

void ExpectControl(QtWindow& window, int id, const ControlRow& row) {
    SCOPED_TRACE(id);
    QWidget* w = window.Control(id);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsKind(w, row.kind));
    EXPECT_EQ(w->objectName(), QStringLiteral("ctl%1").arg(id));
    EXPECT_EQ(AccessibleText(w, QAccessible::Description), QString::number(id));
    EXPECT_EQ(window.IsControlVisible(id), row.visible);
    EXPECT_EQ(w->isVisible(), row.visible);
    if (!row.text) return;
    const QString text = QString::fromUtf8(row.text);
    if (row.kind == Kind::kEdit || row.kind == Kind::kList) {
        QLabel* label = BuddyOf(w);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), text);
        EXPECT_EQ(label->isVisibleTo(&window), row.visible);
        QString name = text;
        if (name.endsWith(u'：')) name.chop(1);  // the colon is not spoken
        EXPECT_EQ(AccessibleText(w, QAccessible::Name), name);
    } else {
        EXPECT_EQ(window.GetText(id), row.text);
        if (!text.isEmpty()) {
            EXPECT_EQ(AccessibleText(w, QAccessible::Name), text);
        }
    }
}

TEST_F(QtWindowTest, EveryControlCarriesItsIdTextAndVisibility) {
    for (const ControlRow& row : kControls) {
        for (int id : row.ids) ExpectControl(window, id, row);
    }
    EXPECT_FALSE(window.IsControlEnabled(IDC_SHOW_ADVANCED));
    EXPECT_TRUE(window.IsControlEnabled(IDC_CONNECT));
    // Names of controls that show text follow the text.
    window.SetText(IDC_CONNECT, "断开");
    EXPECT_EQ(AccessibleText(window.Control(IDC_CONNECT), QAccessible::Name), "断开");
}

TEST_F(QtWindowTest, GroupsSitAtTheirRectangles) {
    const struct {
        const char* title;
        Dlu rect;
    } groups[] = {
        {"配置区域", {5, 4, 395, 39}},
        {"学习功能", {4, 45, 398, 34}},
        {"空调码库操作", {3, 80, 398, 27}},
        {"高级设置", {4, 110, 397, 27}},
        {"源数据学习发送功能", {3, 143, 398, 108}},
        {"定时发送功能（掉电记忆）", {3, 250, 400, 119}},
    };
    EXPECT_EQ(window.size(), DluToPixels(Dlu{0, 0, 410, 445}).size());
    for (const auto& g : groups) {
        SCOPED_TRACE(g.title);
        QGroupBox* found = nullptr;
        for (auto* box : window.findChildren<QGroupBox*>()) {
            if (box->title() == QString::fromUtf8(g.title)) found = box;
        }
        ASSERT_NE(found, nullptr);
        EXPECT_TRUE(found->isVisible());
        EXPECT_EQ(found->geometry(), DluToPixels(g.rect));
    }
    EXPECT_EQ(window.Control(IDC_LOG)->geometry(), DluToPixels(Dlu{0, 369, 410, 54}));
}

// The window can grow: the log takes all it gains, the status fields follow the bottom
// edge, and nothing above the log moves. The design size is the smallest.
TEST_F(QtWindowTest, LogTakesWhatTheWindowGainsAndNothingAboveItMoves) {
    const QSize design = DluToPixels(Dlu{0, 0, 410, 445}).size();
    EXPECT_EQ(window.minimumSize(), design);
    QWidget* log = window.Control(IDC_LOG);
    const std::vector<int> statusIds = {IDC_LOCAL_ADDR, IDC_STATUS, IDC_STATUS_TRANSFER};
    std::map<QWidget*, QRect> atDesign;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isWindow() && !log->isAncestorOf(w)) atDesign[w] = w->geometry();
    }
    const struct { int wider, higher; } kGrowths[] = {{300, 200}, {0, 1}, {1, 0}, {0, 0}};
    for (const auto& g : kGrowths) {
        SCOPED_TRACE(testing::Message() << g.wider << "x" << g.higher);
        const QSize size = design + QSize(g.wider, g.higher);
        window.resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == size; }, kWaitMs));
        for (const auto& [w, rect] : atDesign) {
            QRect expected = rect;
            if (w == log) expected.adjust(0, 0, g.wider, g.higher);
            if (std::count(statusIds.begin(), statusIds.end(),
                           w->accessibleDescription().toInt())) {
                expected.translate(0, g.higher);
            }
            EXPECT_EQ(w->geometry(), expected) << w->objectName().toStdString();
        }
    }
    window.resize(design - QSize(50, 50));
    EXPECT_EQ(window.size(), design);
}

TEST_F(QtWindowTest, LogAtItsLastLineStaysThereWhenTheWindowShrinks) {
    const QSize design = window.size();
    window.resize(design + QSize(0, 200));
    for (int i = 0; i < 60; ++i) window.AppendText(IDC_LOG, "\r\n12:00:01 发送:7E 05 ");
    QScrollBar* bar = Widget<QPlainTextEdit>(IDC_LOG)->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->value() > 0; }, kWaitMs));  // at the last line
    window.resize(design);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == design; }, kWaitMs));
    EXPECT_EQ(bar->value(), bar->maximum());
}

// F1 asks for help (the About box) wherever the focus is.
TEST_F(QtWindowTest, F1AsksForHelpWhereverTheFocusIs) {
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::vector<int> ids = {IDC_TARGET_ADDR, IDC_LOG, IDC_PORT, IDC_CONNECT};
    for (int id : ids) {
        window.Control(id)->setFocus();
        QTest::keyClick(window.Control(id), Qt::Key_F1);
    }
    EXPECT_EQ(events.helps, static_cast<int>(ids.size()));
}

// Tidiness: visible controls stay inside their parent and do not cover one another.
TEST_F(QtWindowTest, VisibleControlsNeitherOverlapNorLeaveTheirGroup) {
    std::vector<QWidget*> parents{&window};
    for (auto* box : window.findChildren<QGroupBox*>()) parents.push_back(box);
    for (QWidget* parent : parents) {
        std::vector<QWidget*> shown;
        for (auto* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible() && !qobject_cast<QGroupBox*>(child) && !child->isWindow()) {
                shown.push_back(child);
            }
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_TRUE(parent->rect().contains(shown[i]->geometry()))
                << shown[i]->objectName().toStdString() << " leaves its parent";
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                    << AccessibleText(shown[i], QAccessible::Name).toStdString() << " / "
                    << AccessibleText(shown[j], QAccessible::Name).toStdString();
            }
        }
    }
}

std::vector<std::string> Degrees(int from, int to) {
    std::vector<std::string> items;
    for (int t = from; t <= to; ++t) items.push_back(std::to_string(t) + "度");
    return items;
}

TEST_F(QtWindowTest, ListsHoldTheirItemsAndStartWithoutSelection) {
    const struct {
        int id;
        std::vector<std::string> items;
    } lists[] = {
        {IDC_BAUD,
         {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "43000", "56000", "57600",
          "115200", "230400"}},
        {IDC_PARITY, {"NONE", "ODD", "EVEN"}},
        {IDC_STOP_BITS, {"1", "2"}},
        {IDC_DATA_BITS, {"8", "7", "6"}},
        {IDC_AC_POWER, {"关", "开"}},
        {IDC_AC_MODE, {"自动", "制冷", "制热", "送风", "去湿"}},
        {IDC_AC_TEMPERATURE, Degrees(16, 30)},
        {IDC_AC_FAN, {"自动风", "风量1", "风量2", "风量3", "风量4", "风量5"}},
        {IDC_AC_SWING, {"上下摆风", "左右摆风", "摆风关闭"}},
        {IDC_PORT, {}},
    };
    for (const auto& list : lists) {
        SCOPED_TRACE(list.id);
        std::vector<std::string> items;
        for (int i = 0; i < window.GetCount(list.id); ++i) {
            items.push_back(window.GetItemText(list.id, i));
        }
        EXPECT_EQ(items, list.items);
        EXPECT_EQ(window.GetCurSel(list.id), -1);
        EXPECT_EQ(window.GetText(list.id), "");
    }
}

TEST_F(QtWindowTest, PortListInsertsInOrderAndSelectsNothing) {
    std::vector<std::string> items;
    for (const char* name : {"COM3 (ttyS2)", "COM10 (ttyUSB0)", "com2", "COM99 (虚拟模块)"}) {
        const int at = static_cast<int>(SortedInsertIndex(items, name));
        EXPECT_EQ(window.AddString(IDC_PORT, name), at);
        items.insert(items.begin() + at, name);
    }
    ASSERT_EQ(window.GetCount(IDC_PORT), 4);
    EXPECT_EQ(window.GetItemText(IDC_PORT, 0), "COM10 (ttyUSB0)");
    EXPECT_EQ(window.GetItemText(IDC_PORT, 1), "com2");
    EXPECT_EQ(window.GetItemText(IDC_PORT, 3), "COM99 (虚拟模块)");
    EXPECT_EQ(window.GetCurSel(IDC_PORT), -1);
    // An unsorted list appends.
    EXPECT_EQ(window.AddString(IDC_PARITY, "MARK"), 3);
    window.ResetContent(IDC_PORT);
    EXPECT_EQ(window.GetCount(IDC_PORT), 0);
}

TEST_F(QtWindowTest, OnlyTheOperatorsChoiceReportsASelection) {
    window.SetCurSel(IDC_BAUD, 5);
    EXPECT_EQ(window.GetText(IDC_BAUD), "9600");
    EXPECT_TRUE(events.selections.empty());
    auto* baud = Widget<QComboBox>(IDC_BAUD);
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Down);
    EXPECT_EQ(window.GetCurSel(IDC_BAUD), 6);
    EXPECT_EQ(events.selections, std::vector<int>{IDC_BAUD});
    window.SetCurSel(IDC_BAUD, 99);  // out of range: no selection, like CB_SETCURSEL
    EXPECT_EQ(window.GetCurSel(IDC_BAUD), -1);
}

// The logic hears of a list about to open before it shows, and may refill it then.
TEST_F(QtWindowTest, OpeningAListIsReportedFirstSoItsItemsCanChange) {
    window.AddString(IDC_PORT, "COM3 (gone)");
    window.SetCurSel(IDC_PORT, 0);
    events.onDropDown = [&](int id) {
        window.ResetContent(id);
        window.AddString(id, "COM7 (new)");
        window.SetCurSel(id, 0);
    };
    auto* port = Widget<QComboBox>(IDC_PORT);
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(events.dropDowns, std::vector<int>{IDC_PORT});
    EXPECT_TRUE(port->view()->isVisible());
    EXPECT_EQ(port->view()->model()->rowCount(), 1);
    EXPECT_EQ(window.GetText(IDC_PORT), "COM7 (new)");
    EXPECT_TRUE(events.selections.empty()) << "a refill is no choice of the operator's";
    port->hidePopup();
}

TEST_F(QtWindowTest, LimitsHoldForTypingAndPasting) {
    const struct {
        int id, limit;
        const char* typed;
        const char* kept;
    } cases[] = {
        {IDC_TARGET_ADDR, 4, "ABCDE", "ABCD"},
        {IDC_LEARN_INDEX, 2, "123", "12"},
        {IDC_SEND_INDEX, 2, "999", "99"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        window.LimitText(c.id, c.limit);
        auto* edit = Widget<QLineEdit>(c.id);
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(window.GetText(c.id), c.kept);
        edit->clear();
        QApplication::clipboard()->setText(QString::fromUtf8(c.typed));
        edit->paste();
        EXPECT_EQ(window.GetText(c.id), c.kept);
    }
}

TEST_F(QtWindowTest, DigitOnlyEditsRefuseLetters) {
    const int digitsOnly[] = {
        IDC_LEARN_INDEX,  IDC_SEND_INDEX,   IDC_AC_BRAND,    IDC_PULSE_CAPACITY,
        IDC_TASK1_SLOT,   IDC_TASK2_SLOT,   IDC_TASK3_SLOT,  IDC_TASK1_PERIOD,
        IDC_TASK2_PERIOD, IDC_TASK3_PERIOD, IDC_TASK1_DELAY, IDC_TASK2_DELAY,
        IDC_TASK3_DELAY,  IDC_TASK1_LOOPS,  IDC_TASK2_LOOPS, IDC_TASK3_LOOPS};
    for (int id : digitsOnly) {
        SCOPED_TRACE(id);
        QTest::keyClicks(Widget<QLineEdit>(id), "1a-2");
        EXPECT_EQ(window.GetText(id), "12");
    }
    QTest::keyClicks(Widget<QLineEdit>(IDC_TARGET_ADDR), "0aF");
    EXPECT_EQ(window.GetText(IDC_TARGET_ADDR), "0aF");
}

TEST_F(QtWindowTest, ANumberTooWideForItsEditShowsItsStart) {
    window.SetText(IDC_TASK1_LOOPS, "65535");  // a loop count read back from the module
    EXPECT_EQ(Widget<QLineEdit>(IDC_TASK1_LOOPS)->cursorPosition(), 0);
}

// ---- The log ------------------------------------------------------------------------

TEST_F(QtWindowTest, LogKeepsCrLfLinesAndCountsCodePage936Bytes) {
    const std::string entry1 = "\r\n12:00:01 发送:7E 05 ";
    const std::string entry2 = "\r\n12:00:02 接收:";
    window.AppendText(IDC_LOG, entry1);
    window.AppendText(IDC_LOG, entry2);
    window.AppendText(IDC_LOG, "80 ");
    const std::string all = entry1 + entry2 + "80 ";
    EXPECT_EQ(window.TextLength(IDC_LOG), Cp936Length(all));
    // On screen once the event loop runs: caret at the end, scrolled to it.
    auto* log = Widget<QPlainTextEdit>(IDC_LOG);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->blockCount() == 3; }, kWaitMs));
    EXPECT_TRUE(log->textCursor().atEnd());
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
    EXPECT_FALSE(log->document()->isUndoAvailable());
    EXPECT_EQ(window.GetText(IDC_LOG), all);

    // The operator types into it; the count follows, and the next entry goes after.
    log->moveCursor(QTextCursor::Start);
    QInputMethodEvent chinese;  // how an input method types a Chinese character
    chinese.setCommitString(QStringLiteral("注"));
    QApplication::sendEvent(log, &chinese);
    QTest::keyClick(log, Qt::Key_Return);
    window.AppendText(IDC_LOG, "\r\nX");
    const std::string typed = "注\r\n" + all + "\r\nX";
    EXPECT_EQ(window.GetText(IDC_LOG), typed);
    EXPECT_EQ(window.TextLength(IDC_LOG), Cp936Length(typed));

    window.SetText(IDC_LOG, "");
    EXPECT_EQ(window.TextLength(IDC_LOG), 0u);
    // Typing straight after an append goes after the appended text.
    window.AppendText(IDC_LOG, "A");
    QTest::keyClicks(log, "B");
    EXPECT_EQ(window.GetText(IDC_LOG), "AB");
    EXPECT_EQ(window.TextLength(IDC_LOG), 2u);
    // Appends, some shown and some still collected, count exactly.
    std::string expected = "AB";
    for (int i = 0; i < 300; ++i) {
        const std::string piece = i % 10 == 0 ? "\r\n时间 " : "7E ";
        window.AppendText(IDC_LOG, piece);
        expected += piece;
        if (i % 70 == 0) QCoreApplication::processEvents();
    }
    EXPECT_EQ(window.TextLength(IDC_LOG), Cp936Length(expected));
    EXPECT_EQ(window.GetText(IDC_LOG), expected);

    window.SetText(IDC_LOG, "a\r\nb\rc\nd");  // every kind of break becomes CR LF
    EXPECT_EQ(window.GetText(IDC_LOG), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(window.TextLength(IDC_LOG), 10u);

    // Emptied while appends are still collected (a flooded log empties itself): what
    // was collected goes, what follows stays, and the document shows just that.
    window.AppendText(IDC_LOG, "\r\nlost");
    window.SetText(IDC_LOG, "\r\n新");
    window.AppendText(IDC_LOG, "\r\nkept");
    EXPECT_EQ(window.TextLength(IDC_LOG), 10u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->blockCount() == 3; }, kWaitMs));
    EXPECT_EQ(log->toPlainText(), QStringLiteral("\n新\nkept"));
    EXPECT_TRUE(log->textCursor().atEnd());
    EXPECT_EQ(window.GetText(IDC_LOG), "\r\n新\r\nkept");
}

// Qt's own texts, as in the log's context menu, are Chinese like the window's.
TEST_F(QtWindowTest, QtsOwnTextsAreChinese) {
    const std::unique_ptr<QMenu> menu(Widget<QPlainTextEdit>(IDC_LOG)->createStandardContextMenu());
    const QList<QAction*> items = menu->actions();
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](QAction* a) {
        return a->text().startsWith(QStringLiteral("复制(&C)"));
    }));
}

// ---- Events ---------------------------------------------------------------------

TEST_F(QtWindowTest, ClicksReachTheLogicButProgramChangesDoNot) {
    QTest::mouseClick(Widget<QPushButton>(IDC_CONNECT), Qt::LeftButton);
    QTest::mouseClick(Widget<QCheckBox>(IDC_TASK2_ENABLE), Qt::LeftButton);
    EXPECT_EQ(events.clicked, (std::vector<int>{IDC_CONNECT, IDC_TASK2_ENABLE}));
    EXPECT_EQ(window.GetCheck(IDC_TASK2_ENABLE), 1);

    window.SetCheck(IDC_TASK1_ENABLE, 1);
    window.EnableControl(IDC_LEARN, false);
    QTest::mouseClick(Widget<QPushButton>(IDC_LEARN), Qt::LeftButton);
    EXPECT_EQ(window.GetCheck(IDC_TASK1_ENABLE), 1);
    EXPECT_EQ(events.clicked.size(), 2u);
}

TEST_F(QtWindowTest, EnterAndEscapeGoToTheLogicAndLeaveTheWindowOpen) {
    auto* edit = Widget<QLineEdit>(IDC_TARGET_ADDR);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(edit, Qt::Key_Escape);
    window.close();
    EXPECT_EQ(events.oks, 2);
    EXPECT_EQ(events.cancels, 2);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.EndResult());
}

TEST_F(QtWindowTest, EndDialogFromTheCloseBoxEndsRun) {
    events.onCancel = [&] { window.EndDialog(IDCANCEL); };
    window.Thread().Post([&] { window.close(); });
    EXPECT_EQ(window.Run(), IDCANCEL);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.EndResult(), IDCANCEL);
}

TEST_F(QtWindowTest, TimersFireUntilKilled) {
    window.SetTimer(kReplyTimerId, 10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.timers.size() >= 2; }, kWaitMs));
    window.KillTimer(kReplyTimerId);
    const std::size_t firedBeforeKill = events.timers.size();
    // A slower timer's first tick: the killed 10 ms timer would have fired meanwhile.
    window.SetTimer(2, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.timers.back() == 2; }, kWaitMs));
    EXPECT_EQ(events.timers.size(), firedBeforeKill + 1);
    window.KillTimer(2);
    window.KillTimer(7);  // never set: harmless
}

TEST_F(QtWindowTest, ContextMenuCarriesTheWindowMenuItems) {
    window.AppendSystemMenuSeparator();
    window.AppendSystemMenuItem(IDM_ABOUTBOX, "关于 ORVANTE(&A)...");
    // Chosen the way the operator would: highlighted, then Enter.
    WhenShown<QMenu> chooser([](QMenu*) { return true; },
                             [](QMenu* menu) {
                                 for (QAction* action : menu->actions()) {
                                     if (!action->isSeparator()) menu->setActiveAction(action);
                                 }
                                 QTest::keyClick(menu, Qt::Key_Return);
                             });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            window.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&window, &event);
    EXPECT_EQ(events.sysCommands, std::vector<unsigned>{IDM_ABOUTBOX});
}

// ---- Boxes and dialogs --------------------------------------------------------------

TEST_F(QtWindowTest, MessageBoxIsCaptionedWithTheProgramName) {
    QString caption;
    WhenShown<QMessageBox> answer(
        [](QMessageBox* box) { return box->text() == QStringLiteral("确定退出软件？"); },
        [&](QMessageBox* box) {
            caption = box->windowTitle();
            box->button(QMessageBox::No)->click();
        });
    EXPECT_EQ(window.MessageBox("确定退出软件？", BoxButtons::kYesNo), IDNO);
    EXPECT_EQ(caption, QCoreApplication::applicationName());
    EXPECT_FALSE(caption.isEmpty());

    // From a worker, the box still comes up over the window, on the window thread.
    WhenShown<QMessageBox> ok([](QMessageBox* box) { return box->parent() != nullptr; },
                              [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    std::atomic<int> result{0};
    std::thread worker([&] { result = window.MessageBox("写入失败", BoxButtons::kOk); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result != 0; }, kWaitMs));
    worker.join();
    EXPECT_EQ(result, IDOK);
}

TEST_F(QtWindowTest, AboutBoxRunsModallyAndOtherTemplatesDoNot) {
    bool sawVersion = false;
    WhenShown<QDialog> closer(
        [](QDialog* d) { return d->windowTitle() == QStringLiteral("关于 ORVANTE"); },
        [&](QDialog* d) {
            for (auto* label : d->findChildren<QLabel*>()) {
                sawVersion |= label->text() == QStringLiteral("ORVANTE 1.0 版");
            }
            ButtonWithText(d, QStringLiteral("确定"))->click();
        });
    EXPECT_EQ(window.DoModalDialog(IDD_ABOUTBOX), IDOK);
    EXPECT_TRUE(sawVersion);
    EXPECT_EQ(window.DoModalDialog(IDD_MAIN), IDCANCEL);
}

// A box from a worker waits for its answer there, while the window goes on working.
TEST_F(QtWindowTest, OwnerlessBoxFromAWorkerBlocksOnlyTheWorker) {
    std::atomic<int> answer{0};
    std::thread worker([&] {
        answer =
            window.MessageBoxNoOwner("导出完成", "导出", BoxButtons::kYesNo, BoxIcon::kInformation);
    });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return (box = VisibleBox("导出完成")) != nullptr; }, kWaitMs));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("导出"));
    EXPECT_EQ(box->parent(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The window still takes the operator's clicks.
    QTest::mouseClick(Widget<QPushButton>(IDC_TEST_CONNECTION), Qt::LeftButton);
    EXPECT_EQ(events.clicked, std::vector<int>{IDC_TEST_CONNECTION});
    EXPECT_EQ(answer, 0);
    box->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer != 0; }, kWaitMs));
    worker.join();
    EXPECT_EQ(answer, IDYES);
}

// A box that a worker still waits on goes when the window ends, and none is shown after
// that: nothing keeps the program from ending. The workers get the escape answer.
TEST_F(QtWindowTest, OwnerlessBoxesOfWorkersGoWithTheWindow) {
    std::atomic<int> open{0}, late{0};
    std::thread worker([&] {
        open = window.MessageBoxNoOwner("导出文件超时！", "错误", BoxButtons::kOk, BoxIcon::kNone);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return VisibleBox("导出文件超时！") != nullptr; }, kWaitMs));
    window.EndDialog(IDCANCEL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return open != 0; }, kWaitMs));
    worker.join();
    EXPECT_EQ(open, IDOK);

    std::thread after([&] {
        late = window.MessageBoxNoOwner("导入成功！", "成功", BoxButtons::kYesNo, BoxIcon::kNone);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return late != 0; }, kWaitMs));
    after.join();
    EXPECT_EQ(late, IDNO);
    EXPECT_EQ(VisibleBox("导出文件超时！"), nullptr);
    EXPECT_EQ(VisibleBox("导入成功！"), nullptr);
}

// ---- Delivery -------------------------------------------------------------------

TEST_F(QtWindowTest, WorkerDeliveriesRunOnTheWindowThreadThroughTheEventLoop) {
    const auto windowThread = std::this_thread::get_id();
    std::thread::id sentOn, postedOn;
    std::atomic<bool> done{false};
    std::string textSeenByWorker;
    std::thread worker([&] {
        window.Thread().Send([&] { sentOn = std::this_thread::get_id(); });
        window.Thread().Post([&] { postedOn = std::this_thread::get_id(); });
        window.SetText(IDC_STATUS, "运行状态：就绪");  // any call is safe from any thread
        textSeenByWorker = window.GetText(IDC_STATUS);
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done && postedOn != std::thread::id(); }, kWaitMs));
    worker.join();
    EXPECT_EQ(sentOn, windowThread);
    EXPECT_EQ(postedOn, windowThread);
    EXPECT_EQ(textSeenByWorker, "运行状态：就绪");
}

// A delivery that opens a box (the channel's, as a line is lost) holds the window thread
// in the box's own loop: what other threads deliver meanwhile still runs there.
TEST_F(QtWindowTest, DeliveriesGoOnWhileABoxOpenedByOneIsOpen) {
    // Shared with the posted task, which a failing run leaves to the window's end.
    const auto laterRan = std::make_shared<std::atomic<bool>>(false);
    bool ranWhileOpen = false;
    WhenShown<QMessageBox> close(
        [](QMessageBox* box) { return box->text() == "串口已断开"; },
        [&](QMessageBox* box) {
            std::thread([&] { window.Thread().Post([laterRan] { *laterRan = true; }); }).join();
            ranWhileOpen = QTest::qWaitFor([&] { return laterRan->load(); }, kWaitMs);
            box->button(QMessageBox::Ok)->click();
        });
    std::thread([&] {
        window.Thread().Post([&] {
            window.MessageBoxNoOwner("串口已断开", "Application Error", BoxButtons::kOk,
                                     BoxIcon::kStop);
        });
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return laterRan->load(); }, kWaitMs));
    EXPECT_TRUE(ranWhileOpen);
}

// ---- Odd requests ---------------------------------------------------------------

TEST_F(QtWindowTest, UnknownIdsAndWrongKindsAreHarmless) {
    for (int id : {0, -1, 9999, IDC_CONNECT}) {
        SCOPED_TRACE(id);
        window.SetText(9999, "x");
        window.AppendText(id, "x");
        window.LimitText(id, 3);
        window.SetIcon(id, IconId::kIndicatorOn);
        window.ResetContent(id);
        window.SetCurSel(id, 0);
        window.SetCheck(id, 1);
        EXPECT_EQ(window.AddString(id, "x"), -1);
        EXPECT_EQ(window.GetCount(id), 0);
        EXPECT_EQ(window.GetItemText(id, 0), "");
        EXPECT_EQ(window.GetCurSel(id), -1);
        EXPECT_EQ(window.GetCheck(id), 0);
    }
    EXPECT_EQ(window.GetText(9999), "");
    EXPECT_EQ(window.TextLength(9999), 0u);
    EXPECT_FALSE(window.IsControlVisible(9999));
    EXPECT_FALSE(window.IsControlEnabled(9999));
    EXPECT_EQ(window.GetItemText(IDC_BAUD, 13), "");
    EXPECT_EQ(window.GetItemText(IDC_BAUD, -1), "");
}

// ---- Icons ----------------------------------------------------------------------

TEST(QtIcons, IndicatorsAreDotsInAWhiteRimOnNothing) {
    const struct {
        IconId id;
        QColor dot;
    } cases[] = {{IconId::kIndicatorOff, Qt::black}, {IconId::kIndicatorOn, QColor(0xe0, 0, 0)}};
    for (const auto& c : cases) {
        for (int size : {16, 32}) {
            const QImage image = MakeIconPixmap(c.id, size).toImage();
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_EQ(image.pixelColor(size / 2, size / 2), c.dot);
            EXPECT_EQ(image.pixelColor(size / 2, 1).red(), 255);  // the rim, top middle
            EXPECT_EQ(image.pixelColor(size / 2, 1).blue(), 255);
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        }
    }
    const QIcon app = MakeIcon(IconId::kApplication);
    EXPECT_TRUE(app.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(app.availableSizes().contains(QSize(32, 32)));
    EXPECT_TRUE(MakeIcon(IconId::kNone).isNull());
    EXPECT_EQ(MakeIconPixmap(IconId::kIndicatorOn, 16, 2.0).deviceIndependentSize(),
              QSizeF(16, 16));
}

TEST_F(QtWindowTest, IndicatorShowsTheIconItIsGiven) {
    window.SetIcon(IDC_INDICATOR, IconId::kIndicatorOn);
    EXPECT_EQ(AccessibleText(window.Control(IDC_INDICATOR), QAccessible::Name), "已连接");
    const QImage shown = Widget<QLabel>(IDC_INDICATOR)->pixmap().toImage();
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(0xe0, 0, 0));
    window.SetWindowIcon(IconId::kApplication);
    EXPECT_FALSE(window.windowIcon().isNull());
    window.SetIcon(IDC_INDICATOR, IconId::kIndicatorOff);
    EXPECT_EQ(AccessibleText(window.Control(IDC_INDICATOR), QAccessible::Name), "未连接");
}

TEST(QtFileFilter, WindowsFiltersBecomeQtFilters) {
    const struct {
        const char* windows;
        const char* qt;
    } cases[] = {
        {"码库文件 (*.db)|*.db|所有文件 (*.*)|*.*|", "码库文件 (*.db);;所有文件 (*)"},
        {"Data|*.db;*.bin|", "Data (*.db *.bin)"},
        {"|*.txt|", "*.txt (*.txt)"},
        {"odd|", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToQtFileFilter(c.windows), QString::fromUtf8(c.qt)) << c.windows;
    }
}

// ---- Screenshot -----------------------------------------------------------------

// The window as after start-up, with a few log lines, for a look by eye.
TEST_F(QtWindowTest, WritesAScreenshot) {
    for (int id : {IDC_PARITY, IDC_DATA_BITS, IDC_STOP_BITS, IDC_AC_POWER, IDC_AC_MODE,
                   IDC_AC_TEMPERATURE, IDC_AC_FAN, IDC_AC_SWING}) {
        window.SetCurSel(id, 0);
    }
    window.AddString(IDC_PORT, "COM99 (虚拟模块)");
    window.SetCurSel(IDC_PORT, 0);
    window.SetCurSel(IDC_BAUD, 5);
    window.SetIcon(IDC_INDICATOR, IconId::kIndicatorOff);
    window.SetText(IDC_TARGET_ADDR, "FFFF");
    window.AppendText(IDC_LOG, "\r\n10:15:02 发送:7E 05 00 FF FF FF FF 01 80 ");
    window.AppendText(IDC_LOG, "\r\n10:15:02 接收:7E 05 12 34 FF FF FF 81 3E ");
    window.AppendText(IDC_LOG, "\r\n10:15:02 连接成功");
    window.SetText(IDC_LOCAL_ADDR, "本机地址：1234");
    window.SetText(IDC_STATUS, "运行状态：连接成功");
    const QPixmap shot = window.grab();
    EXPECT_EQ(shot.size(), window.size());
    EXPECT_TRUE(shot.save(QStringLiteral(ORVANTE_SCREENSHOT_PATH)));
}

}  // namespace
}  // namespace orvante::ui::qt

int main(int argc, char** argv) {
    // The offscreen platform unless the run names another one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvante::ui::qt::ApplyClassicLook(app);
    orvante::ui::qt::InstallQtChineseTexts(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
