// The whole console as an operator meets it: the real Qt window (offscreen) with the
// window logic, connecting to the virtual module found in the port list. Leaves a
// screenshot of the connected console in the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <optional>

#include "serial/port_list.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
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

        auto* ports = qobject_cast<QComboBox*>(window.Control(IDC_PORT));
        ASSERT_NE(ports, nullptr);
        ports->showPopup();
        ports->hidePopup();
        const int item =
            ports->findText(QString("COM%1 (").arg(module->PortNumber()), Qt::MatchStartsWith);
        ASSERT_GE(item, 0) << "the virtual module's port is listed";
        ports->setCurrentIndex(item);
        emit ports->activated(item);
        EXPECT_EQ(dialog.Port(), module->PortNumber());

        auto* connect = qobject_cast<QPushButton*>(window.Control(IDC_CONNECT));
        QTest::mouseClick(connect, Qt::LeftButton);
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.GetText(IDC_STATUS) == "连接成功！"; }));
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

}  // namespace
}  // namespace orvante::ui::qt

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orvante::ui::qt::ApplyClassicLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
