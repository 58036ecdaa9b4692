// orvante.exe: the console program on Windows. The window logic runs on the Win32 window.
#include <memory>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "serial/port_list.h"
#include "ui/command_line.h"
#include "ui/console_dlg.h"
#include "ui/win32/win32_window.h"

// After the program's own headers: <windows.h> defines names they use.
#include <windows.h>
// The common controls need <windows.h> first.
#include <commctrl.h>

namespace {

using orvante::platform::WideFromUtf8;
using orvante::ui::Window;
using orvante::ui::win32::Win32Window;

class Win32WindowHost final : public orvante::ui::WindowHost {
public:
    std::unique_ptr<Window> CreateMainWindow() override { return std::make_unique<Win32Window>(); }
    int RunModal(Window& window) override { return static_cast<Win32Window&>(window).Run(); }
};

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

// A window program has no console of its own. What it has to say (--help, --version, a
// bad command line) goes where its standard stream was redirected, else to the console
// it was started from, else into a box (unless it may go unsaid).
void Say(DWORD stream, const std::string& text, bool mayGoUnsaid = false) {
    if (text.empty()) return;
    HANDLE out = GetStdHandle(stream);
    DWORD mode = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && !GetConsoleMode(out, &mode)) {
        DWORD written = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::wstring wide = WideFromUtf8(text);
    if (AttachConsole(ATTACH_PARENT_PROCESS) || GetConsoleWindow() != nullptr) {
        const HandleCloser console{CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr)};
        DWORD written = 0;
        if (console.handle != INVALID_HANDLE_VALUE &&
            WriteConsoleW(console.handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                          nullptr)) {
            return;
        }
    }
    if (mayGoUnsaid) return;
    MessageBoxW(nullptr, wide.c_str(), L"orvante",
                MB_OK | (stream == STD_ERROR_HANDLE ? MB_ICONSTOP : MB_ICONINFORMATION));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::string> arguments;
    for (int i = 0; i < __argc; ++i)
        arguments.push_back(orvante::platform::Utf8FromWide(__wargv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);

    const orvante::ui::ConsoleCommandLine commandLine =
        orvante::ui::ParseConsoleCommandLine(static_cast<int>(arguments.size()), pointers.data());
    if (commandLine.exitCode) {
        Say(STD_OUTPUT_HANDLE, commandLine.output);
        Say(STD_ERROR_HANDLE, commandLine.error);
        return *commandLine.exitCode;
    }
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    orvante::ui::ConsoleEnvironment environment;
    std::string notListed;
    environment.preselectedPort = orvante::ui::PortToSelect(commandLine, &notListed);
    // A warning for whoever started it from a console; with none, the window opens anyway.
    if (!notListed.empty()) Say(STD_ERROR_HANDLE, "orvante: " + notListed + "\n", true);
    Win32WindowHost host;
    orvante::ui::CConsoleApp console(host, environment);
    console.InitInstance();
    return 0;
}
