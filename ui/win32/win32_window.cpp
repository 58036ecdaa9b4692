#include "ui/win32/win32_window.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "platform/wide_text.h"
#include "ui/main_template.h"
#include "ui/resource.h"
#include "ui/text.h"
#include "ui/win32/dialog_template.h"

// After the program's own headers: <windows.h> defines names they use (EV_RXCHAR, and
// MessageBox as a macro).
#include <windows.h>
// The common controls and dialogs need <windows.h> first.
#include <commctrl.h>
#include <commdlg.h>
#undef MessageBox

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace orvante::ui::win32 {

namespace {

using platform::Utf8FromWide;
using platform::WideFromUtf8;

// The dialog's own message: other threads have delivered work.
constexpr UINT kDeliveryMessage = WM_APP + 1;
// The timer that brings the window thread back to a burst of deliveries, a batch at a
// time; far from the ids the logic uses for its timers.
constexpr UINT_PTR kComeBackTimer = 0x7F00;
constexpr UINT kComeBackMs = 2;  // raised by the system to its minimum, 10 ms
// Ids of the edit's own context-menu items, and of the ones added after them.
constexpr UINT kFirstAddedMenuItem = 0x1000;
constexpr UINT_PTR kEditSubclassId = 1;

constexpr DWORD kMainStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | DS_CENTER;
constexpr DWORD kAboutStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;

std::wstring ModuleBaseName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.resize(dot);
    return name;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

// The pixels a window has per logical inch: the monitor's under per-monitor awareness.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) return getDpiForWindow(window);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

// Position and size each scaled on its own, as the dialog manager places controls.
RECT DialogUnitsToPixels(HWND dialog, const DialogRect& rect) {
    RECT place{rect.x, rect.y, rect.w, rect.h};
    MapDialogRect(dialog, &place);
    return RECT{place.left, place.top, place.left + place.right, place.top + place.bottom};
}

bool HasClass(HWND window, std::wstring_view name) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return name == className;
}

bool IsOwnWindow(HWND dialog, HWND window) {
    return window == dialog || IsChild(dialog, window);
}

std::wstring FileFilter(const std::string& filter) {
    // "text|pattern|text|pattern|" becomes the pairs of NUL-ended strings the dialog takes.
    std::wstring wide = WideFromUtf8(filter);
    std::replace(wide.begin(), wide.end(), L'|', L'\0');
    wide.push_back(L'\0');
    return wide;
}

UINT BoxIconStyle(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::kStop:
            return MB_ICONSTOP;
        case BoxIcon::kInformation:
            return MB_ICONINFORMATION;
        case BoxIcon::kNone:
            break;
    }
    return 0;
}

UINT BoxButtonStyle(BoxButtons buttons) {
    return buttons == BoxButtons::kYesNo ? MB_YESNO : MB_OK;
}

int EscapeAnswer(BoxButtons buttons) {
    return buttons == BoxButtons::kYesNo ? IDNO : IDOK;
}

int BoxAnswer(int pressed, BoxButtons buttons) {
    if (pressed == IDYES || pressed == IDNO || pressed == IDOK) return pressed;
    return EscapeAnswer(buttons);
}

Win32Window* WindowOf(HWND dialog) {
    return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    }
    Win32Window* window = WindowOf(dialog);
    if (window == nullptr) return FALSE;
    const std::intptr_t result = window->HandleMessage(dialog, message, wParam, lParam);
    return static_cast<INT_PTR>(result);
}

LRESULT CALLBACK EditSubclassProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR owner) {
    auto* window = reinterpret_cast<Win32Window*>(owner);
    if (window->HandleEditMessage(edit, message, lParam)) return 0;
    return DefSubclassProc(edit, message, wParam, lParam);
}

// The box another thread shows: the hook sees it made, on that thread.
struct ForeignBoxWatch {
    Win32Window* window;
    std::uintptr_t escapeAnswer;
    HWND box = nullptr;
};
thread_local ForeignBoxWatch* foreignBoxWatch = nullptr;

LRESULT CALLBACK ForeignBoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && foreignBoxWatch != nullptr && foreignBoxWatch->box == nullptr) {
        auto* made = reinterpret_cast<HWND>(wParam);
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
        if (HasClass(made, L"#32770") && create->lpcs->hwndParent == nullptr) {
            foreignBoxWatch->box = made;
            foreignBoxWatch->window->RegisterForeignBox(made, foreignBoxWatch->escapeAnswer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct UnhookOnExit {
    HHOOK hook;
    ~UnhookOnExit() {
        if (hook != nullptr) UnhookWindowsHookEx(hook);
    }
};

struct MenuHandle {
    HMENU menu = CreatePopupMenu();
    ~MenuHandle() { DestroyMenu(menu); }
};

// The About box: the application's icon beside its name and version.
INT_PTR CALLBACK AboutDialogProc(HWND about, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto icon = reinterpret_cast<HICON>(lParam);
            SendMessageW(about, WM_SETICON, ICON_SMALL, lParam);
            for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                    SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
                }
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(about, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void Win32Window::DestroyIconHandle::operator()(HICON__* icon) const {
    DestroyIcon(icon);
}

void Win32Window::DeleteFontHandle::operator()(HFONT__* font) const {
    DeleteObject(font);
}

Win32Window::Win32Window() : applicationName_(ModuleBaseName()) {
    const DialogTemplate& layout = MainDialogTemplate();
    const std::vector<std::uint32_t> bytes =
        BuildDialogTemplate(layout, DialogFrame{kMainStyle, WS_EX_APPWINDOW});
    queue_.BindToCurrentThread();
    // WM_INITDIALOG sets dialog_ before this returns.
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                               reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), nullptr,
                               MainDialogProc, reinterpret_cast<LPARAM>(this));
    if (dialog_ == nullptr) throw std::runtime_error("the main window could not be made");
    if (layout.title.empty()) SetWindowTextW(dialog_, applicationName_.c_str());
    // Other threads queue work; the message loop drains it. A message posted after the
    // window is gone is dropped with it.
    queue_.SetNotifier([dialog = dialog_] { PostMessageW(dialog, kDeliveryMessage, 0, 0); });
}

Win32Window::~Win32Window() {
    queue_.SetNotifier({});
    // Anyone still waiting in Send is released while the window is whole.
    queue_.RunPending();
    for (const auto& [id, items] : editMenus_) {
        RemoveWindowSubclass(Control(id), EditSubclassProc, kEditSubclassId);
    }
    SetWindowLongPtrW(dialog_, DWLP_USER, 0);
    DestroyWindow(dialog_);
}

int Win32Window::Run() {
    if (!endResult_) {
        ShowWindow(dialog_, SW_SHOWNORMAL);
        SetForegroundWindow(dialog_);
    }
    MSG message;
    while (!endResult_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT: the loop that runs the program should see it too.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got < 0) break;
        const bool helpKey = message.message == WM_KEYDOWN && message.wParam == VK_F1;
        if (helpKey && IsOwnWindow(dialog_, message.hwnd)) {
            if (events_) events_->OnHelp();
            continue;
        }
        if (IsDialogMessageW(dialog_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return endResult_.value_or(IDCANCEL);
}

std::intptr_t Win32Window::HandleMessage(HWND dialog, unsigned message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
    switch (message) {
        case WM_INITDIALOG:
            dialog_ = dialog;
            PrepareControls();
            return TRUE;
        case kDeliveryMessage:
            RunDeliveries();
            return TRUE;
        case WM_TIMER:
            if (wParam == kComeBackTimer) {
                ::KillTimer(dialog_, kComeBackTimer);
                RunDeliveries();
            } else if (events_) {
                events_->OnTimer(static_cast<int>(wParam));
            }
            return TRUE;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if (!systemMenuCommands_.contains(static_cast<unsigned>(wParam & 0xFFF0))) return FALSE;
            if (events_) events_->OnSysCommand(static_cast<unsigned>(wParam));
            return TRUE;
        case WM_CLOSE:
            // The close box and Alt+F4 ask the logic; the window goes only by EndDialog.
            if (events_) events_->OnCancel();
            return TRUE;
        case WM_GETMINMAXINFO:
            SetMinimumTrackSize(lParam);
            return TRUE;
        case WM_SIZE:
            FitControlsToWindow();
            return TRUE;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(dialog_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            ApplySmallFont();
            // The pictures again, at the new monitor's scale.
            for (const auto& [id, icon] : shownIcons_) SetIcon(id, icon);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void Win32Window::Command(int id, unsigned code) {
    if (events_ == nullptr) return;
    // Enter with no push button focused, Escape: the dialog's own commands.
    if (id == IDOK && Control(IDOK) == nullptr) {
        events_->OnOK();
        return;
    }
    if (id == IDCANCEL && Control(IDCANCEL) == nullptr) {
        events_->OnCancel();
        return;
    }
    HWND control = Control(id);
    if (control == nullptr) return;
    // Only the operator's acts notify: a selection the program makes says nothing.
    if (HasClass(control, L"Button") && code == BN_CLICKED) events_->OnClicked(id);
    const bool list = HasClass(control, L"ComboBox");
    if (list && code == CBN_SELCHANGE) events_->OnSelectionChanged(id);
    if (list && code == CBN_DROPDOWN) events_->OnDropDown(id);
}

// Deliveries that come in a burst (a flood of frames on the line) are run a batch at
// each return of a short timer rather than one message each: the first runs at once.
// What a batch appends to an edit goes in once at its end: each append costs the edit
// a fixed time (about 15 ms under Wine on a display), and a batch of log entries would
// otherwise keep the window seconds behind the line.
//
// The come-back timer is set before the batch runs: a task that opens a box (the
// channel's, when a line is lost) runs the box's own message loop, which then goes on
// running what other threads deliver meanwhile, such as the end of a transfer.
void Win32Window::RunDeliveries() {
    ::SetTimer(dialog_, kComeBackTimer, kComeBackMs, nullptr);
    const bool outerBatch = std::exchange(collectingAppends_, true);
    const std::size_t ran = queue_.RunPendingAndComeBack();
    PutInCollectedAppends();
    collectingAppends_ = outerBatch;
    if (ran == 0) ::KillTimer(dialog_, kComeBackTimer);
}

void Win32Window::PutInCollectedAppends() {
    for (auto& [id, text] : collectedAppends_) {
        HWND edit = Control(id);
        if (edit == nullptr || text.empty()) continue;
        const std::wstring wide = WideFromUtf8(text);
        const WPARAM end = static_cast<WPARAM>(GetWindowTextLengthW(edit));
        SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
        SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    }
    collectedAppends_.clear();
}

HWND Win32Window::Control(int id) const {
    return GetDlgItem(dialog_, id);
}

// ---- layout -----------------------------------------------------------------------

// The log and the status fields follow the window's size, in pixels of the dialog's
// current font, so that it holds at every DPI.
void Win32Window::FitControlsToWindow() {
    RECT client{};
    GetClientRect(dialog_, &client);
    const auto toPixels = [this](const DialogRect& rect) {
        const RECT pixels = DialogUnitsToPixels(dialog_, rect);
        return PixelRect{pixels.left, pixels.top, pixels.right - pixels.left,
                         pixels.bottom - pixels.top};
    };
    for (const auto& [id, rect] : MainPlacesForSize(client.right, client.bottom, toPixels)) {
        MoveWindow(Control(id), rect.x, rect.y, rect.w, rect.h, TRUE);
    }
    // The dialog paints its background over its children (the group boxes need it to), so
    // the moved controls are painted again after it, not before.
    RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

SIZE Win32Window::DesignFrameSize() const {
    const DialogTemplate& layout = MainDialogTemplate();
    RECT frame = DialogUnitsToPixels(dialog_, {0, 0, layout.width, layout.height});
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog_, GWL_EXSTYLE)));
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// The design size is the smallest the window may be, also on a screen smaller than it
// (where the system would otherwise hold the window to the screen and cut the status
// fields off).
void Win32Window::SetMinimumTrackSize(std::intptr_t minMaxInfo) const {
    if (dialog_ == nullptr) return;
    const SIZE design = DesignFrameSize();
    auto* info = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
    info->ptMinTrackSize = POINT{design.cx, design.cy};
    info->ptMaxTrackSize.x = std::max(info->ptMaxTrackSize.x, design.cx);
    info->ptMaxTrackSize.y = std::max(info->ptMaxTrackSize.y, design.cy);
}

// The controls the template gives the small font get the dialog's font at 8 pt instead
// of 9: made from the dialog's own, so that it follows the DPI as the dialog font does.
void Win32Window::ApplySmallFont() {
    auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (dialogFont == nullptr || GetObjectW(dialogFont, sizeof font, &font) == 0) return;
    font.lfHeight = MulDiv(font.lfHeight, 8, kDialogPointSize);
    std::unique_ptr<HFONT__, DeleteFontHandle> made(CreateFontIndirectW(&font));
    if (!made) return;
    // The dialog's children are in the template's order; those with no id share -1.
    HWND child = GetWindow(dialog_, GW_CHILD);
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        if (child == nullptr) break;
        if (control.smallFont) {
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(made.get()), TRUE);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    smallFont_ = std::move(made);
}

void Win32Window::PrepareControls() {
    ApplySmallFont();
    // The items the template gives its lists, in its order (a dialog template has none).
    for (const TemplateList& list : MainTemplateLists()) {
        for (const std::string& item : list.items) AddString(list.id, item);
    }
    // The log holds what the logic keeps in it, beyond an edit's default 32767 characters.
    SendMessageW(Control(IDC_LOG), EM_SETLIMITTEXT, 0, 0);
    // Made before its smallest size was known: held to the screen, it may be smaller.
    RECT frame{};
    GetWindowRect(dialog_, &frame);
    const SIZE design = DesignFrameSize();
    if (frame.right - frame.left < design.cx || frame.bottom - frame.top < design.cy) {
        SetWindowPos(dialog_, nullptr, 0, 0, std::max(frame.right - frame.left, design.cx),
                     std::max(frame.bottom - frame.top, design.cy),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// ---- texts ------------------------------------------------------------------------

std::string Win32Window::GetText(int id) const {
    return OnWindowThread([&]() -> std::string {
        if (collectedAppends_.contains(id)) const_cast<Win32Window*>(this)->PutInCollectedAppends();
        HWND control = Control(id);
        return control ? Utf8FromWide(WindowText(control)) : std::string();
    });
}

void Win32Window::SetText(int id, const std::string& text) {
    OnWindowThread([&] {
        HWND control = Control(id);
        if (control == nullptr) return;
        // The new text replaces what was still to be appended.
        collectedAppends_.erase(id);
        // A drop-down list shows its selected item; its text is not set on its own.
        if (HasClass(control, L"ComboBox")) return;
        const std::wstring wide = WideFromUtf8(text);
        // A reply that repeats what a control shows (the address of every test-connection
        // answer) leaves it alone: no repaint for the same text.
        if (WindowText(control) != wide) SetWindowTextW(control, wide.c_str());
    });
}

std::size_t Win32Window::TextLength(int id) const {
    // Counts what is still to be appended without putting it in, so that the log's
    // look at its length before each entry does not end the batch.
    return OnWindowThread([&] {
        HWND control = Control(id);
        const std::size_t shown = control ? Cp936Length(Utf8FromWide(WindowText(control))) : 0;
        const auto collected = collectedAppends_.find(id);
        return shown + (collected != collectedAppends_.end() ? Cp936Length(collected->second) : 0);
    });
}

void Win32Window::AppendText(int id, const std::string& text) {
    OnWindowThread([&] {
        if (Control(id) == nullptr) return;
        collectedAppends_[id] += text;
        if (!collectingAppends_) PutInCollectedAppends();
    });
}

void Win32Window::LimitText(int id, int characters) {
    OnWindowThread([&] {
        // 0 lifts the limit, as for any edit.
        SendMessageW(Control(id), EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(characters, 0)), 0);
    });
}

// ---- state ------------------------------------------------------------------------

void Win32Window::EnableControl(int id, bool enable) {
    OnWindowThread([&] { EnableWindow(Control(id), enable ? TRUE : FALSE); });
}

bool Win32Window::IsControlEnabled(int id) const {
    return OnWindowThread([&] {
        HWND control = Control(id);
        return control != nullptr && IsWindowEnabled(control) != FALSE;
    });
}

void Win32Window::ShowControl(int id, bool show) {
    OnWindowThread([&] { ShowWindow(Control(id), show ? SW_SHOW : SW_HIDE); });
}

bool Win32Window::IsControlVisible(int id) const {
    // Whether it shows once the window does, whether the window is on screen yet or not.
    return OnWindowThread([&] {
        HWND control = Control(id);
        return control != nullptr && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    });
}

HICON Win32Window::Icon(IconId icon, int size) {
    auto [it, made] = icons_.try_emplace(IconKey{icon, size});
    if (made) {
        it->second.reset(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                       MAKEINTRESOURCEW(static_cast<int>(icon)),
                                                       IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
    }
    return it->second.get();
}

void Win32Window::SetIcon(int id, IconId icon) {
    OnWindowThread([&] {
        HWND picture = Control(id);
        if (picture == nullptr) return;
        RECT area{};
        GetClientRect(picture, &area);
        const int scale = static_cast<int>(WindowDpi(dialog_));
        const int large = MulDiv(32, scale, USER_DEFAULT_SCREEN_DPI);
        const int side = std::min(area.right, area.bottom) >= large
                             ? large
                             : MulDiv(16, scale, USER_DEFAULT_SCREEN_DPI);
        SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(Icon(icon, side)), 0);
        shownIcons_[id] = icon;
    });
}

void Win32Window::SetWindowIcon(IconId icon) {
    OnWindowThread([&] {
        SendMessageW(dialog_, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(Icon(icon, GetSystemMetrics(SM_CXICON))));
        SendMessageW(dialog_, WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(Icon(icon, GetSystemMetrics(SM_CXSMICON))));
    });
}

// ---- lists and check boxes ---------------------------------------------------------

void Win32Window::ResetContent(int id) {
    OnWindowThread([&] { SendMessageW(Control(id), CB_RESETCONTENT, 0, 0); });
}

int Win32Window::AddString(int id, const std::string& text) {
    // A list the template sorts (CBS_SORT) puts the item in order itself.
    return OnWindowThread([&] {
        HWND list = Control(id);
        if (list == nullptr) return -1;
        const std::wstring wide = WideFromUtf8(text);
        const LRESULT at =
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        return at < 0 ? -1 : static_cast<int>(at);
    });
}

int Win32Window::GetCount(int id) const {
    return OnWindowThread([&] {
        HWND list = Control(id);
        const LRESULT count = list ? SendMessageW(list, CB_GETCOUNT, 0, 0) : 0;
        return count < 0 ? 0 : static_cast<int>(count);
    });
}

std::string Win32Window::GetItemText(int id, int index) const {
    return OnWindowThread([&]() -> std::string {
        HWND list = Control(id);
        if (list == nullptr || index < 0) return {};
        const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length < 0) return {};
        std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
        const LRESULT copied = SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
        return Utf8FromWide(item);
    });
}

void Win32Window::SetCurSel(int id, int index) {
    // Tells no one: CBN_SELCHANGE comes only from the operator's choice. An index out of
    // range clears the selection (Windows does so itself, Wine keeps the old one).
    OnWindowThread([&] {
        HWND list = Control(id);
        const LRESULT count = list ? SendMessageW(list, CB_GETCOUNT, 0, 0) : 0;
        const WPARAM at =
            index >= 0 && index < count ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1);
        SendMessageW(list, CB_SETCURSEL, at, 0);
    });
}

int Win32Window::GetCurSel(int id) const {
    return OnWindowThread([&] {
        HWND list = Control(id);
        const LRESULT selected = list ? SendMessageW(list, CB_GETCURSEL, 0, 0) : CB_ERR;
        return selected < 0 ? -1 : static_cast<int>(selected);
    });
}

int Win32Window::GetCheck(int id) const {
    return OnWindowThread([&] {
        HWND box = Control(id);
        return box && SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    });
}

void Win32Window::SetCheck(int id, int state) {
    OnWindowThread([&] {
        SendMessageW(Control(id), BM_SETCHECK, state != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    });
}

// ---- boxes ------------------------------------------------------------------------

int Win32Window::MessageBox(const std::string& text, BoxButtons buttons) {
    return OnWindowThread([&] {
        PutInCollectedAppends();  // the log shows what led to it
        // Like a framework box with no icon asked for: OK warns, Yes/No asks.
        const UINT icon = buttons == BoxButtons::kYesNo ? MB_ICONQUESTION : MB_ICONWARNING;
        const int pressed = MessageBoxW(dialog_, WideFromUtf8(text).c_str(),
                                        applicationName_.c_str(), BoxButtonStyle(buttons) | icon);
        return BoxAnswer(pressed, buttons);
    });
}

int Win32Window::MessageBoxNoOwner(const std::string& text, const std::string& caption,
                                   BoxButtons buttons, BoxIcon icon) {
    const std::wstring wideText = WideFromUtf8(text);
    const std::wstring wideCaption = WideFromUtf8(caption);
    const UINT style = BoxButtonStyle(buttons) | BoxIconStyle(icon) | MB_SETFOREGROUND;
    if (queue_.IsWindowThread()) {
        PutInCollectedAppends();  // the log shows what led to it
        return BoxAnswer(MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), style),
                         buttons);
    }
    // Another thread: the box runs on that thread, so only it waits and the window stays
    // usable. A hook on the thread sees the box made and registers it, so that the
    // window's end can close it; once the window has ended none is shown.
    {
        std::lock_guard lock(foreignBoxesMutex_);
        if (ended_) return EscapeAnswer(buttons);
    }
    ForeignBoxWatch watch{this, static_cast<std::uintptr_t>(EscapeAnswer(buttons))};
    foreignBoxWatch = &watch;
    int pressed = 0;
    {
        const UnhookOnExit hook{
            SetWindowsHookExW(WH_CBT, ForeignBoxHook, nullptr, GetCurrentThreadId())};
        pressed = MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), style);
    }
    foreignBoxWatch = nullptr;
    if (watch.box != nullptr) ForgetForeignBox(watch.box);
    return BoxAnswer(pressed, buttons);
}

void Win32Window::RegisterForeignBox(HWND box, std::uintptr_t escapeAnswer) {
    std::lock_guard lock(foreignBoxesMutex_);
    // Posted: the box takes it once its own message loop runs.
    if (ended_) {
        PostMessageW(box, WM_COMMAND, escapeAnswer, 0);
        return;
    }
    foreignBoxes_.emplace_back(box, escapeAnswer);
}

void Win32Window::ForgetForeignBox(HWND box) {
    std::lock_guard lock(foreignBoxesMutex_);
    std::erase_if(foreignBoxes_, [box](const auto& entry) { return entry.first == box; });
}

void Win32Window::CloseForeignBoxes() {
    std::lock_guard lock(foreignBoxesMutex_);
    ended_ = true;
    for (const auto& [box, escapeAnswer] : foreignBoxes_) {
        PostMessageW(box, WM_COMMAND, escapeAnswer, 0);
    }
    foreignBoxes_.clear();
}

// ---- timers -------------------------------------------------------------------------

void Win32Window::SetTimer(int timerId, int milliseconds) {
    OnWindowThread([&] {
        ::SetTimer(dialog_, static_cast<UINT_PTR>(timerId),
                   static_cast<UINT>(std::max(milliseconds, 0)), nullptr);
    });
}

void Win32Window::KillTimer(int timerId) {
    OnWindowThread([&] { ::KillTimer(dialog_, static_cast<UINT_PTR>(timerId)); });
}

// ---- file dialogs -----------------------------------------------------------------

std::optional<std::string> Win32Window::RunFileDialog(bool save, const FileDialogOptions& options) {
    PutInCollectedAppends();  // the log shows what led to it
    const std::wstring filter = FileFilter(options.filter);
    const std::wstring initialDir = WideFromUtf8(options.initialDir);
    std::wstring suffix = WideFromUtf8(options.defaultSuffix);
    suffix.erase(0, suffix.find_first_not_of(L'.'));
    std::wstring chosen(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = dialog_;
    dialog.lpstrFilter = options.filter.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    dialog.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL accepted = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!accepted) return std::nullopt;
    chosen.resize(chosen.find(L'\0'));
    if (chosen.empty()) return std::nullopt;
    return Utf8FromWide(chosen);
}

std::optional<std::string> Win32Window::OpenFileDialog(const FileDialogOptions& options) {
    return OnWindowThread([&] { return RunFileDialog(false, options); });
}

std::optional<std::string> Win32Window::SaveFileDialog(const FileDialogOptions& options) {
    return OnWindowThread([&] { return RunFileDialog(true, options); });
}

// ---- menus ------------------------------------------------------------------------

void Win32Window::AppendSystemMenuSeparator() {
    OnWindowThread([&] { AppendMenuW(GetSystemMenu(dialog_, FALSE), MF_SEPARATOR, 0, nullptr); });
}

void Win32Window::AppendSystemMenuItem(unsigned command, const std::string& text) {
    OnWindowThread([&] {
        AppendMenuW(GetSystemMenu(dialog_, FALSE), MF_STRING, command, WideFromUtf8(text).c_str());
        systemMenuCommands_.insert(command & 0xFFF0);
    });
}

void Win32Window::AppendEditMenuItem(int id, unsigned command, const std::string& text) {
    OnWindowThread([&] {
        HWND edit = Control(id);
        if (edit == nullptr) return;
        std::vector<MenuItem>& items = editMenus_[id];
        // The edit shows its menu itself: it is subclassed to show ours instead.
        if (items.empty()) {
            SetWindowSubclass(edit, EditSubclassProc, kEditSubclassId,
                              reinterpret_cast<DWORD_PTR>(this));
        }
        items.push_back(MenuItem{command, WideFromUtf8(text)});
    });
}

bool Win32Window::HandleEditMessage(HWND edit, unsigned message, std::intptr_t lParam) {
    if (message != WM_CONTEXTMENU) return false;
    ShowEditMenu(edit, lParam);
    return true;
}

// The edit's own items (the texts a Chinese Windows gives them), then the added ones.
void Win32Window::ShowEditMenu(HWND edit, std::intptr_t screenPoint) {
    const int id = GetDlgCtrlID(edit);
    SetFocus(edit);
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool selection = start != end;
    const bool editable = (GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) == 0;
    const bool canPaste = editable && IsClipboardFormatAvailable(CF_UNICODETEXT);
    const bool hasText = GetWindowTextLengthW(edit) > 0;
    struct Standard {
        UINT command;
        const wchar_t* text;
        bool enabled;
    };
    const Standard standard[] = {
        {WM_UNDO, L"撤消(&U)", editable && SendMessageW(edit, EM_CANUNDO, 0, 0) != 0},
        {0, nullptr, false},
        {WM_CUT, L"剪切(&T)", editable && selection},
        {WM_COPY, L"复制(&C)", selection},
        {WM_PASTE, L"粘贴(&P)", canPaste},
        {WM_CLEAR, L"删除(&D)", editable && selection},
        {0, nullptr, false},
        {EM_SETSEL, L"全选(&A)",
         hasText && !(start == 0 && end == static_cast<DWORD>(GetWindowTextLengthW(edit)))},
    };
    const MenuHandle menu;
    for (const Standard& item : standard) {
        if (item.text == nullptr) {
            AppendMenuW(menu.menu, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu.menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED),
                        item.command, item.text);
        }
    }
    const std::vector<MenuItem>& added = editMenus_[id];
    AppendMenuW(menu.menu, MF_SEPARATOR, 0, nullptr);
    for (std::size_t i = 0; i < added.size(); ++i) {
        AppendMenuW(menu.menu, MF_STRING, kFirstAddedMenuItem + i, added[i].text.c_str());
    }
    POINT at{static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    if (screenPoint == -1) {
        // From the keyboard: at the edit's corner.
        at = POINT{0, 0};
        ClientToScreen(edit, &at);
    }
    const UINT chosen =
        static_cast<UINT>(TrackPopupMenu(menu.menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                         at.x, at.y, 0, dialog_, nullptr));
    if (chosen >= kFirstAddedMenuItem && chosen < kFirstAddedMenuItem + added.size()) {
        if (events_) events_->OnEditMenuCommand(id, added[chosen - kFirstAddedMenuItem].command);
    } else if (chosen == EM_SETSEL) {
        SendMessageW(edit, EM_SETSEL, 0, -1);
    } else if (chosen != 0) {
        SendMessageW(edit, chosen, 0, 0);
    }
}

// ---- dialogs ----------------------------------------------------------------------

int Win32Window::DoModalDialog(int templateId) {
    return OnWindowThread([&] {
        PutInCollectedAppends();  // the log shows what led to it
        if (templateId != IDD_ABOUTBOX) return IDCANCEL;
        const std::vector<std::uint32_t> bytes =
            BuildDialogTemplate(AboutDialogTemplate(ORVANTE_VERSION), DialogFrame{kAboutStyle, 0});
        const int side = MulDiv(32, static_cast<int>(WindowDpi(dialog_)), USER_DEFAULT_SCREEN_DPI);
        const INT_PTR result = DialogBoxIndirectParamW(
            GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), dialog_,
            AboutDialogProc, reinterpret_cast<LPARAM>(Icon(IconId::kApplication, side)));
        return result == IDOK ? IDOK : IDCANCEL;
    });
}

void Win32Window::EndDialog(int result) {
    OnWindowThread([&] {
        endResult_ = result;
        ShowWindow(dialog_, SW_HIDE);
        // Boxes that other threads still wait on go with the window, so that nothing
        // keeps the program from ending; their callers get the escape answer.
        CloseForeignBoxes();
        // Wakes the message loop, should this have come from outside it.
        PostMessageW(dialog_, WM_NULL, 0, 0);
    });
}

}  // namespace orvante::ui::win32
