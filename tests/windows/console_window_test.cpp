// orvante.exe as an operator meets it, under Wine: the program runs in a process of its
// own, and the test works its window from outside, with the messages the controls take
// and the texts they show. Against the virtual module built into the program (--demo) as
// far as exporting the code library and quitting; against the virtual module on Linux
// behind a Wine COM port (COM9) as far as a learn.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wide_text.h"
#include "sim/code_library.h"
#include "ui/resource.h"

// After the program's own headers: <windows.h> defines names they use.
#include <windows.h>

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;
using platform::Utf8FromWide;
using platform::WideFromUtf8;

constexpr int kComPort = 9;  // the test run's virtual module on Linux for this program
constexpr int kSlot = 7;
constexpr int kFileNameControl = 0x47C;  // the file name in the file dialogs
constexpr int kBoxTextControl = 0xFFFF;  // the text of a message box
constexpr auto kStepTimeout = 15s;
constexpr UINT kAnswerTimeoutMs = 5000;  // for each message to the program

// A window's text, asked of its own thread with a deadline: a program that stops
// answering fails the test instead of hanging it.
std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr) return "<no such window>";
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                             &length)) {
        return "<no answer within 5 s>";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied)) {
        return "<no answer within 5 s>";
    }
    text.resize(std::min<std::size_t>(copied, length));
    return Utf8FromWide(text);
}

bool Type(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    return window != nullptr &&
           SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result) != 0;
}

// The shown top-level dialogs of a process: its window, the boxes and the file dialogs.
std::vector<HWND> DialogsOf(DWORD process) {
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } search{process, {}};
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            auto& search = *reinterpret_cast<Search*>(found);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (owner == search.process && IsWindowVisible(window) &&
                std::wstring_view(name) == L"#32770") {
                search.found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls until `done` holds or the time is up; whether it holds.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = kStepTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// orvante.exe, ended by force should the test leave it running. It runs in a job that
// ends it when the last handle to the job goes, so that it goes even when the test itself
// is killed (at its time-out) and no destructor runs.
class ConsoleProcess {
public:
    explicit ConsoleProcess(std::wstring commandLine) : job_(CreateJobObjectW(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = job_ != nullptr &&
                   SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                           sizeof limits) &&
                   CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                  CREATE_SUSPENDED, nullptr, nullptr, &startup, &info_);
        if (info_.hProcess == nullptr) return;
        if (!AssignProcessToJobObject(job_, info_.hProcess)) started_ = false;
        if (started_) ResumeThread(info_.hThread);
    }
    ~ConsoleProcess() {
        if (info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, kAnswerTimeoutMs);
        }
        for (HANDLE handle : {info_.hThread, info_.hProcess, job_}) {
            if (handle != nullptr) CloseHandle(handle);
        }
    }
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    // The exit status, or nothing while it still runs after `timeout`.
    std::optional<DWORD> ExitStatus(std::chrono::milliseconds timeout) const {
        const auto wait = static_cast<DWORD>(timeout.count());
        DWORD status = 0;
        if (WaitForSingleObject(info_.hProcess, wait) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(info_.hProcess, &status)) {
            return std::nullopt;
        }
        return status;
    }

private:
    HANDLE job_;
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

// A fresh folder for the exported library, removed with it at the end.
struct WorkFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("orvante-console-window-" + std::to_string(GetCurrentProcessId()));
    WorkFolder() { std::filesystem::create_directories(path); }
    ~WorkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The module's library after its first learn, into `slot`: erased, but for that code. (Each
// run has a module of its own: the test run starts one for it, and the built-in one
// starts clean.)
std::vector<std::uint8_t> LibraryAfterFirstLearn(int slot) {
    sim::CodeLibrary library(ORVANTE_MODULE_LIBRARY_SIZE, ORVANTE_MODULE_PULSE_CAPACITY);
    library.WriteCode(slot, sim::NecStyleCode(1, static_cast<std::uint8_t>(slot)));
    return {library.Image().begin(), library.Image().end()};
}

// What the operator types and presses, and what the window must then show: a line added
// to the log, a box (answered with OK), the text of a control. Empty: nothing asked.
struct Step {
    const char* what;
    int field;  // an edit typed into first, or 0
    std::wstring typed;
    int button;
    std::string logged;
    std::string box;
    int control;
    std::string shows;
};

class ConsoleWindowTest : public ::testing::Test {
protected:
    // Starts orvante.exe with `arguments` and waits for its window.
    ::testing::AssertionResult Start(const std::wstring& arguments) {
        console_.emplace(L"\"" + WideFromUtf8(ORVANTE_CONSOLE_EXE) + L"\" " + arguments);
        if (!console_->Started()) {
            return ::testing::AssertionFailure()
                   << ORVANTE_CONSOLE_EXE << ": error " << GetLastError();
        }
        if (!PollUntil([&] {
                window_ = OtherDialog([](HWND d) { return GetDlgItem(d, IDC_CONNECT) != nullptr; });
                return window_ != nullptr;
            })) {
            return ::testing::AssertionFailure() << "orvante.exe shows no window";
        }
        return ::testing::AssertionSuccess();
    }

    HWND Control(int id) const { return GetDlgItem(window_, id); }
    std::string Text(int id) const { return TextOf(Control(id)); }

    // The program's dialogs other than its window, the first that `fits`.
    HWND OtherDialog(const std::function<bool(HWND)>& fits = [](HWND) { return true; }) const {
        for (HWND dialog : DialogsOf(console_->Id())) {
            if (dialog != window_ && fits(dialog)) return dialog;
        }
        return nullptr;
    }

    // For a failure's message: the log, and whatever box or dialog is open.
    std::string Evidence() const {
        if (const auto status = console_->ExitStatus(0ms)) {
            return "\norvante.exe has ended, status " + std::to_string(*status);
        }
        std::string text = "\n---- log of the window:" + Text(IDC_LOG) + "\n----";
        for (HWND dialog : DialogsOf(console_->Id())) {
            if (dialog == window_) continue;
            HWND boxText = GetDlgItem(dialog, kBoxTextControl);
            text += "\nopen: \"" + TextOf(dialog) + "\" " + (boxText ? TextOf(boxText) : "");
        }
        return text;
    }

    // Waits for the box that says `text`, presses `button` in it and waits for it to go.
    ::testing::AssertionResult Answer(const std::string& text, int button) const {
        HWND box = nullptr;
        const bool shown = PollUntil([&] {
            box =
                OtherDialog([&](HWND d) { return TextOf(GetDlgItem(d, kBoxTextControl)) == text; });
            return box != nullptr;
        });
        if (!shown) {
            return ::testing::AssertionFailure() << "no box \"" << text << "\"" << Evidence();
        }
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
        if (!PollUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); })) {
            return ::testing::AssertionFailure()
                   << "the box \"" << text << "\" stays" << Evidence();
        }
        return ::testing::AssertionSuccess();
    }

    // Types and presses each step's way, and waits for what it must show.
    void RunSteps(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            const std::size_t logged = Text(IDC_LOG).size();  // the log only grows here
            if (step.field != 0) {
                ASSERT_TRUE(Type(Control(step.field), step.typed)) << Evidence();
            }
            Press(step.button);
            if (!step.box.empty()) {
                ASSERT_TRUE(Answer(step.box, IDOK));
            }
            const auto done = [&] {
                return Text(IDC_LOG).find(step.logged, logged) != std::string::npos &&
                       (step.control == 0 || Text(step.control) == step.shows);
            };
            // An unexpected box ends the wait at once: its text is the evidence.
            PollUntil([&] { return done() || OtherDialog() != nullptr; });
            ASSERT_TRUE(done() && OtherDialog() == nullptr) << Evidence();
        }
    }

    // Pressed as the operator's click would: posted, since the button's handler may run a
    // box or dialog of its own before it returns.
    void Press(int id) const { PostMessageW(Control(id), BM_CLICK, 0, 0); }

    std::optional<ConsoleProcess> console_;
    HWND window_ = nullptr;
};

// The operator's first steps: connect, learn, transmit it, transmit an empty slot, learn
// without a slot.
std::vector<Step> FirstSteps() {
    const std::string address = ORVANTE_MODULE_ADDRESS;
    const std::wstring slot = std::to_wstring(kSlot);
    // The module's code is a NEC-style frame of 67 pulses.
    return {
        {"connect", 0, L"", IDC_CONNECT, "连接成功！", "", IDC_LOCAL_ADDR, "本机地址：" + address},
        {"learn", IDC_LEARN_INDEX, slot, IDC_LEARN, "学习成功，退出学习状态！", "", IDC_PULSE_COUNT,
         "67"},
        {"transmit the code", IDC_SEND_INDEX, slot, IDC_TRANSMIT, "发射成功！", "", 0, ""},
        {"transmit an empty slot", IDC_SEND_INDEX, L"8", IDC_TRANSMIT, "发射失败！", "", 0, ""},
        {"learn without a slot", IDC_LEARN_INDEX, L"", IDC_LEARN, "", "序号超范围!", 0, ""},
    };
}

// The built-in module with the Linux module's address, library and learn time.
const std::wstring kDemoArguments =
    L"--demo=clean,address=" + WideFromUtf8(ORVANTE_MODULE_ADDRESS) + L",library-size=" +
    std::to_wstring(ORVANTE_MODULE_LIBRARY_SIZE) + L",learn-delay=200";

TEST_F(ConsoleWindowTest, OperatorLearnsTransmitsExportsTheLibraryAndQuits) {
    ASSERT_TRUE(Start(kDemoArguments));
    ASSERT_EQ(Text(IDC_PORT), "COM200 (内置虚拟模块)") << "--demo selects its port" << Evidence();
    RunSteps(FirstSteps());
    if (HasFatalFailure()) return;
    const std::string address = ORVANTE_MODULE_ADDRESS;
    // Still connected, to the module that answered.
    EXPECT_EQ(Text(IDC_STATUS), "连接成功！");
    EXPECT_EQ(Text(IDC_CONNECT), "断开连接");
    EXPECT_EQ(Text(IDC_TARGET_ADDR), address);

    // The export, into a file named in Chinese and without its extension: the save dialog
    // adds ".db".
    const WorkFolder work;
    Press(IDC_EXPORT_LIBRARY);
    HWND save = nullptr;
    ASSERT_TRUE(PollUntil([&] {
        save = OtherDialog([](HWND d) { return GetDlgItem(d, kFileNameControl) != nullptr; });
        return save != nullptr;
    })) << "no save dialog"
        << Evidence();
    ASSERT_TRUE(Type(GetDlgItem(save, kFileNameControl), (work.path / L"码库").wstring()));
    PostMessageW(save, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Answer("导出成功！", IDOK));
    EXPECT_EQ(Text(IDC_STATUS_TRANSFER),
              "导出完成 " + std::to_string(ORVANTE_MODULE_LIBRARY_SIZE) + " 字节");
    std::ifstream file(work.path / L"码库.db", std::ios::binary);
    ASSERT_TRUE(file.is_open()) << "no 码库.db in " << Utf8FromWide(work.path.wstring())
                                << Evidence();
    const std::vector<std::uint8_t> exported{std::istreambuf_iterator<char>(file),
                                             std::istreambuf_iterator<char>()};
    const std::vector<std::uint8_t> image = LibraryAfterFirstLearn(kSlot);
    ASSERT_EQ(exported.size(), image.size());
    const auto differ = std::mismatch(exported.begin(), exported.end(), image.begin());
    EXPECT_TRUE(differ.first == exported.end())
        << "the export differs from the module's library from byte "
        << (differ.first - exported.begin());

    // Closing asks first; Yes ends the program, with status 0.
    PostMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(Answer("确定退出软件？", IDYES));
    EXPECT_EQ(console_->ExitStatus(kStepTimeout), std::optional<DWORD>(0)) << Evidence();
}

// The same first steps over a Wine COM port, so that the window's use of the Win32 port
// layer keeps its test.
TEST_F(ConsoleWindowTest, OperatorLearnsOverAComPort) {
    ASSERT_TRUE(Start(L"--port " + std::to_wstring(kComPort)));
    ASSERT_EQ(Text(IDC_PORT).rfind("COM" + std::to_string(kComPort), 0), 0u)
        << "--port " << kComPort << " selects the port: " << Text(IDC_PORT) << Evidence();
    RunSteps(FirstSteps());
}

}  // namespace
}  // namespace orvante::ui
