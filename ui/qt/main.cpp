// orvante: the console program. The window logic runs on the Qt window.
#include <QApplication>
#include <memory>

#include "ui/console_dlg.h"
#include "ui/qt/qt_window.h"

namespace {

using orvante::ui::Window;
using orvante::ui::qt::QtWindow;

class QtWindowHost final : public orvante::ui::WindowHost {
public:
    std::unique_ptr<Window> CreateMainWindow() override { return std::make_unique<QtWindow>(); }
    int RunModal(Window& window) override { return static_cast<QtWindow&>(window).Run(); }
};

}  // namespace

int main(int argc, char** argv) {
    // The application name, which captions the message boxes, is the executable's
    // base name; Qt derives it so.
    QApplication app(argc, argv);
    orvante::ui::qt::ApplyClassicLook(app);
    QtWindowHost host;
    orvante::ui::CConsoleApp console(host);
    console.InitInstance();
    return 0;
}
