// The in-memory window backend for tests: controls are plain records, message boxes
// are recorded and answered from a script, timers and file dialogs are driven by the
// test, and the test's own thread is the window thread, pumping deliveries.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ui/delivery_queue.h"
#include "ui/framework.h"

namespace orvante::test {

struct FakeControl {
    std::string text;
    std::vector<std::string> items;
    int curSel = -1;
    bool sorted = false;
    int check = 0;
    bool enabled = true;
    bool visible = true;
    int limit = 0;  // 0: no limit
    ui::IconId icon = ui::IconId::kNone;
};

struct FileDialogCall {
    bool save;
    ui::FileDialogOptions options;
};

struct RecordedBox {
    std::string text;
    std::string caption;  // empty for boxes captioned with the application name
    ui::BoxButtons buttons;
    ui::BoxIcon icon;
    bool owned;  // over the window (true) or with no owner (false)
    bool onWindowThread;
};

class FakeWindow final : public ui::Window {
public:
    FakeWindow();

    // Test side: set-up and inspection.
    // Gives the controls what the main window's template gives them: the lists and
    // their items, the sorted port list, the hidden controls and the initial texts.
    void LoadMainTemplate();
    FakeControl& Control(int id);
    void MakeSortedCombo(int id) { Control(id).sorted = true; }
    // The answer of the next box (then IDOK for OK boxes and IDYES for Yes/No boxes).
    void AnswerNextBox(int answer);
    std::vector<RecordedBox> Boxes() const;
    void ClearBoxes();
    void AnswerNextFileDialog(std::optional<std::string> path);
    const std::vector<FileDialogCall>& FileDialogs() const { return fileDialogs_; }
    // From now on a box with no owner shown for another thread stays open, its caller
    // waiting, until ReleaseHeldBoxes or EndDialog, like a box the operator has not
    // closed yet.
    void HoldOwnerlessBoxes() { holdBoxes_ = true; }
    std::size_t HeldBoxes() const;
    void ReleaseHeldBoxes();
    // The next box with no owner shown on the window thread stays open while `whileOpen`
    // runs there, as the operator leaves it open; the box is closed when it returns.
    // Nothing else runs on the window thread meanwhile unless `whileOpen` pumps.
    void WhileNextWindowBoxIsOpen(std::function<void()> whileOpen) {
        whileWindowBoxOpen_ = std::move(whileOpen);
    }
    std::optional<int> TimerPeriod(int timerId) const;  // nothing when not running
    void FireTimer(int timerId);                        // as if the period had passed
    // The operator's actions.
    void Click(int id);
    void SelectItem(int id, int index);
    void OpenList(int id) {
        if (events_) events_->OnDropDown(id);
    }
    // Typing: like SetText, but cut at the control's limit, as the edit would.
    void Type(int id, const std::string& text);
    std::optional<int> EndResult() const { return endResult_; }
    ui::IconId WindowIcon() const { return windowIcon_; }
    // Items of the window menu: {command, text}; a separator is {0, ""}.
    const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return systemMenu_; }
    const std::vector<int>& DialogsRun() const { return dialogsRun_; }
    // Items added to edits' context menus: {edit id, command, text}.
    struct EditMenuItem {
        int id;
        unsigned command;
        std::string text;
    };
    const std::vector<EditMenuItem>& EditMenu() const { return editMenu_; }
    // The operator chooses an item of an edit's context menu.
    void ChooseEditMenuItem(int id, unsigned command) {
        if (events_) events_->OnEditMenuCommand(id, command);
    }
    // Told of every box over the window and every change of a control's text or icon, in
    // the order they happen: "box <text>", "text <id> <text set or appended>", "icon <id>".
    void WatchChanges(std::function<void(const std::string&)> watcher) {
        watcher_ = std::move(watcher);
    }

    // Runs what other threads delivered; returns how many tasks ran.
    std::size_t Pump() { return queue_.RunPending(); }
    // Waits, without running it, until another thread has delivered something.
    bool WaitForDelivery(std::chrono::milliseconds timeout) { return queue_.WaitForTask(timeout); }
    // Pumps until `condition` holds or the timeout passes; returns whether it holds.
    bool PumpUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // ui::Window
    void SetEvents(ui::WindowEvents* events) override { events_ = events; }
    std::string GetText(int id) const override;
    void SetText(int id, const std::string& text) override;
    std::size_t TextLength(int id) const override;
    void AppendText(int id, const std::string& text) override;
    void LimitText(int id, int characters) override;
    void EnableControl(int id, bool enable) override;
    bool IsControlEnabled(int id) const override;
    void ShowControl(int id, bool show) override;
    bool IsControlVisible(int id) const override;
    void SetIcon(int id, ui::IconId icon) override;
    void ResetContent(int id) override;
    int AddString(int id, const std::string& text) override;
    int GetCount(int id) const override;
    std::string GetItemText(int id, int index) const override;
    void SetCurSel(int id, int index) override;
    int GetCurSel(int id) const override;
    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    int MessageBox(const std::string& text, ui::BoxButtons buttons) override;
    int MessageBoxNoOwner(const std::string& text, const std::string& caption,
                          ui::BoxButtons buttons, ui::BoxIcon icon) override;
    void SetTimer(int timerId, int milliseconds) override;
    void KillTimer(int timerId) override;
    std::optional<std::string> OpenFileDialog(const ui::FileDialogOptions& options) override;
    std::optional<std::string> SaveFileDialog(const ui::FileDialogOptions& options) override;
    void SetWindowIcon(ui::IconId icon) override { windowIcon_ = icon; }
    bool HasSystemMenu() const override { return true; }
    void AppendSystemMenuSeparator() override { systemMenu_.push_back({0, ""}); }
    void AppendSystemMenuItem(unsigned command, const std::string& text) override {
        systemMenu_.push_back({command, text});
    }
    void AppendEditMenuItem(int id, unsigned command, const std::string& text) override {
        editMenu_.push_back({id, command, text});
    }
    int DoModalDialog(int templateId) override {
        dialogsRun_.push_back(templateId);
        return ui::IDOK;
    }
    void EndDialog(int result) override;
    ui::WindowThread& Thread() override { return queue_; }

private:
    const FakeControl* Find(int id) const;
    int RecordBox(RecordedBox box);
    void Tell(const std::string& change) {
        if (watcher_) watcher_(change);
    }
    std::optional<std::string> NextFileAnswer();

    ui::DeliveryQueue queue_;
    ui::WindowEvents* events_ = nullptr;
    std::map<int, FakeControl> controls_;
    std::map<int, int> timers_;
    std::optional<int> endResult_;
    ui::IconId windowIcon_ = ui::IconId::kNone;
    std::vector<std::pair<unsigned, std::string>> systemMenu_;
    std::vector<EditMenuItem> editMenu_;
    std::vector<int> dialogsRun_;
    std::function<void(const std::string&)> watcher_;  // window thread only
    std::function<void()> whileWindowBoxOpen_;         // window thread only

    std::vector<FileDialogCall> fileDialogs_;

    mutable std::mutex boxMutex_;  //!< Protects the box and file answers and the held boxes
    std::condition_variable boxesReleased_;
    std::vector<RecordedBox> boxes_;
    std::deque<int> boxAnswers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::atomic<bool> holdBoxes_{false};
    std::size_t heldBoxes_ = 0;
    std::uint64_t releases_ = 0;
    bool ended_ = false;
};

}  // namespace orvante::test
