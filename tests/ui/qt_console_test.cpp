// The whole console as an operator meets it: the real Qt window (offscreen) with the
// window logic, connecting to the virtual module found in the port list. Leaves a
// screenshot of the connected console in the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <optional>

#include "serial/port_list.h"
#include "tests/support/manual_clock.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_top_level.h"
#include "ui/console_dlg.h"
#include "ui/qt/qt_window.h"

namespace orvante::ui::qt {
namespace {

bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Opens the port list (which fills it anew), picks the module's port and connects, as
// the operator does.
void ConnectTo(QtWindow& window, CConsoleDlg& dialog, const test::SimLine& module) {
    auto* ports = qobject_cast<QComboBox*>(window.Control(IDC_PORT));
    ASSERT_NE(ports, nullptr);
    ports->showPopup();
    ports->hidePopup();
    const int item =
        ports->findText(QString("COM%1 (").arg(module.PortNumber()), Qt::MatchStartsWith);
    ASSERT_GE(item, 0) << "the virtual module's port is listed";
    ports->setCurrentIndex(item);
    emit ports->activated(item);
    EXPECT_EQ(dialog.Port(), module.PortNumber());
    QTest::mouseClick(window.Control(IDC_CONNECT), Qt::LeftButton);
    ASSERT_TRUE(ProcessEventsUntil([&] { return window.GetText(IDC_STATUS) == "连接成功！"; }));
}

// The module is started after the console, as a new user may well do: it shows up
// once the port list is opened.
TEST(QtConsole, OperatorConnectsToTheVirtualModule) {
    test::PrivateRuntimeDir runtimeDir;
    std::optional<test::SimLine> module;  // outlives the connection to it
    QtWindow window;
    {
        CConsoleDlg dialog(window);
        dialog.OnInitDialog();
        window.show();
        module.emplace();

        ConnectTo(window, dialog, *module);
        auto* connect = qobject_cast<QPushButton*>(window.Control(IDC_CONNECT));
        EXPECT_EQ(connect->text().toStdString(), "断开连接");
        EXPECT_EQ(window.GetText(IDC_LOCAL_ADDR), "本机地址：1234");
        EXPECT_EQ(window.GetText(IDC_TARGET_ADDR), "1234");
        EXPECT_NE(window.GetText(IDC_LOG).find("连接成功！"), std::string::npos);
        window.grab().save(ORVANTE_CONNECTED_SCREENSHOT_PATH);

        QTest::mouseClick(window.Control(IDC_TEST_CONNECTION), Qt::LeftButton);
        ASSERT_TRUE(ProcessEventsUntil([&] {
            return dialog.PendingOp() == 0 && module->IsServing() &&
                   window.GetText(IDC_LOG).rfind("连接成功！") >
                       window.GetText(IDC_LOG).find("连接成功！");
        }));
    }  // the dialog ends its channel while the window is still there
}

// The module falls silent during an export: the time-out box shows without blocking the
// window, and closing the window with the box still open ends everything.
TEST(QtConsole, ClosingWithTheTransfersBoxStillOpenEndsTheProgram) {
    test::PrivateRuntimeDir runtimeDir;
    test::SimLine module;
    test::TempDir dir;
    test::ManualClock clock;
    QtWindow window;
    {
        ConsoleEnvironment environment;
        environment.transferClock = &clock;
        CConsoleDlg dialog(window, environment);
        dialog.OnInitDialog();
        window.show();
        ConnectTo(window, dialog, module);
        module.WithModule([](sim::VirtualModule& m) { m.SetFaults({.dropEvery = 1}); });

        const QString path = QString::fromStdString(dir.File("e.db"));
        WhenShown<QFileDialog> save([](QFileDialog*) { return true; },
                                    [&](QFileDialog* d) {
                                        d->selectFile(path);
                                        static_cast<QDialog*>(d)->accept();
                                    });
        QTest::mouseClick(window.Control(IDC_EXPORT_LIBRARY), Qt::LeftButton);
        for (std::uint64_t request : {2, 3}) {  // after the handshake
            ASSERT_TRUE(ProcessEventsUntil(
                [&] { return clock.IsWaiting() && module.WaitForFramesReceived(request, {}); }));
            clock.ExpireWait();
        }
        ASSERT_TRUE(ProcessEventsUntil([] { return VisibleBox("导出文件超时！") != nullptr; }));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the window stays usable";

        WhenShown<QMessageBox> yes([](QMessageBox* b) { return b->text() == "确定退出软件？"; },
                                   [](QMessageBox* b) { b->button(QMessageBox::Yes)->click(); });
        window.close();
        EXPECT_EQ(window.EndResult(), IDCANCEL);
    }  // the dialog ends the transfer and the channel without waiting for the box
    EXPECT_EQ(VisibleBox("导出文件超时！"), nullptr);
    // Nothing came: neither the file nor a part of it was left.
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.db.part")));
}

}  // namespace
}  // namespace orvante::ui::qt

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvante::ui::qt::ApplyClassicLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
