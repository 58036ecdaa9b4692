// orvante: the console program. The window logic runs on the Qt window.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "ui/command_line.h"
#include "ui/console_dlg.h"
#include "ui/qt/qt_window.h"

namespace {

using orvante::ui::Window;
using orvante::ui::qt::QtWindow;

constexpr int kExitNoDisplay = 1;

class QtWindowHost final : public orvante::ui::WindowHost {
public:
    std::unique_ptr<Window> CreateMainWindow() override { return std::make_unique<QtWindow>(); }
    int RunModal(Window& window) override { return static_cast<QtWindow&>(window).Run(); }
};

void Say(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
}

// Qt meets a display it cannot reach with several lines and an abort. While the
// application object is made, its messages are held back: they are passed on once it
// stands, and a fatal one becomes one line of ours and exit status 1 instead.
std::vector<QString> heldMessages;

void HoldBackStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::string settings;
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            const char* value = std::getenv(name);
            if (value == nullptr) continue;
            settings += (settings.empty() ? " (" : ", ") + std::string(name) + "=" + value;
        }
        if (!settings.empty()) settings += ")";
        Say(stderr,
            "orvante: cannot open the window: Qt found no usable display" + settings + "\n");
        std::_Exit(kExitNoDisplay);
    }
    heldMessages.push_back(qFormatLogMessage(type, context, text));
}

void PassOnHeldMessages() {
    qInstallMessageHandler(nullptr);
    for (const QString& message : heldMessages) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
    heldMessages.clear();
}

}  // namespace

int main(int argc, char** argv) {
    const orvante::ui::ConsoleCommandLine commandLine =
        orvante::ui::ParseConsoleCommandLine(argc, argv);
    if (commandLine.exitCode) {
        Say(stdout, commandLine.output);
        Say(stderr, commandLine.error);
        return *commandLine.exitCode;
    }
    if (const auto missing = orvante::ui::MissingDisplay(std::getenv)) {
        Say(stderr, "orvante: " + *missing + "\n");
        return kExitNoDisplay;
    }
    // Qt's own options are not taken: the command line is ours.
    int qtArgc = 1;
    qInstallMessageHandler(HoldBackStartMessages);
    // The application name, which captions the message boxes, is the executable's
    // base name; Qt derives it so.
    QApplication app(qtArgc, argv);
    PassOnHeldMessages();
    orvante::ui::ConsoleEnvironment environment;
    std::string notListed;
    environment.preselectedPort = orvante::ui::PortToSelect(commandLine, &notListed);
    if (!notListed.empty()) Say(stderr, "orvante: " + notListed + "\n");
    orvante::ui::qt::ApplyClassicLook(app);
    // Without Qt's translations installed its own texts stay English; the window works.
    orvante::ui::qt::InstallQtChineseTexts(app);
    QtWindowHost host;
    orvante::ui::CConsoleApp console(host, environment);
    console.InitInstance();
    return 0;
}
