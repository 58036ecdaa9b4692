// The console's main window on the Win32 API: the dialog of template 102, made from the
// window template as an in-memory dialog template and run modelessly, behind the
// window-framework interface. Any thread may call it; the controls are touched only on
// the window thread, the thread that made it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/delivery_queue.h"
#include "ui/framework.h"

// The Win32 handle types, without <windows.h> (whose macros collide with names of ours).
struct HWND__;
struct HFONT__;
struct HICON__;
struct tagSIZE;

namespace orvante::ui::win32 {

class Win32Window final : public Window {
public:
    // Made on, and bound to, the window thread. The window is hidden until Run.
    Win32Window();
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // Shows the window and runs its messages until EndDialog; returns EndDialog's result.
    int Run();
    std::optional<int> EndResult() const { return endResult_; }
    // The dialog's handle; for tests and automation.
    HWND__* Handle() const { return dialog_; }

    // Window
    void SetEvents(WindowEvents* events) override { events_ = events; }
    std::string GetText(int id) const override;
    void SetText(int id, const std::string& text) override;
    std::size_t TextLength(int id) const override;
    void AppendText(int id, const std::string& text) override;
    void LimitText(int id, int characters) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override;
    void ShowControl(int id, bool show) override;
    bool IsControlVisible(int id) const override;
    void SetIcon(int id, IconId icon) override;
    void ResetContent(int id) override;
    int AddString(int id, const std::string& text) override;
    int GetCount(int id) const override;
    std::string GetItemText(int id, int index) const override;
    void SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    int MessageBox(const std::string& text, BoxButtons buttons) override;
    int MessageBoxNoOwner(const std::string& text, const std::string& caption, BoxButtons buttons,
                          BoxIcon icon) override;
    void SetTimer(int timerId, int milliseconds) override;
    void KillTimer(int timerId) override;
    std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) override;
    std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) override;
    void SetWindowIcon(IconId icon) override;
    bool HasSystemMenu() const override { return true; }
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, const std::string& text) override;
    void AppendEditMenuItem(int id, unsigned command, const std::string& text) override;
    int DoModalDialog(int templateId) override;
    void EndDialog(int result) override;
    WindowThread& Thread() override { return queue_; }

    // The dialog's messages and those of the edits it adds menu items to; internal.
    std::intptr_t HandleMessage(HWND__* dialog, unsigned message, std::uintptr_t wParam,
                                std::intptr_t lParam);
    bool HandleEditMessage(HWND__* edit, unsigned message, std::intptr_t lParam);
    // A box shown for another thread was made (`box`) or has gone (nullptr).
    void RegisterForeignBox(HWND__* box, std::uintptr_t escapeAnswer);
    void ForgetForeignBox(HWND__* box);

private:
    struct IconKey {
        IconId icon;
        int size;
        auto operator<=>(const IconKey&) const = default;
    };
    struct DestroyIconHandle {
        void operator()(HICON__* icon) const;
    };
    struct DeleteFontHandle {
        void operator()(HFONT__* font) const;
    };
    struct MenuItem {
        unsigned command;
        std::wstring text;
    };

    template <class Work>
    auto OnWindowThread(Work&& work) const {
        return RunOnWindowThread(queue_, std::forward<Work>(work));
    }
    HWND__* Control(int id) const;
    void RunDeliveries();
    void PutInCollectedAppends();
    void Command(int id, unsigned code);
    void FitControlsToWindow();
    void PrepareControls();
    void ApplySmallFont();
    // The window's outer size at the design size of its client area, in pixels.
    ::tagSIZE DesignFrameSize() const;
    void SetMinimumTrackSize(std::intptr_t minMaxInfo) const;
    HICON__* Icon(IconId icon, int size);
    void ShowEditMenu(HWND__* edit, std::intptr_t screenPoint);
    std::optional<std::string> RunFileDialog(bool save, const FileDialogOptions& options);
    void CloseForeignBoxes();

    HWND__* dialog_ = nullptr;
    mutable DeliveryQueue queue_;  // sends from const getters called on other threads
    WindowEvents* events_ = nullptr;
    std::optional<int> endResult_;
    std::wstring applicationName_;  // captions the boxes over the window
    std::set<unsigned> systemMenuCommands_;
    std::map<int, std::vector<MenuItem>> editMenus_;  // items added to edits' menus, by id
    std::map<IconKey, std::unique_ptr<HICON__, DestroyIconHandle>> icons_;
    std::map<int, IconId> shownIcons_;  // what each picture control shows, by id
    // Text appended to edits while a batch of deliveries runs, put in at its end.
    bool collectingAppends_ = false;
    std::map<int, std::string> collectedAppends_;
    std::unique_ptr<HFONT__, DeleteFontHandle> smallFont_;

    // Boxes with no owner that other threads show, with the answer that closes each.
    std::mutex foreignBoxesMutex_;
    bool ended_ = false;  // under foreignBoxesMutex_: no box may stay open from here on
    std::vector<std::pair<HWND__*, std::uintptr_t>> foreignBoxes_;
};

}  // namespace orvante::ui::win32
