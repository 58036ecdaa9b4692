// The window-framework layer: everything the window logic needs from its window,
// addressed by control id. Three backends implement it: the Qt window (ui/qt/), the
// Win32 window (ui/win32/) and the in-memory window of the tests. All texts are UTF-8.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/window_thread.h"

namespace orvante::ui {

// Message box results and styles.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kStop, kInformation };

// Icon resources.
enum class IconId { kNone = 0, kApplication = 128, kIndicatorOff = 130, kIndicatorOn = 131 };

struct FileDialogOptions {
    std::string filter;      // e.g. "码库文件 (*.db)|*.db|所有文件 (*.*)|*.*|"
    std::string initialDir;  // empty: the backend's choice
    std::string defaultSuffix;
};

// What the window reports to its logic, always on the window thread.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void OnClicked(int id) = 0;
    virtual void OnSelectionChanged(int id) = 0;
    virtual void OnTimer(int timerId) = 0;
    virtual void OnOK() = 0;                          // Enter, the default button
    virtual void OnCancel() = 0;                      // Escape, the close box
    virtual void OnSysCommand(unsigned command) = 0;  // window menu items
    // A drop-down list is about to open, so its items may still be changed. Only the
    // operator's opening reports this. Default: nothing.
    virtual void OnDropDown(int /*id*/) {}
    // The operator asked for help (F1). Default: nothing.
    virtual void OnHelp() {}
    // An item that AppendEditMenuItem added to an edit's context menu was chosen.
    // Default: nothing.
    virtual void OnEditMenuCommand(int /*id*/, unsigned /*command*/) {}
};

class Window {
public:
    virtual ~Window() = default;

    virtual void SetEvents(WindowEvents* events) = 0;

    // Control texts. TextLength counts code-page-936 bytes (two per Chinese character).
    virtual std::string GetText(int id) const = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::size_t TextLength(int id) const = 0;
    // Appends at the end of an edit's text, caret after it and scrolled into view,
    // without an undo record.
    virtual void AppendText(int id, const std::string& text) = 0;
    // Most characters the operator can type or paste into an edit.
    virtual void LimitText(int id, int characters) = 0;

    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) const = 0;
    virtual void ShowControl(int id, bool show) = 0;
    virtual bool IsControlVisible(int id) const = 0;
    virtual void SetIcon(int id, IconId icon) = 0;

    // Drop-down lists; indexes count from 0, -1 is no selection. AddString on a
    // sorted list inserts in order and returns the index the item took.
    virtual void ResetContent(int id) = 0;
    virtual int AddString(int id, const std::string& text) = 0;
    virtual int GetCount(int id) const = 0;
    virtual std::string GetItemText(int id, int index) const = 0;
    virtual void SetCurSel(int id, int index) = 0;
    virtual int GetCurSel(int id) const = 0;

    // Check boxes: 1 ticked, 0 not.
    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int state) = 0;

    // A box over the window, captioned with the application name; window thread only.
    virtual int MessageBox(const std::string& text, BoxButtons buttons) = 0;
    // A box with no owner window; any thread; blocks only the calling thread. One shown
    // for another thread goes when the window ends (EndDialog), and none is shown after
    // that: the caller then gets the escape answer (OK, or No).
    virtual int MessageBoxNoOwner(const std::string& text, const std::string& caption,
                                  BoxButtons buttons, BoxIcon icon) = 0;

    // Window timers: OnTimer every period until killed; setting again restarts it.
    virtual void SetTimer(int timerId, int milliseconds) = 0;
    virtual void KillTimer(int timerId) = 0;

    // File choice; nothing when the operator cancels.
    virtual std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) = 0;
    virtual std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) = 0;

    // The window's own icon, and its window menu (the title bar's menu; on Linux the
    // window's context menu). HasSystemMenu is false where the window has none.
    virtual void SetWindowIcon(IconId icon) = 0;
    virtual bool HasSystemMenu() const = 0;
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(unsigned command, const std::string& text) = 0;

    // Adds an item to the context menu of edit `id`, after the edit's own items (copy,
    // select all, ...); choosing it reports OnEditMenuCommand(id, command).
    virtual void AppendEditMenuItem(int id, unsigned command, const std::string& text) = 0;

    // Runs another dialog of the program modally (template 100: the About box) and
    // returns its result.
    virtual int DoModalDialog(int templateId) = 0;

    // Closes the window with a result.
    virtual void EndDialog(int result) = 0;

    virtual WindowThread& Thread() = 0;
};

}  // namespace orvante::ui
