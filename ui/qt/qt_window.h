// The console's main window on Qt Widgets: the dialog of template 102 with every control
// addressed by its id, behind the window-framework interface.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/delivery_queue.h"
#include "ui/framework.h"

class QApplication;

namespace orvante::ui::qt {

// The look of a classic Windows dialog for the whole program: the "Windows" style, its
// grey palette and the dialog font. Call once, before any window is made.
void ApplyClassicLook(QApplication& app);

// Qt's own texts (file dialogs, standard buttons, the edits' context menus) in Chinese,
// like the rest of the window, from Qt's installed translations; the application keeps
// them. False, and Qt's English texts, when those translations are not installed.
bool InstallQtChineseTexts(QApplication& app);

// The dialog font, "宋体" 9 pt, with CJK fonts found on Linux behind it.
QFont DialogFont();

class QtWindow final : public QDialog, public Window {
    Q_OBJECT

public:
    // Made on, and bound to, the GUI thread.
    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    // Shows the window and runs it until EndDialog; returns EndDialog's result.
    int Run();
    std::optional<int> EndResult() const { return endResult_; }

    // The widget of a control, or nullptr; for tests and automation.
    QWidget* Control(int id) const;

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

    // QDialog: Escape and every other way of rejecting go to the logic's OnCancel.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Runs `work` on the window thread, here at once or there through a synchronous
    // delivery, the way a sent message reaches a control from any thread.
    template <class Work>
    auto OnWindowThread(Work&& work) const;
    template <class Widget>
    Widget* Find(int id) const;

    void ConnectNotifications();
    void RunDeliveries();
    // The edit's own context menu, then the items added to it.
    void ShowEditMenu(int id, QPoint position);

    struct MenuItem {
        bool separator;
        unsigned command;
        QString text;
    };

    mutable DeliveryQueue queue_;  // sends from const getters called on other threads
    QTimer comeBack_;              // runs deliveries again after a batch (RunDeliveries)
    WindowEvents* events_ = nullptr;
    std::unordered_map<int, QWidget*> controls_;  // owned by their parent widgets
    std::map<int, QTimer> timers_;
    std::vector<MenuItem> systemMenu_;
    // Items added to edits' context menus, by edit id.
    std::map<int, std::vector<MenuItem>> editMenus_;
    std::optional<int> endResult_;
    // Boxes with no owner shown for other threads and not yet closed.
    std::vector<QPointer<QMessageBox>> foreignBoxes_;
};

}  // namespace orvante::ui::qt
